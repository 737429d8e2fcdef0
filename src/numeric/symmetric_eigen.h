// Eigenvalues and eigenvectors of a real symmetric matrix: Householder
// reduction to tridiagonal form, then the QL iteration with implicit shifts.
//
// Matrices are stored by rows: element (i, j) of an n x n matrix is
// a[i * lda + j], lda >= n. Only the lower triangle (j <= i) of the input is
// read. Nothing here allocates.
#ifndef CFIT_NUMERIC_SYMMETRIC_EIGEN_H
#define CFIT_NUMERIC_SYMMETRIC_EIGEN_H

namespace cfit {

// Iterations allowed for one eigenvalue before tqli gives up.
inline constexpr int kTqliMaxIterations = 100;

// Householder reduction A = Q T Q^T to a symmetric tridiagonal T.
//   a           in/out  n x n symmetric, lower triangle read; on return Q
//                       when wantVectors, otherwise destroyed
//   d           out     n doubles: diagonal of T
//   e           out     n doubles: e[0] = 0, e[i] = T(i, i - 1) for i >= 1
void TridiagonalReduce(int n, double* a, int lda, double* d, double* e, bool wantVectors);

// QL iteration with implicit Wilkinson shifts on a symmetric tridiagonal
// matrix. When wantVectors, the plane rotations are applied to the columns of
// z: pass Q from TridiagonalReduce for the eigenvectors of A, or the identity
// for those of T. When one eigenvalue takes more than kTqliMaxIterations
// iterations, "Too many iterations in tqli\n" goes to the run log and the
// result is 0 (d and z are then incomplete).
//   d   in/out  n doubles: diagonal in, eigenvalues out (in no particular
//               order)
//   e   in/out  n doubles: subdiagonal as left by TridiagonalReduce
//               (e[i] = T(i, i - 1)), destroyed
//   z   in/out  n x n, row-stored with leading dimension ldz; column k is
//               the eigenvector of d[k] on return; not read without
//               wantVectors (may be null then)
// Returns 1 on success, 0 on failure.
int tqli(int n, double* d, double* e, double* z, int ldz, bool wantVectors);

// TridiagonalReduce followed by tqli.
//   a            in/out  n x n symmetric, lower triangle read; with
//                        wantVectors column k holds the unit eigenvector of
//                        eigenvalues[k] on return, otherwise destroyed
//   eigenvalues  out     n doubles, in no particular order
//   work         work    n doubles
// Returns 1 on success, 0 when tqli fails.
int SymmetricEigen(int n, double* a, int lda, double* eigenvalues, double* work, bool wantVectors);

}  // namespace cfit

#endif  // CFIT_NUMERIC_SYMMETRIC_EIGEN_H
