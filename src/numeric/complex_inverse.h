// Complex linear algebra through the real embedding: a complex n x n matrix
// M = R + jX becomes the real 2n x 2n matrix [R -X; X R], and a complex
// vector its n real parts followed by its n imaginary parts. The embedded
// system is solved with the pivoted QR of pivoted_qr.h; a complex matrix
// counts as singular when that factorisation's rank is below 2n.
//
// Complex matrices are stored by rows, element (i, j) at m[i * n + j] (the
// layout of PortMatrix). Nothing here allocates.
#ifndef CFIT_NUMERIC_COMPLEX_INVERSE_H
#define CFIT_NUMERIC_COMPLEX_INVERSE_H

#include "numeric/complex.h"

namespace cfit {

// Writes the real embedding of M as a column-stored 2n x 2n matrix.
//   m  in   n x n complex, row-stored
//   a  out  column-stored 2n x 2n with leading dimension lda >= 2n
void EmbedComplexMatrix(int n, const Complex* m, double* a, int lda);

// Inverse of M: the embedding is factorised once with PivotedQR (no owner,
// no dots), then each unit right-hand side e_k is solved with SolvePivotedQR
// at the strict tolerance and becomes column k of the inverse. A singular M
// gets the solver's basic solutions (negligible unknowns 0), as it comes.
//   m            in   n x n complex, row-stored
//   inverse      out  n x n complex, row-stored; may be the same array as m
//   a            work 4 n^2 doubles (the embedding, leading dimension 2n)
//   c, d         work 2n doubles each
//   permutation  work 2n ints
//   rhs, work    work 2n doubles each
// Returns 1, or 0 (inverse untouched) when the factorisation returns 0,
// which happens when M is zero.
int InvertComplexMatrix(int n, const Complex* m, Complex* inverse, double* a, double* c, double* d,
                        int* permutation, double* rhs, double* work);

}  // namespace cfit

#endif  // CFIT_NUMERIC_COMPLEX_INVERSE_H
