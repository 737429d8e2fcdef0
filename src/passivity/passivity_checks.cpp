#include "passivity/passivity_checks.h"

#include <algorithm>
#include <cmath>

#include "passivity/passivity_measure.h"
#include "passivity/passivity_sweeps.h"

namespace cfit {

namespace {

// The data report needs a measure clearly above 1; rounding in measured
// data of a passive device stays below this.
constexpr double kDataReportLevel = 1.0001;
constexpr double kModelReportLevel = 1.0;

MeasurePeak PeakOf(const PassivityCurve& curve) {
  MeasurePeak peak;
  for (const PassivityPoint& p : curve) {
    if (p.measure > peak.measure) peak = {p.measure, p.frequency};
  }
  return peak;
}

Result<PassivityCurve> AsMargins(PassivityCurve curve, int dataType) {
  for (PassivityPoint& p : curve) p.measure = PassivityMargin(p.measure, dataType);
  return curve;
}

}  // namespace

Result<MeasurePeak> LargestDataMeasure(const SampledData& data, int dataType, bool symmetric,
                                       const RunContext& context) {
  PassivityCurve curve;
  bool passive = true;
  if (!SampledSweep(data, dataType, symmetric, 1.0, &curve, &passive)) {
    return ErrorCode::kDataPassivityUnknown;
  }
  const MeasurePeak peak = PeakOf(curve);
  if (peak.measure > kDataReportLevel) {
    context.Write("*** input data non-passive:", " max overshoot = ", peak.measure,
                  " at freq = ", peak.frequency, "\n");
  }
  return peak;
}

Result<MeasurePeak> LargestModelMeasure(const ModelView& view, int dataType, PassivityCurve& curve,
                                        const RunContext& context) {
  bool passive = true;
  if (!ModelSweep(view, dataType, 1.0, &curve, &passive, context)) {
    return ErrorCode::kModelEnforcementFailed;
  }
  const MeasurePeak peak = PeakOf(curve);
  if (peak.measure > kModelReportLevel) {
    context.Write("*** fitted model non-passive: Max overshoot = ", peak.measure,
                  " at freq = ", peak.frequency, "\n");
  }
  return peak;
}

Result<PassivityCurve> DataMargins(const SampledData& data, int dataType, bool symmetric) {
  PassivityCurve curve;
  bool passive = true;
  if (!SampledSweep(data, dataType, symmetric, 1.0, &curve, &passive) || curve.empty()) {
    return ErrorCode::kDataPassivityUnknown;
  }
  return AsMargins(std::move(curve), dataType);
}

Result<PassivityCurve> ModelMargins(const ModelView& view, int dataType,
                                    const RunContext& context) {
  PassivityCurve curve;
  bool passive = true;
  if (!ModelSweep(view, dataType, 1.0, &curve, &passive, context) || curve.empty()) {
    return ErrorCode::kModelPassivityUnknown;
  }
  return AsMargins(std::move(curve), dataType);
}

const PassivityPoint* FirstMargin(MarginList& list) {
  if (list.points.empty()) {
    list.cursor.reset();
    return nullptr;
  }
  list.cursor = 0;
  return &list.points[0];
}

const PassivityPoint* NextMargin(MarginList& list) {
  if (!list.cursor.has_value() || *list.cursor + 1 >= list.points.size()) {
    list.cursor.reset();
    return nullptr;
  }
  return &list.points[++*list.cursor];
}

void ComputeEnforcedAccuracy(const ModelView& view, const SampledData& data, HostMatrix& rms,
                             HostMatrix& largest) {
  const int n = view.n();
  rms.Resize(n);
  largest.Resize(n);
  const ConstPointRange points = data.points();
  const int count = data.point_count() - data.marked_count();
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      double sum = 0.0, worst = 0.0;
      for (int k = 0; k < count; ++k) {
        const double e =
            Abs(EvaluateElement(view, i, j, points[k].frequency()) - points[k].At(i, j));
        sum += e * e;
        worst = std::max(worst, e);
      }
      rms.At(i, j) = count > 0 ? std::sqrt(sum / count) : 0.0;
      largest.At(i, j) = worst;
    }
  }
}

void LogEnforcedAccuracy(const HostMatrix& rms, const HostMatrix& largest,
                         const RunContext& context) {
  const int n = rms.order();
  context.Write("Accuracy after enforce pls passivity:\n");
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      context.Write("mean error(", i + 1, ",", j + 1, ")=", rms.At(i, j), "\n");
    }
  }
  context.Write("\n");
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      context.Write("tol  error(", i + 1, ",", j + 1, ")=", largest.At(i, j), "\n");
    }
  }
}

}  // namespace cfit
