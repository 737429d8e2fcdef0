// The largest singular value of a real square matrix and the nearest matrix
// (in every unitarily invariant norm) whose singular values stay below a
// bound.
#ifndef CFIT_NUMERIC_SINGULAR_VALUE_CLIP_H
#define CFIT_NUMERIC_SINGULAR_VALUE_CLIP_H

#include <vector>

namespace cfit {

// sigma_max of the n x n row-major matrix `a`; NaN when the eigensolver
// fails.
double LargestSingularValue(const std::vector<double>& a, int n);

// Every singular value of `a` (n x n, row-major) of at least `above` set to
// `to`, singular vectors kept: a += sum_k (to / sigma_k - 1) (a v_k) v_k^T
// over those values. A symmetric `a` stays exactly symmetric. Returns the
// number of values changed, or -1 when the eigensolver fails (a is then
// unchanged).
int ClipSingularValues(std::vector<double>& a, int n, double above, double to);

}  // namespace cfit

#endif  // CFIT_NUMERIC_SINGULAR_VALUE_CLIP_H
