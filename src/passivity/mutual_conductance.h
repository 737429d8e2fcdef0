// Port-to-port conductances of the data or the model, read as a scattering
// matrix H normalised to the ports' reference impedances:
// Y = (I + H)^-1 (I - H), scaled by 1 / sqrt(Z0(i) Z0(k)).
#ifndef CFIT_PASSIVITY_MUTUAL_CONDUCTANCE_H
#define CFIT_PASSIVITY_MUTUAL_CONDUCTANCE_H

#include "api/fitter_state.h"

namespace cfit {

// For i = j the sum of row i of Y (the conductance to ground), for i != j
// -Y(i, j). The data are interpolated linearly in frequency (the nearest end
// point outside their band, with a warning in the log); the model is
// evaluated. Both need a symmetric matrix: errors 20 (data) and 19 (model)
// otherwise, and for a missing source or a bad index; 30 when the solve
// fails. Results are cached per source and frequency.
int GetDataMutualConductanceDC(FitterState& state, int i, int j, double* value);
int GetDataMutualConductance(FitterState& state, int i, int j, double frequency, double* re,
                             double* im);
int GetModelMutualConductanceDC(FitterState& state, int i, int j, double* value);
int GetModelMutualConductance(FitterState& state, int i, int j, double frequency, double* re,
                              double* im);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_MUTUAL_CONDUCTANCE_H
