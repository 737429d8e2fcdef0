#include "fit/delay.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace cfit {

namespace {

constexpr int kMinimumPoints = 10;
// Hysteresis of the small-signal flag on |a| |b| of a point pair: the phase
// of a signal near zero is noise.
constexpr double kSmallSignalOn = 1e-6;
constexpr double kSmallSignalOff = 1e-4;
constexpr double kRoughnessLimit = 0.5;
constexpr double kMinimumSpanShare = 0.2;
constexpr double kGuardPeriods = 5.0;

}  // namespace

Result<double> EstimateDelay(const FitSeries& series) {
  const int count = series.size();
  if (count < kMinimumPoints) return ErrorCode::kInconsistentData;

  // Phase increments of consecutive pairs, from the pair (second, third).
  struct Step {
    double df;
    double dphi;
  };
  std::vector<Step> steps;
  steps.reserve(static_cast<std::size_t>(count));
  bool small = false;
  double phase = 0.0;
  double span = 0.0;
  for (int k = 2; k < count; ++k) {
    const Complex a = series.value[k - 1];
    const Complex b = series.value[k];
    const double product = Abs(a) * Abs(b);
    if (product < kSmallSignalOn) small = true;
    if (product > kSmallSignalOff) small = false;
    if (small) continue;
    // sin of the angle between a and b; rounding may push it past +-1.
    const double sine = std::clamp((a.re * b.im - a.im * b.re) / product, -1.0, 1.0);
    const Step step{series.frequency[k] - series.frequency[k - 1], std::asin(sine)};
    phase += step.dphi;
    span += step.df;
    steps.push_back(step);
  }
  double tau = 0.0;
  if (span != 0.0) {
    const double slope = phase / span;  // radians per hertz
    const double tau0 = -slope / (2.0 * std::numbers::pi);
    double deviation = 0.0;
    double width = 0.0;
    for (const Step& s : steps) {
      if (s.dphi == 0.0) continue;
      const double r = s.dphi / s.df - slope;
      deviation += s.df * r * r;
      width += s.df;
    }
    // A phase that wanders around its mean slope is no pure delay; the
    // estimate is shortened by its roughness and by a guard of five periods
    // of the highest frequency, so that a removed delay never overshoots
    // (an overshoot would make the remaining curve non-causal).
    const double roughness = std::sqrt(deviation / width) / std::fabs(slope);
    const double fLast = series.frequency.back();
    const double guard = kGuardPeriods / fLast;
    // A NaN roughness (flat phase) counts as too rough.
    if (roughness < kRoughnessLimit && width > kMinimumSpanShare * fLast &&
        (kRoughnessLimit - roughness) * tau0 > guard) {
      tau = tau0 * (1.0 - roughness) - guard;
    }
  }
  return tau;
}

void ApplyDelay(FitSeries& series, double tau, bool forward) {
  if (!(tau > 0.0)) return;
  const double sign = forward ? 1.0 : -1.0;
  for (int k = 0; k < series.size(); ++k) {
    series.value[k] = series.value[k] *
                      Exp(Complex(0.0, sign * 2.0 * std::numbers::pi * series.frequency[k] * tau));
  }
}

}  // namespace cfit
