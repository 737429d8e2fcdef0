// Passivity enforcement: peak-by-peak corrections of the sampled data (before
// fitting) or of the fitted model (after fitting) until the passivity curve
// stays under the threshold or the tries run out.
#ifndef CFIT_PASSIVITY_ENFORCEMENT_H
#define CFIT_PASSIVITY_ENFORCEMENT_H

#include "api/fitter_state.h"

namespace cfit {

// Slot 13: 1 when the data end passive; 0 with error 10 (no data), 1003
// (type) or 11 (not passive, or a failed step).
int EnforceDataPassivity(FitterState& state, double threshold);

// Slot 23: 1 when the model ends passive; 0 with error 12 (no model), 1003
// or 27. A failed step restores the model as it was before the call; tries
// that run out keep the corrections made.
int EnforceModelPassivity(FitterState& state, double threshold);

// Gives every element its own copy of a shared pole set (with that element's
// residues) and marks the model as individually fitted.
void ConvertSharedPoles(FitterState& state);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_ENFORCEMENT_H
