// Pure-delay extraction of one matrix element.
//
// A long interconnect's element rotates its phase linearly with frequency;
// fitting that rotation with poles would waste many of them. The delay is
// estimated from the mean phase slope, removed from the data before the
// element is fitted and put back afterwards, and the model keeps it as a
// separate factor.
#ifndef CFIT_FIT_DELAY_H
#define CFIT_FIT_DELAY_H

#include "api/fitter_state.h"

namespace cfit {

// Estimates the delay (seconds, >= 0) of element (i, j) of the sampled data
// from the phase slope, shortened by the roughness of the phase and by five
// periods of the highest frequency; 0 when the phase is too rough, the
// measured span too short or the delay too small to matter. With fewer than
// 10 points records error 26 and returns 0. The result is stored in the
// model's delay table at (i, j), and (j, i) for a symmetric matrix, when the
// table exists.
double EstimateDelay(FitterState& state, int i, int j);

// Multiplies element (i, j) of every sampled point by exp(+j 2 pi f tau)
// (forward: removes the delay) or exp(-j 2 pi f tau) (backward), writing
// (j, i) too for a symmetric matrix. Nothing happens for tau <= 0.
void ApplyDelay(FitterState& state, int i, int j, double tau, bool forward);

}  // namespace cfit

#endif  // CFIT_FIT_DELAY_H
