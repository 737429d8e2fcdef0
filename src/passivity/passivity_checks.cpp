#include "passivity/passivity_checks.h"

#include <algorithm>
#include <cmath>

#include "fit/model_evaluation.h"
#include "io/run_log.h"
#include "passivity/passivity_measure.h"
#include "passivity/passivity_sweeps.h"

namespace cfit {

namespace {

// The data report needs a measure clearly above 1; rounding in measured
// data of a passive device stays below this.
constexpr double kDataReportLevel = 1.0001;
constexpr double kModelReportLevel = 1.0;

void Write(double* out, double value) {
  if (out != nullptr) *out = value;
}

int FailWithZeros(double* a, double* b, int result) {
  Write(a, 0.0);
  Write(b, 0.0);
  return result;
}

bool HasModel(const FitterState& state) { return state.HasFit() && state.model != nullptr; }

}  // namespace

int CheckDataPassivity(FitterState& state, double* largestMeasure, double* frequency) {
  if (state.data == nullptr)
    return FailWithZeros(largestMeasure, frequency, state.error.Record(ErrorCode::kNoSData));
  if (!MeasurableType(state.dataType)) {
    return FailWithZeros(largestMeasure, frequency,
                         state.error.Record(ErrorCode::kUnsupportedParameters));
  }
  PassivityCurve curve;
  bool passive = true;
  if (!SampledSweep(state, 1.0, &curve, &passive)) {
    return FailWithZeros(largestMeasure, frequency,
                         state.error.Record(ErrorCode::kDataPassivityUnknown));
  }
  double best = 0.0, where = 0.0;
  for (const PassivityPoint& p : curve) {
    if (p.measure > best) {
      best = p.measure;
      where = p.frequency;
    }
  }
  if (best > kDataReportLevel) {
    runlog::Write("*** input data non-passive:", " max overshoot = ", best, " at freq = ", where,
                  "\n");
  }
  Write(largestMeasure, best);
  Write(frequency, where);
  return 1;
}

int CheckModelPassivity(FitterState& state, double* largestMeasure, double* frequency) {
  if (!HasModel(state))
    return FailWithZeros(largestMeasure, frequency, state.error.Record(ErrorCode::kNoSFit));
  if (!MeasurableType(state.dataType)) {
    return FailWithZeros(largestMeasure, frequency,
                         state.error.Record(ErrorCode::kUnsupportedParameters));
  }
  bool passive = true;
  if (!ModelSweep(state, 1.0, &state.passivity.checkCurve, &passive)) {
    return FailWithZeros(largestMeasure, frequency,
                         state.error.Record(ErrorCode::kModelEnforcementFailed));
  }
  double best = 0.0, where = 0.0;
  for (const PassivityPoint& p : state.passivity.checkCurve) {
    if (p.measure > best) {
      best = p.measure;
      where = p.frequency;
    }
  }
  if (best > kModelReportLevel) {
    runlog::Write("*** fitted model non-passive: Max overshoot = ", best, " at freq = ", where,
                  "\n");
  }
  Write(largestMeasure, best);
  Write(frequency, where);
  return 1;
}

int GetDataPassivityMargins(FitterState& state) {
  MarginList& list = state.passivity.dataMargins;
  list = MarginList{};
  if (state.data == nullptr) return state.error.Record(ErrorCode::kNoData);
  if (!MeasurableType(state.dataType)) return state.error.Record(ErrorCode::kUnsupportedParameters);
  bool passive = true;
  if (!SampledSweep(state, 1.0, &list.points, &passive) || list.points.empty()) {
    list = MarginList{};
    return state.error.Record(ErrorCode::kDataPassivityUnknown);
  }
  for (PassivityPoint& p : list.points) p.measure = PassivityMargin(p.measure, state.dataType);
  return 1;
}

int GetModelPassivityMargins(FitterState& state) {
  MarginList& list = state.passivity.modelMargins;
  list = MarginList{};
  if (!HasModel(state)) return state.error.Record(ErrorCode::kNoFit);
  if (!MeasurableType(state.dataType)) return state.error.Record(ErrorCode::kUnsupportedParameters);
  bool passive = true;
  if (!ModelSweep(state, 1.0, &list.points, &passive) || list.points.empty()) {
    list = MarginList{};
    return state.error.Record(ErrorCode::kModelPassivityUnknown);
  }
  for (PassivityPoint& p : list.points) p.measure = PassivityMargin(p.measure, state.dataType);
  return 1;
}

int GetFirstMargin(MarginList& list, double* frequency, double* margin) {
  if (list.points.empty()) {
    list.cursor.reset();
    return 0;
  }
  list.cursor = 0;
  Write(frequency, list.points[0].frequency);
  Write(margin, list.points[0].measure);
  return 1;
}

int GetNextMargin(MarginList& list, double* frequency, double* margin) {
  if (!list.cursor.has_value() || *list.cursor + 1 >= list.points.size()) {
    list.cursor.reset();
    return 0;
  }
  const std::size_t k = ++*list.cursor;
  Write(frequency, list.points[k].frequency);
  Write(margin, list.points[k].measure);
  return 1;
}

int GetEnforcedAccuracy(FitterState& state, double*** rms, double*** largest) {
  if (state.data == nullptr || !HasModel(state)) return 0;
  const int n = state.model->n;
  if (state.data->port_count() != n) return 0;
  PassivityState& p = state.passivity;
  p.accuracyRms.Resize(n);
  p.accuracyLargest.Resize(n);
  const auto& points = state.data->points();
  const int count = state.data->point_count() - state.data->marked_count();
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      double sum = 0.0, worst = 0.0;
      for (int k = 0; k < count; ++k) {
        const double e =
            Abs(EvaluateElement(state, i, j, points[k].frequency()) - points[k].At(i, j));
        sum += e * e;
        worst = std::max(worst, e);
      }
      p.accuracyRms.At(i, j) = count > 0 ? std::sqrt(sum / count) : 0.0;
      p.accuracyLargest.At(i, j) = worst;
    }
  }
  if (rms == nullptr || largest == nullptr) {
    runlog::Write("Accuracy after enforce pls passivity:\n");
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        runlog::Write("mean error(", i + 1, ",", j + 1, ")=", p.accuracyRms.At(i, j), "\n");
      }
    }
    runlog::Write("\n");
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        runlog::Write("tol  error(", i + 1, ",", j + 1, ")=", p.accuracyLargest.At(i, j), "\n");
      }
    }
    return 1;
  }
  *rms = p.accuracyRms.rows.data();
  *largest = p.accuracyLargest.rows.data();
  return 1;
}

}  // namespace cfit
