// Least squares by Householder QR without pivoting.
//
// The matrix is stored by columns: element (i, j) of a rows x cols matrix is
// a[j * lda + i], lda >= rows (one array of rows doubles per unknown). After
// the factorisation the strict upper triangle of a holds R without its
// diagonal, which is in d; column k from row k down holds the Householder
// vector u_k of H_k = I - u_k u_k^T / c[k] (c[k] = 0: H_k = I). A = Q R with
// Q = H_0 H_1 ... . Nothing here allocates.
#ifndef CFIT_NUMERIC_HOUSEHOLDER_QR_H
#define CFIT_NUMERIC_HOUSEHOLDER_QR_H

namespace cfit {

// Relative threshold below which a diagonal entry of R counts as zero.
inline constexpr double kQrRankTolerance = 1e-15;

// Factorises A in place. Before its reflector is formed, each column's
// remaining part is divided by its largest modulus; a remaining part that is
// all zero gives c[k] = d[k] = 0. Columns at or beyond `rows` (more unknowns
// than equations) get no reflector and c = d = 0.
//   rows, cols  in      dimensions, >= 0
//   a           in/out  column-stored rows x cols, leading dimension lda
//   c, d        out     cols doubles each: reflector scalars, diagonal of R
// Returns the numerical rank: cols minus the number of k with
// |d[k]| < kQrRankTolerance * max|d|; 0 when every d[k] is 0.
int HouseholderQR(int rows, int cols, double* a, int lda, double* c, double* d);

// Least-squares solution of A x ~ b from HouseholderQR's output: b := Q^T b,
// then back substitution with R. Unknowns whose diagonal entry counts as zero
// (as in HouseholderQR's rank) are set to 0 and take no part in the rest.
//   a, c, d     in      as left by HouseholderQR
//   b           in/out  max(rows, cols) doubles: the right-hand side in its
//                       first rows entries; the solution x in its first cols
void SolveQR(int rows, int cols, const double* a, int lda, const double* c, const double* d,
             double* b);

}  // namespace cfit

#endif  // CFIT_NUMERIC_HOUSEHOLDER_QR_H
