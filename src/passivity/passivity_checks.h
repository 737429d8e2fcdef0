// Passivity reports: the largest violation of the data or the model, the
// margin lists and their walks, and the model's deviation from the data.
// The caller has checked that the source is present and that its data type
// has a measure (MeasurableType).
#ifndef CFIT_PASSIVITY_PASSIVITY_CHECKS_H
#define CFIT_PASSIVITY_PASSIVITY_CHECKS_H

#include "core/result.h"
#include "core/run_context.h"
#include "fit/model_evaluation.h"
#include "passivity/passivity_state.h"

namespace cfit {

// The largest measure of a curve and its frequency (the first of equal
// maxima; 0 and 0 for a curve that never rises above 0).
struct MeasurePeak {
  double measure = 0.0;
  double frequency = 0.0;
};

// Over the sample points; a measure above 1.0001 is reported in the log.
// Fails with 33 when a measure cannot be computed.
Result<MeasurePeak> LargestDataMeasure(const SampledData& data, int dataType, bool symmetric,
                                       const RunContext& context);

// Over the model sweep, which is kept in `curve`; a measure above 1 is
// reported in the log. Fails with 27 when the sweep fails.
Result<MeasurePeak> LargestModelMeasure(const ModelView& view, int dataType, PassivityCurve& curve,
                                        const RunContext& context);

// The margin at every sample point, or over the model sweep. Fail with 33
// (data) or 34 (model) when the curve cannot be built or is empty.
Result<PassivityCurve> DataMargins(const SampledData& data, int dataType, bool symmetric);
Result<PassivityCurve> ModelMargins(const ModelView& view, int dataType, const RunContext& context);

// The walks of a margin list: the first point, then each following one;
// null without a list or past its end (the walk then ends).
const PassivityPoint* FirstMargin(MarginList& list);
const PassivityPoint* NextMargin(MarginList& list);

// Per-element RMS and largest deviation of the model from the data over the
// sampled (not added) points. The data must have the model's port count.
void ComputeEnforcedAccuracy(const ModelView& view, const SampledData& data, HostMatrix& rms,
                             HostMatrix& largest);

// The accuracy report of the log: every element's RMS deviation, a blank
// line, every element's largest deviation.
void LogEnforcedAccuracy(const HostMatrix& rms, const HostMatrix& largest,
                         const RunContext& context);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_PASSIVITY_CHECKS_H
