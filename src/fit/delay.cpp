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

double EstimateDelay(FitterState& state, int i, int j) {
  const auto& points = state.data->points();
  if (static_cast<int>(points.size()) < kMinimumPoints) {
    state.error.Record(ErrorCode::kInconsistentData);
    return 0.0;
  }

  // Phase increments of consecutive pairs, from the pair (second, third).
  struct Step {
    double df;
    double dphi;
  };
  std::vector<Step> steps;
  steps.reserve(points.size());
  bool small = false;
  double phase = 0.0;
  double span = 0.0;
  for (std::size_t k = 2; k < points.size(); ++k) {
    const Complex a = points[k - 1].Get(i, j);
    const Complex b = points[k].Get(i, j);
    const double product = Abs(a) * Abs(b);
    if (product < kSmallSignalOn) small = true;
    if (product > kSmallSignalOff) small = false;
    if (small) continue;
    // sin of the angle between a and b; rounding may push it past +-1.
    const double sine = std::clamp((a.re * b.im - a.im * b.re) / product, -1.0, 1.0);
    const Step step{points[k].frequency() - points[k - 1].frequency(), std::asin(sine)};
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
    const double roughness = std::sqrt(deviation / width) / std::fabs(slope);
    const double fLast = points.back().frequency();
    const double guard = kGuardPeriods / fLast;
    // A NaN roughness (flat phase) counts as too rough.
    if (roughness < kRoughnessLimit && width > kMinimumSpanShare * fLast &&
        (kRoughnessLimit - roughness) * tau0 > guard) {
      tau = tau0 * (1.0 - roughness) - guard;
    }
  }
  FittedModel* model = state.model.get();
  if (model != nullptr && !model->delay.empty() && i < model->n && j < model->n) {
    model->delay[model->Index(i, j)] = tau;
    if (state.symmetric) model->delay[model->Index(j, i)] = tau;
  }
  return tau;
}

void ApplyDelay(FitterState& state, int i, int j, double tau, bool forward) {
  if (!(tau > 0.0)) return;
  const double sign = forward ? 1.0 : -1.0;
  for (PortMatrix& point : state.data->points()) {
    const Complex rotated =
        point.Get(i, j) *
        Exp(Complex(0.0, sign * 2.0 * std::numbers::pi * point.frequency() * tau));
    point.Set(i, j, rotated);
    if (state.symmetric) point.Set(j, i, rotated);
  }
}

}  // namespace cfit
