// Passivity enforcement: peak-by-peak corrections of the sampled data (before
// fitting) or of the fitted model (after fitting) until the passivity curve
// stays under the threshold or the tries run out.
#ifndef CFIT_PASSIVITY_ENFORCEMENT_H
#define CFIT_PASSIVITY_ENFORCEMENT_H

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"

namespace cfit {

// The caller has checked the source (data or model present, error 10 or 12)
// and its type (MeasurableType, error 1003).

// Corrects the sampled data before fitting; drops the data's margin list.
// Fails with 11 when the data do not end passive or a step failed.
Status EnforceDataPassivity(FitterState& state, double threshold, const RunContext& context);

// Corrects the fitted model (shared poles first become element lists), row by
// row and then globally for S models, with start and end lines in the log.
// Fails with 27 when the model does not end passive; a failed step restores
// the model as it was before the call, tries that run out keep the
// corrections made. Fails without a code when the working storage is too
// small for the model.
Status EnforceModelPassivity(FitterState& state, double threshold, const RunContext& context);

// Gives every element its own copy of a shared pole set (with that element's
// residues) and marks the model as individually fitted.
void ConvertSharedPoles(FitterState& state);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_ENFORCEMENT_H
