// Model sweeps: new data sets filled with values of the fitted model.
//
// Every element is evaluated (with a symmetric matrix, (i, j) with i >= j,
// copied to (j, i)). The caller
// checks that a model is present (error 8) and replaces the held data by the
// set made; the previous data are released only once the arguments have
// been accepted.
#ifndef CFIT_FIT_SWEEPS_H
#define CFIT_FIT_SWEEPS_H

#include <memory>
#include <vector>

#include "core/result.h"
#include "fit/model_evaluation.h"

namespace cfit {

using SweptData = SampledData;

// Adaptive grid with relative change tolerance t (clamped to [0.01, 0.7])
// up to `stop`, the change measured as the data type `dataType` asks; the
// first point is at 0 Hz when `zeroHzFirst` is set. A stop frequency that is
// not finite is refused (45): an endless grid cannot be swept.
Result<SweptData> SweepAdaptive(const ModelView& view, int dataType, double tolerance, double stop,
                                bool zeroHzFirst);

// start + k * step, k = 0, 1, ..., up to and including the first value that
// is not below stop. Needs step > 0, start < stop and at most 1e8 steps (45).
Result<SweptData> SweepLinear(const ModelView& view, double step, double start, double stop);

// The listed frequencies in order (points out of order are skipped). A
// frequency that is not finite is refused (45).
Result<SweptData> SweepAtList(const ModelView& view, const std::vector<double>& frequencies);

// The model's N x N value at one frequency, as a stored point.
PortMatrix EvaluatePoint(const ModelView& view, double f);
inline PortMatrix EvaluatePoint(const FitterState& state, double f) {
  return EvaluatePoint(ViewOf(state), f);
}

}  // namespace cfit

#endif  // CFIT_FIT_SWEEPS_H
