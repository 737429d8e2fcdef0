// Convex quadratic programs over the nonnegative orthant: the dual of a
// least-change problem under linear inequality constraints.
#ifndef CFIT_NUMERIC_NONNEGATIVE_QP_H
#define CFIT_NUMERIC_NONNEGATIVE_QP_H

#include <vector>

namespace cfit {

// min 1/2 x^T M x + b^T x over x >= 0, for a symmetric positive
// semidefinite K x K matrix M (row-major) and K = b.size(). At the solution
// the gradient g = M x + b is zero (to `tolerance`) where x > 0 and at least
// -tolerance where x = 0. Columns with a diagonal entry <= 0 are left at 0.
std::vector<double> SolveNonnegativeQp(const std::vector<double>& m, const std::vector<double>& b,
                                       double tolerance);

}  // namespace cfit

#endif  // CFIT_NUMERIC_NONNEGATIVE_QP_H
