// Pole identification: starting poles at the features of the curve, one
// vector-fitting least-squares solve for the weighting function sigma, and
// the relocation of the poles to the zeros of sigma.
//
// There is exactly one relocation pass per fitted quantity; its accuracy
// comes from starting poles placed where the curve turns.
#ifndef CFIT_FIT_POLE_IDENTIFICATION_H
#define CFIT_FIT_POLE_IDENTIFICATION_H

#include "api/fitter_state.h"

namespace cfit {

// Fills the working pole list from the turning points of the fitted curve,
// regular poles while no feature is found, and the closing and reactive-top
// poles. Error 6 without data or with fewer than 2 points; false without an
// error when the frequencies do not increase. Also writes each fitted
// element's largest |v - d| into the maximum-error table as a first value.
bool PlaceStartingPoles(FitterState& state);

// Solves v ~ (sum r_k b_k + d + j f e) - v sum c_k b_k over all points and
// stores the sigma coefficients c_k as the working poles' residue (0, 0).
// Error 25 when the problem exceeds the working set.
bool SolveSigmaSystem(FitterState& state);

// Replaces the working poles by the zeros of sigma (the eigenvalues of
// A - b c^T), dropping those outside the pole ratio bound, the caller's band,
// the extended-fit limit or far below the first frequency; unstable ones are
// mirrored. Error 23 when the list is empty or the eigenvalues cannot be
// found, 25 when the matrix exceeds the working set.
bool FindCPols(FitterState& state);

}  // namespace cfit

#endif  // CFIT_FIT_POLE_IDENTIFICATION_H
