// The fitting driver: what is fitted, in which order and on which data.
#ifndef CFIT_FIT_FIT_DRIVER_H
#define CFIT_FIT_FIT_DRIVER_H

#include "api/fitter_state.h"

namespace cfit {

// Fits the sampled data (error 5 without them, 26 when a value is not a
// finite number, both before the model changes) into a fresh model: every
// element with its own poles (only the lower triangle of a symmetric
// matrix), or one pole set common to all elements. Logs the start and end
// lines and per-element errors; returns true when every fitted element
// succeeded. The sampled data are left as they were.
int Fit(FitterState& state);

// The body of Fit, between its start and end lines.
bool FitAll(FitterState& state);

// The extended data set of a fit with the extended-fit option: one 1 x 1
// point at every sampled frequency, then marked points above the band
// reaching F_last + 10 (F_last - F_first).
SampledData ExtendBand(const SampledData& data);

}  // namespace cfit

#endif  // CFIT_FIT_FIT_DRIVER_H
