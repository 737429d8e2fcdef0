// Passivity curves: the measure at every sample point, over an adaptive
// sweep of the model, or the row measure of one row of the model.
#ifndef CFIT_PASSIVITY_PASSIVITY_SWEEPS_H
#define CFIT_PASSIVITY_PASSIVITY_SWEEPS_H

#include "api/fitter_state.h"
#include "core/run_context.h"
#include "fit/model_evaluation.h"
#include "passivity/passivity_state.h"

namespace cfit {

// Frequency where the model sweep takes its last point: the model's value
// towards infinite frequency.
inline constexpr double kInfiniteFrequency = 1e25;

// The sweeps below need a data type the measure knows (MeasurableType); for
// any other they return true with an empty, passive curve.

// One point per sample point, in order; *passive is false when a measure
// exceeds `threshold`. False when a measure cannot be computed.
bool SampledSweep(const SampledData& data, int dataType, bool symmetric, double threshold,
                  PassivityCurve* curve, bool* passive);

// Adaptive sweep of the model's measure: 0, fmin and 2 fmin, then steps that
// double after accurate quadratic predictions and halve (never below fmin)
// where the prediction misses by more than 0.001, up to fmax; then 1e25. The
// band [fmin, fmax] is 0.25 times the smallest pole damping to 4 times the
// largest pole modulus. False (curve emptied) after more than 20000 steps,
// with a log line, or when a measure cannot be computed.
bool ModelSweep(const ModelView& view, int dataType, double threshold, PassivityCurve* curve,
                bool* passive, const RunContext& context);

// The same scheme for the row measure of row i of an S model (the N values
// |H(i, k)|^2 per point and their sum), on row i's own band, threshold 1,
// tolerance 0.0001 and at most 100000 steps, without the 1e25 point.
bool RowSweep(const ModelView& view, int row, PassivityCurve* curve, bool* passive,
              const RunContext& context);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_PASSIVITY_SWEEPS_H
