#include "fit/fit_basis.h"

#include <cmath>
#include <numbers>

namespace cfit {

namespace {
// Down-weighting of the rows of points added above the band.
constexpr double kAddedRowWeight = 0.2;
}  // namespace

Complex FittedQuantity(const FitterState& state, const PortMatrix& point) {
  if (!state.settings.individualPoles) {
    Complex sum;
    const int n = point.order();
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        if ((i + j) % 2 == 0) {
          sum += point.At(i, j);
        } else {
          sum -= point.At(i, j);
        }
      }
    }
    return sum;
  }
  return point.Get(state.fit.row, state.fit.column);
}

Complex PulseSpectrum(double f, double tau) {
  if (f == 0.0) return {tau, 0.0};
  const double w = 2.0 * std::numbers::pi * f;
  return {std::sin(w * tau) / w, -(1.0 - std::cos(w * tau)) / w};
}

bool NearPulseSpectrumZero(double f, double tau) {
  if (!(tau > 0.0)) return false;
  const double period = 1.0 / tau;
  const double r = std::fmod(f, period);
  return f >= 0.85 * period && (r > 0.85 * period || r < 0.15 * period);
}

int BasisColumnCount(const PoleList& poles) {
  int count = 0;
  for (const PoleTerm& p : poles) count += p.IsReal() ? 1 : 2;
  return count;
}

void PoleBasis(const PoleList& poles, double f, Complex* out) {
  const Complex s(0.0, f);
  for (const PoleTerm& p : poles) {
    const Complex q = p.GetPole();
    const Complex b1 = 1.0 / (s - q);
    if (p.IsReal()) {
      *out++ = b1;
    } else {
      const Complex b2 = 1.0 / (s - Conj(q));
      *out++ = b1 + b2;
      *out++ = Complex(0.0, 1.0) * (b1 - b2);
    }
  }
}

int FittedAsymptoteMode(const FitterState& state) {
  if (state.elements == nullptr) return kConstant;
  if (!state.settings.individualPoles) return state.elements->AsymptoteModeAt(0, 0);
  return state.elements->AsymptoteModeAt(state.fit.row, state.fit.column, state.fit.row,
                                         state.fit.column);
}

bool FittedDcConstrained(const FitterState& state) {
  if (state.elements == nullptr) return false;
  if (!state.settings.individualPoles) return state.elements->DcFlagAt(0, 0) == 0;
  return state.elements->DcFlagAt(state.fit.row, state.fit.column, state.fit.row,
                                  state.fit.column) == 0;
}

int FirstAddedPoint(const SampledData& data) { return data.point_count() - data.marked_count(); }

double RowWeight(const FitterState& state, int k) {
  if (state.fit.rowWeighting && k >= FirstAddedPoint(*state.data)) return kAddedRowWeight;
  return 1.0;
}

}  // namespace cfit
