// Eigenvalues of a general real matrix: balancing, reduction to upper
// Hessenberg form by elimination, and the Francis double-shift QR iteration.
// The usual sequence is BalanceMatrix, ReduceToHessenberg, hqr.
//
// Square matrices are stored by rows: element (i, j) of an n x n matrix is
// a[i * lda + j], lda >= n. (The fitter keeps the matrix in its working
// columns with lda = their length.) Only the reduction allocates
// (two vectors of n entries).
#ifndef CFIT_NUMERIC_EIGEN_GENERAL_H
#define CFIT_NUMERIC_EIGEN_GENERAL_H

namespace cfit {

// Iterations allowed for one eigenvalue or pair before hqr gives up.
inline constexpr int kHqrMaxIterations = 50;

// Balances A by a diagonal similarity of powers of two, so that the norms of
// row i and column i (diagonal excluded) become comparable; eigenvalues are
// unchanged and no rounding is introduced. Sweeps over all i are repeated
// until one changes nothing. For off-diagonal sums c (column) and r (row),
// both non-zero, the factor f is doubled while c < r / 2 (c multiplied by 4
// each time) and halved while c > 2 r (c divided by 4); row i is divided and
// column i multiplied by f only if (c + r) / f < 0.95 (c0 + r0).
//   a  in/out  n x n, row-stored with leading dimension lda
void BalanceMatrix(int n, double* a, int lda);

// Reduces A to upper Hessenberg form by stabilised elementary similarity
// transformations (Gaussian elimination, the largest entry of each column
// below the subdiagonal brought up by a row and column interchange). The
// entries below the subdiagonal are set to 0 on return.
//   a  in/out  n x n, row-stored with leading dimension lda
void ReduceToHessenberg(int n, double* a, int lda);

// All eigenvalues of an upper Hessenberg matrix by the shifted QR method
// with Francis double shifts (entries below the subdiagonal are not read).
// A complex-conjugate pair lands in adjacent positions with imaginary parts
// -z then +z. At iterations 10, 20, 30 and 40 on one eigenvalue an
// exceptional shift is taken. When an eigenvalue would need iteration 51,
// "No convergence in hqr after 50 iterations\n" goes to the run log and the
// result is 0; wr and wi are then incomplete.
//   a       in/out  n x n Hessenberg, row-stored, destroyed
//   wr, wi  out     n doubles each: real and imaginary parts
// Returns 1 on success, 0 on failure. `maxIterations` replaces the 50 for
// callers with large matrices, whose slowest eigenvalues may need more (the
// exceptional shifts then continue every 10 iterations).
int hqr(int n, double* a, int lda, double* wr, double* wi, int maxIterations = kHqrMaxIterations);

}  // namespace cfit

#endif  // CFIT_NUMERIC_EIGEN_GENERAL_H
