// Residues and non-rational terms on fixed poles, and the commitment of the
// result into the fitted model.
#ifndef CFIT_FIT_RESIDUES_H
#define CFIT_FIT_RESIDUES_H

#include "api/fitter_state.h"

namespace cfit {

// Fits residues, constant and proportional term of every quantity being
// fitted on the working poles (one factorisation shared by all elements of a
// common-pole fit), records the accuracy, and converts the working poles and
// residues to the stored form. A DC-constrained quantity goes through
// FitResiduesWithDC, the others through FitResidues. Errors 25 and 26 as the
// least-squares problem requires; false when the factorisation fails.
bool IdentifyResidues(FitterState& state);
bool FitResidues(FitterState& state);
// As FitResidues, with the model's value at 0 Hz imposed exactly: the
// element's DC value when set, else the real part of a 0 Hz sample, else 0.
bool FitResiduesWithDC(FitterState& state);

// Moves the working poles into the model (the common list, or the current
// element's list), dropping terms whose quality ratio reaches 10 times the
// working limit and terms with negligible residues. Keeps at least one term
// (a real pole at 1e9 with zero residues). Returns the number kept.
int CommitPoles(FitterState& state);

}  // namespace cfit

#endif  // CFIT_FIT_RESIDUES_H
