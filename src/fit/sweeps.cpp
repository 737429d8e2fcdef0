#include "fit/sweeps.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace cfit {

namespace {

constexpr double kMaxLinearSteps = 1e8;

void AppendPoint(SampledData& set, const PortMatrix& point) { set.Append(point); }

SweptData Finish(SweptData set) {
  set.ComputeAsymmetry();
  return set;
}

// Change between two model points: the Frobenius norm of the difference for
// S data; otherwise the largest element change, relative to the smaller
// magnitude where that exceeds t.
double Change(int dataType, const PortMatrix& a, const PortMatrix& b, double t) {
  const int n = a.order();
  double result = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const double diff = Abs(b.At(i, j) - a.At(i, j));
      if (dataType == kS) {
        result += diff * diff;
      } else {
        const double m = std::min(Abs(a.At(i, j)), Abs(b.At(i, j)));
        result = std::max(result, m > t ? diff / m : diff);
      }
    }
  }
  return dataType == kS ? std::sqrt(result) : result;
}

}  // namespace

PortMatrix EvaluatePoint(const ModelView& view, double f) {
  const int n = view.n();
  PortMatrix point(n);
  point.set_frequency(f);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (!view.symmetric || j <= i) point.At(i, j) = EvaluateElement(view, i, j, f);
    }
  }
  // A symmetric model fills the upper triangle from the lower one, which is
  // complete only once every row has been evaluated.
  if (view.symmetric) {
    for (int i = 0; i < n; ++i) {
      for (int j = i + 1; j < n; ++j) point.At(i, j) = point.At(j, i);
    }
  }
  return point;
}

Result<SweptData> SweepAdaptive(const ModelView& view, int dataType, double tolerance, double stop,
                                bool zeroHzFirst) {
  double t = tolerance;
  if (!(t >= 0.01)) t = 0.01;
  if (t > 0.7) t = 0.7;
  if (!std::isfinite(stop)) return ErrorCode::kInvalidArguments;

  double low = 1e20;
  for (int row = 0; row < view.n(); ++row) low = std::min(low, PoleRange(view, row).low);
  double h0 = t * low;
  // Poles on or right of the imaginary axis give no positive smallest step;
  // fall back to a fine fraction of the band instead of stepping forever.
  if (!(h0 > 0.0) || !std::isfinite(h0)) h0 = t * std::fabs(stop) * 1e-6;
  if (!(h0 > 0.0)) h0 = t;
  // The step may grow by 1.4 only while it stays below (G - 1) f, with
  // G = g^(1/g), g = max(1/t, 10): a finer tolerance keeps the grid denser
  // relative to the frequency.
  const double g = std::max(1.0 / t, 10.0);
  const double growth = std::pow(g, 1.0 / g);

  auto set = SampledData(view.n());
  double f = zeroHzFirst ? 0.0 : h0;
  PortMatrix last = EvaluatePoint(view, f);
  AppendPoint(set, last);
  double h = h0;
  while (f < stop) {
    const double next = f + h;
    PortMatrix point = EvaluatePoint(view, next);
    const double delta = Change(dataType, last, point, t);
    if (delta > t && h > h0) {
      h *= 0.5;
      continue;
    }
    if (delta < 0.1 * t && h < (growth - 1.0) * next) h *= 1.4;
    f = next;
    last = point;
    AppendPoint(set, point);
  }
  return Finish(std::move(set));
}

Result<SweptData> SweepLinear(const ModelView& view, double step, double start, double stop) {
  if (!(step > 0.0) || !(start < stop) || !((stop - start) / step <= kMaxLinearSteps)) {
    return ErrorCode::kInvalidArguments;
  }
  auto set = SampledData(view.n());
  for (long long k = 0;; ++k) {
    const double f = start + static_cast<double>(k) * step;
    AppendPoint(set, EvaluatePoint(view, f));
    if (!(f < stop)) break;
  }
  return Finish(std::move(set));
}

Result<SweptData> SweepAtList(const ModelView& view, const std::vector<double>& frequencies) {
  // A point at a frequency that is not finite cannot be evaluated or stored.
  for (double f : frequencies) {
    if (!std::isfinite(f)) return ErrorCode::kInvalidArguments;
  }
  auto set = SampledData(view.n());
  for (double f : frequencies) AppendPoint(set, EvaluatePoint(view, f));
  return Finish(std::move(set));
}

}  // namespace cfit
