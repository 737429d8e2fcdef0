#include "passivity/passivity_sweeps.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "fit/model_evaluation.h"
#include "fit/sweeps.h"
#include "passivity/passivity_measure.h"

namespace cfit {

namespace {

// Settings of one adaptive sweep.
struct SweepRule {
  double accept;       // largest prediction error of an accepted step
  double grow;         // prediction error below which the step doubles
  long long maxSteps;  // steps before the sweep gives up
  bool infinitePoint;  // append the point at 1e25
};
constexpr SweepRule kMatrixRule{0.001, 0.0001, 20000, true};
constexpr SweepRule kRowRule{0.0001, 0.00001, 100000, false};

// Measures one point; fills its measure (and row values). False on failure.
using PointMeasure = std::function<bool(double f, PassivityPoint* point)>;

// The quadratic through the last three points, evaluated at x.
double Predict(const PassivityCurve& c, double x) {
  const std::size_t k = c.size();
  const double x0 = c[k - 3].frequency, y0 = c[k - 3].measure;
  const double x1 = c[k - 2].frequency, y1 = c[k - 2].measure;
  const double x2 = c[k - 1].frequency, y2 = c[k - 1].measure;
  const double d = (x1 - x0) * (x2 - x1) * (x2 - x0);
  double a = 0.0, b = 0.0;
  if (std::fabs(d) >= 1e-15) {
    a = ((x1 - x0) * y2 + (x0 - x2) * y1 + (x2 - x1) * y0) / d;
    b = (y1 - y2) / (x1 - x2) - a * (x1 + x2);
  }
  return y2 + (x - x2) * (a * (x + x2) + b);
}

bool AdaptiveSweep(double fmin, double fmax, double threshold, const SweepRule& rule,
                   const PointMeasure& measure, PassivityCurve* curve, bool* passive,
                   const RunContext& context) {
  curve->clear();
  *passive = true;
  auto append = [&](double f) {
    PassivityPoint p;
    if (!measure(f, &p)) return false;
    if (p.measure > threshold) *passive = false;
    curve->push_back(std::move(p));
    return true;
  };
  if (!append(0.0) || !append(fmin) || !append(2.0 * fmin)) {
    curve->clear();
    return false;
  }
  if (fmax > 2.0 * fmin) {
    double h = fmin;
    long long steps = 0;
    double x = curve->back().frequency;
    do {
      PassivityPoint trial;
      double error = 0.0;
      for (;;) {
        x = curve->back().frequency + h;
        if (!measure(x, &trial)) {
          curve->clear();
          return false;
        }
        error = std::fabs(Predict(*curve, x) - trial.measure);
        // A non-finite error never passes; the step stops shrinking at fmin.
        if (error <= rule.accept || h <= fmin) break;
        h *= 0.5;
      }
      if (trial.measure > threshold) *passive = false;
      curve->push_back(std::move(trial));
      if (error < rule.grow) h *= 2.0;
      if (++steps > rule.maxSteps) {
        context.Write(" *** Cannot build module function ***\n");
        curve->clear();
        return false;
      }
    } while (x < fmax);
  }
  if (rule.infinitePoint && !append(kInfiniteFrequency)) {
    curve->clear();
    return false;
  }
  return true;
}

// fmin over all rows (or row `only`), fmax likewise.
void Band(const ModelView& view, int only, double* fmin, double* fmax) {
  *fmin = 1e20;
  *fmax = 0.0;
  for (int row = 0; row < view.n(); ++row) {
    if (only >= 0 && row != only) continue;
    const PoleBand band = PoleRange(view, row);
    *fmin = std::min(*fmin, band.low);
    *fmax = std::max(*fmax, band.high);
  }
}

}  // namespace

bool SampledSweep(const SampledData& data, int dataType, bool symmetric, double threshold,
                  PassivityCurve* curve, bool* passive) {
  curve->clear();
  *passive = true;
  if (!MeasurableType(dataType)) return true;
  MeasureWorkspace work(data.port_count());
  curve->reserve(data.points().size());
  for (ConstMatrixView point : data.points()) {
    PassivityPoint p;
    p.frequency = point.frequency();
    if (!PassivityMeasure(point, dataType, symmetric, work, &p.measure)) {
      curve->clear();
      return false;
    }
    if (p.measure > threshold) *passive = false;
    curve->push_back(std::move(p));
  }
  return true;
}

bool ModelSweep(const ModelView& view, int dataType, double threshold, PassivityCurve* curve,
                bool* passive, const RunContext& context) {
  curve->clear();
  *passive = true;
  if (!MeasurableType(dataType)) return true;
  double fmin, fmax;
  Band(view, -1, &fmin, &fmax);
  MeasureWorkspace work(view.n());
  const PointMeasure measure = [&](double f, PassivityPoint* p) {
    p->frequency = f;
    return PassivityMeasure(EvaluatePoint(view, f), dataType, view.symmetric, work, &p->measure);
  };
  return AdaptiveSweep(fmin, fmax, threshold, kMatrixRule, measure, curve, passive, context);
}

bool RowSweep(const ModelView& view, int row, PassivityCurve* curve, bool* passive,
              const RunContext& context) {
  double fmin, fmax;
  Band(view, row, &fmin, &fmax);
  const int n = view.n();
  const PointMeasure measure = [&](double f, PassivityPoint* p) {
    p->frequency = f;
    p->values.resize(static_cast<std::size_t>(n));
    double sum = 0.0;
    for (int k = 0; k < n; ++k) {
      // A symmetric model holds the row's entries right of the diagonal in
      // the column below it.
      const int i = (view.symmetric && k > row) ? k : row;
      const int j = (view.symmetric && k > row) ? row : k;
      const double m = Abs(EvaluateElement(view, i, j, f));
      p->values[static_cast<std::size_t>(k)] = m * m;
      sum += m * m;
    }
    p->measure = sum;
    return std::isfinite(sum);
  };
  return AdaptiveSweep(fmin, fmax, 1.0, kRowRule, measure, curve, passive, context);
}

}  // namespace cfit
