#include "network/rlc_model.h"

#include <cmath>

#include "core/network.h"
#include "network/model_access.h"

namespace cfit {

namespace {

constexpr double kTwoPi = 6.283185307179586;
// The stand-in for w = 0, and the band around 0 (both times 1/(LC)) within
// which the admittance model takes it: there two real poles a1, a2 would
// hold residues of opposite sign and size 1/(L (a1 - a2)), whose rounding
// (about 3e-15 LC / |w| relative) exceeds the stand-in's own error of 1e-6.
constexpr double kCriticalStandIn = 1e-6;
constexpr double kCriticalWindow = 1e-8;
constexpr double kZeroPole = 1e-10;

bool Valid(double x) { return std::isfinite(x) && x > 0.0; }

// The pole terms of gain * s / (s^2 + 2 a s + 1/(LC)). A w of 0, or within
// `window` / (LC) of 0, becomes the stand-in.
void AddSecondOrder(double a, double l, double c, double gain, double window, RLCTerms& terms) {
  double w = 1.0 / (l * c) - a * a;
  if (w == 0.0 || std::abs(w) < window / (l * c)) w = kCriticalStandIn / (l * c);
  if (w > 0.0) {
    const double q = std::sqrt(w);
    terms.poles.push_back({a / kTwoPi, -q / kTwoPi});
    terms.residues.push_back({0.0, gain / q});
    return;
  }
  const double q = std::sqrt(-w), a1 = a + q, a2 = a - q;
  terms.poles.push_back({a1 / kTwoPi, 0.0});
  terms.residues.push_back({gain / (a1 - a2), 0.0});
  terms.poles.push_back({a2 / kTwoPi, 0.0});
  terms.residues.push_back({gain / (a2 - a1), 0.0});
}

}  // namespace

Result<RLCTerms> RLCModelTerms(double r, double l, double c, int type) {
  if (!Valid(r) || !Valid(l) || !Valid(c)) return ErrorCode::kInvalidRLC;
  RLCTerms terms;
  switch (type) {
    case kZ:
      terms.referenceImpedance = r;
      terms.constant = r;
      terms.proportional = kTwoPi * l;
      terms.poles.push_back({kZeroPole, 0.0});
      terms.residues.push_back({1.0 / (kZeroPole * kTwoPi * c), 0.0});
      return terms;
    case kY:
      terms.referenceImpedance = r;
      AddSecondOrder(r / (2.0 * l), l, c, 1.0 / l, kCriticalWindow, terms);
      return terms;
    case kS: {
      const double critical = (2.0 * r / l) * (2.0 * r / l) * l * c;
      const double z0 = std::abs(critical - 4.0) < 1e-6 ? 2.0 * r : r;
      terms.referenceImpedance = z0;
      terms.constant = 1.0;
      AddSecondOrder((r + z0) / (2.0 * l), l, c, -2.0 * z0 / l, 0.0, terms);
      return terms;
    }
    default: return ErrorCode::kCannotTransform;
  }
}

Status BuildRLCModel(FitterState& state, double r, double l, double c, int type) {
  const Result<RLCTerms> terms = RLCModelTerms(r, l, c, type);
  if (!terms.ok()) return terms.failure();
  const Status defined = DefineModel(state, 1, type, &terms->referenceImpedance, true);
  if (!defined.ok()) return defined;
  std::vector<double> poles, residues;
  for (std::size_t k = 0; k < terms->poles.size(); ++k) {
    poles.insert(poles.end(), {terms->poles[k].re, terms->poles[k].im});
    residues.insert(residues.end(), {terms->residues[k].re, terms->residues[k].im});
  }
  const int count = static_cast<int>(terms->poles.size());
  if (SetElementModel(*state.model, 0, 0, count, terms->constant, terms->proportional, 0.0,
                      poles.data(), residues.data()) != ElementStore::kStored) {
    return Failure::Silent();
  }
  state.settings.individualPoles = true;
  return Success();
}

}  // namespace cfit
