#include "passivity/pole_augmentation.h"

#include <algorithm>
#include <cmath>

namespace cfit {

namespace {

// A pair is stored as its pole with the negative imaginary part.
void AddPairs(double f, std::span<const double> dampings, std::vector<Complex>* poles) {
  for (double z : dampings) poles->push_back(Complex(z * f, -std::sqrt(1.0 - z * z) * f));
}

// Inserts terms with zero residues before those that stand for the constant.
void Insert(PoleList& list, int n, const std::vector<Complex>& poles) {
  auto at = std::find_if(list.begin(), list.end(),
                         [](const PoleTerm& t) { return Abs(t.GetPole()) >= kConstantPoleBound; });
  for (const Complex& p : poles) {
    PoleTerm t(n);
    t.SetPole(p);
    at = list.insert(at, t) + 1;
  }
}

}  // namespace

std::vector<Complex> AddPolesForBands(Model& model, const std::vector<CertifiedBand>& bands,
                                      double low, double high, std::span<const double> dampings,
                                      int farPoles) {
  std::vector<Complex> poles;
  if (!(low > 0.0) || !(high >= low)) return poles;
  for (const CertifiedBand& band : bands) {
    const double below = std::min(band.to, low);
    if (band.from < below) {
      double f = band.worstAt;
      if (!(f > band.from && f < below))
        f = band.from > 0.0 ? std::sqrt(band.from * below) : below / 2;
      AddPairs(f, dampings, &poles);
    }
    const double above = std::max(band.from, high);
    if (above < band.to) {
      double f = band.worstAt;
      if (!(f > above && f < band.to)) {
        f = std::isinf(band.to) ? 2.0 * above : std::sqrt(above * band.to);
      }
      AddPairs(f, dampings, &poles);
      poles.push_back(Complex(f, 0.0));
      if (std::isinf(band.to)) {
        for (int k = 1; k <= farPoles; ++k) poles.push_back(Complex(std::ldexp(high, k), 0.0));
      }
    }
  }
  if (poles.empty()) return poles;
  if (model.individual()) {
    for (PoleList& list : model.elementPoles) {
      if (!list.empty()) Insert(list, 1, poles);
    }
  } else {
    Insert(model.commonPoles, model.n, poles);
  }
  model.id.Renew();
  return poles;
}

}  // namespace cfit
