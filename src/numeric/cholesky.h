// Cholesky factorisation of small dense symmetric positive definite
// matrices (row-major, lower factor) and the two triangular solves.
#ifndef CFIT_NUMERIC_CHOLESKY_H
#define CFIT_NUMERIC_CHOLESKY_H

#include <vector>

namespace cfit {

// Replaces the m x m matrix `a` by its lower factor L (A = L L^T), zeroing
// the upper triangle; false when a pivot is not positive (A is not
// positive definite to working precision), `a` then partly overwritten.
bool Cholesky(int m, std::vector<double>& a);

// y = L^-1 y and y = L^-T y for a lower factor L from Cholesky.
void ForwardSolve(int m, const std::vector<double>& l, double* y);
void BackSolve(int m, const std::vector<double>& l, double* y);

}  // namespace cfit

#endif  // CFIT_NUMERIC_CHOLESKY_H
