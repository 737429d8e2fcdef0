// Passivity reports for the host: the largest violation of the data or the
// model, the margin lists and their walks, the mutual conductances and the
// model's deviation from the data.
#ifndef CFIT_PASSIVITY_PASSIVITY_CHECKS_H
#define CFIT_PASSIVITY_PASSIVITY_CHECKS_H

#include "api/fitter_state.h"

namespace cfit {

int CheckDataPassivity(FitterState& state, double* largestMeasure, double* frequency);
int CheckModelPassivity(FitterState& state, double* largestMeasure, double* frequency);

int GetDataPassivityMargins(FitterState& state);
int GetModelPassivityMargins(FitterState& state);
// The walks return 0, recording nothing, without a list or past its end.
int GetFirstMargin(MarginList& list, double* frequency, double* margin);
int GetNextMargin(MarginList& list, double* frequency, double* margin);

// Slot 32: per-element RMS and largest deviation of the model from the data
// over the sampled (not added) points; into the host's pointers, or as a
// report in the log when either pointer is missing. 0 without recording
// anything when data or model are missing.
int GetEnforcedAccuracy(FitterState& state, double*** rms, double*** largest);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_PASSIVITY_CHECKS_H
