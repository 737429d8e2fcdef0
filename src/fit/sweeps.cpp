#include "fit/sweeps.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "fit/model_evaluation.h"

namespace cfit {

namespace {

constexpr double kMaxLinearSteps = 1e8;

// Starts an empty set in place of the data.
std::unique_ptr<SampledData> NewSet(const FitterState& state) {
  return std::make_unique<SampledData>(state.model->n);
}

void AppendPoint(const FitterState& state, SampledData& set, PortMatrix point) {
  SetStoredAggregate(point, state.settings.individualPoles);
  set.Append(std::move(point));
}

void Commit(FitterState& state, std::unique_ptr<SampledData> set) {
  set->ComputeAsymmetry();
  state.ReplaceData(std::move(set));
}

// Change between two model points: the Frobenius norm of the difference for
// S data; otherwise the largest element change, relative to the smaller
// magnitude where that exceeds t.
double Change(const FitterState& state, const PortMatrix& a, const PortMatrix& b, double t) {
  const int n = a.order();
  double result = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const double diff = Abs(b.At(i, j) - a.At(i, j));
      if (state.dataType == kS) {
        result += diff * diff;
      } else {
        const double m = std::min(Abs(a.At(i, j)), Abs(b.At(i, j)));
        result = std::max(result, m > t ? diff / m : diff);
      }
    }
  }
  return state.dataType == kS ? std::sqrt(result) : result;
}

}  // namespace

PortMatrix EvaluatePoint(const FitterState& state, double f) {
  const int n = state.model->n;
  PortMatrix point(n);
  point.set_frequency(f);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (!state.symmetric || j <= i) point.At(i, j) = EvaluateElement(state, i, j, f);
    }
  }
  // A symmetric model fills the upper triangle from the lower one, which is
  // complete only once every row has been evaluated.
  if (state.symmetric) {
    for (int i = 0; i < n; ++i) {
      for (int j = i + 1; j < n; ++j) point.At(i, j) = point.At(j, i);
    }
  }
  return point;
}

int SweepModelAdaptive(FitterState& state, double tolerance, double stopFrequency) {
  if (!state.HasFit()) return state.error.Record(ErrorCode::kNoFit);
  double t = tolerance;
  if (!(t >= 0.01)) t = 0.01;
  if (t > 0.7) t = 0.7;
  const double stop = stopFrequency == 0.0 ? state.settings.upperBandFrequency : stopFrequency;
  // An endless grid cannot be swept.
  if (!std::isfinite(stop)) return state.error.Record(ErrorCode::kInvalidArguments);

  double low = 1e20;
  for (int row = 0; row < state.model->n; ++row) low = std::min(low, PoleRange(state, row).low);
  double h0 = t * low;
  // Poles on or right of the imaginary axis give no positive smallest step;
  // fall back to a fine fraction of the band instead of stepping forever.
  if (!(h0 > 0.0) || !std::isfinite(h0)) h0 = t * std::fabs(stop) * 1e-6;
  if (!(h0 > 0.0)) h0 = t;
  const double g = std::max(1.0 / t, 10.0);
  const double growth = std::pow(g, 1.0 / g);

  auto set = NewSet(state);
  double f = state.settings.addZeroHzPoint ? 0.0 : h0;
  PortMatrix last = EvaluatePoint(state, f);
  AppendPoint(state, *set, last);
  double h = h0;
  while (f < stop) {
    const double next = f + h;
    PortMatrix point = EvaluatePoint(state, next);
    const double delta = Change(state, last, point, t);
    if (delta > t && h > h0) {
      h *= 0.5;
      continue;
    }
    if (delta < 0.1 * t && h < (growth - 1.0) * next) h *= 1.4;
    f = next;
    last = point;
    AppendPoint(state, *set, std::move(point));
  }
  Commit(state, std::move(set));
  return 1;
}

int SweepModelLinear(FitterState& state, double step, double start, double stop) {
  if (!state.HasFit()) return state.error.Record(ErrorCode::kNoFit);
  if (!(step > 0.0) || !(start < stop) || !((stop - start) / step <= kMaxLinearSteps)) {
    return state.error.Record(ErrorCode::kInvalidArguments);
  }
  auto set = NewSet(state);
  for (long long k = 0;; ++k) {
    const double f = start + static_cast<double>(k) * step;
    AppendPoint(state, *set, EvaluatePoint(state, f));
    if (!(f < stop)) break;
  }
  Commit(state, std::move(set));
  return 1;
}

int SweepModelAtList(FitterState& state, const std::vector<double>& frequencies) {
  if (!state.HasFit()) return state.error.Record(ErrorCode::kNoFit);
  // A point at a frequency that is not finite cannot be evaluated or stored.
  for (double f : frequencies) {
    if (!std::isfinite(f)) return state.error.Record(ErrorCode::kInvalidArguments);
  }
  auto set = NewSet(state);
  for (double f : frequencies) AppendPoint(state, *set, EvaluatePoint(state, f));
  Commit(state, std::move(set));
  return 1;
}

}  // namespace cfit
