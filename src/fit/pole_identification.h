// Pole identification: starting poles at the features of the curve, one
// vector-fitting least-squares solve for the weighting function sigma, and
// the relocation of the poles to the zeros of sigma.
//
// There is exactly one relocation pass per fitted quantity; its accuracy
// comes from starting poles placed where the curve turns.
#ifndef CFIT_FIT_POLE_IDENTIFICATION_H
#define CFIT_FIT_POLE_IDENTIFICATION_H

#include "core/result.h"
#include "core/run_context.h"
#include "fit/fit_basis.h"
#include "numeric/working_set.h"

namespace cfit {

// Fills `poles` from the turning points of the series, regular poles while
// no feature is found, and the closing and reactive-top poles; at most as
// many as `maxCols` columns leave room for. May raise the limits (see
// PoleLimits). Error 6 with fewer than 2 points; a silent failure when the
// frequencies do not increase.
Status PlaceStartingPoles(const FitSeries& series, const FitOptions& options, int maxCols,
                          PoleLimits& limits, PoleList& poles, const RunContext& run);

// Solves v ~ (sum r_k b_k + d + j f e) - v sum c_k b_k over all points and
// stores the sigma coefficients c_k as the poles' residue (0, 0). Error 25
// when the problem exceeds the working set, 26 without points; a silent
// failure when the factorisation fails or is cancelled.
Status SolveSigmaSystem(const FitSeries& series, const FitOptions& options, WorkingSet& work,
                        PoleList& poles, const RunContext& run);

// Replaces the poles by the zeros of sigma (the eigenvalues of A - b c^T),
// dropping those outside the pole ratio bound, the caller's band, the
// extended-fit limit or far below the first frequency of the series;
// unstable ones are mirrored. Error 23 when the list is empty or the
// eigenvalues cannot be found, 25 when the matrix exceeds the working set.
Status FindCPols(const FitSeries& series, const FitOptions& options, const PoleLimits& limits,
                 WorkingSet& work, PoleList& poles, const RunContext& run);

}  // namespace cfit

#endif  // CFIT_FIT_POLE_IDENTIFICATION_H
