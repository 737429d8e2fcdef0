// Model sweeps: replace the sampled data by values of the fitted model.
//
// Each sweep needs a fitted model (error 8) and valid arguments (error 45);
// the previous data are released only once both hold. Every element is
// evaluated (with a symmetric matrix, (i, j) with i >= j, copied to (j, i)).
#ifndef CFIT_FIT_SWEEPS_H
#define CFIT_FIT_SWEEPS_H

#include <vector>

#include "api/fitter_state.h"

namespace cfit {

// Adaptive grid with relative change tolerance t (clamped to [0.01, 0.7])
// up to `stopFrequency` (0: the upper band frequency of the settings).
int SweepModelAdaptive(FitterState& state, double tolerance, double stopFrequency);

// start + k * step, k = 0, 1, ..., up to and including the first value that
// is not below stop. Needs step > 0, start < stop and at most 1e8 steps.
int SweepModelLinear(FitterState& state, double step, double start, double stop);

// The listed frequencies in order (points out of order are skipped). A
// frequency that is not finite records 45 before anything changes.
int SweepModelAtList(FitterState& state, const std::vector<double>& frequencies);

// The model's N x N value at one frequency, as a stored point.
PortMatrix EvaluatePoint(const FitterState& state, double f);

}  // namespace cfit

#endif  // CFIT_FIT_SWEEPS_H
