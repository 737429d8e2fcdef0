#include "fit/fit_basis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace cfit {

namespace {
// Points added above the band only steer the roll-off; they must not
// outweigh the measured points.
constexpr double kAddedRowWeight = 0.2;
}  // namespace

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

double RowWeight(const FitSeries& series, const FitOptions& options, int k) {
  if (options.extendedFit && k >= series.sampled) return kAddedRowWeight;
  return 1.0;
}

double LargestMagnitude(std::span<const Complex> values) {
  double largest = 0.0;
  for (const Complex& v : values) largest = std::max(largest, Abs(v));
  return largest;
}

}  // namespace cfit
