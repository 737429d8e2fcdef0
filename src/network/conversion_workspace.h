// The workspace of the S/Y/Z conversions and the complex solves built on
// them.
//
// The 2N x 2N real system (the real embedding of a complex N x N matrix,
// column-stored), the pivoted-QR vectors and one real right-hand side come
// from the fitter's working set; the N x N complex right-hand sides are the
// fitter's own conversion matrix. Complex matrices are row-stored, element
// (i, j) at x[i * n + j], the layout of PortMatrix.
#ifndef CFIT_NETWORK_CONVERSION_WORKSPACE_H
#define CFIT_NETWORK_CONVERSION_WORKSPACE_H

#include "api/fitter_state.h"
#include "numeric/complex.h"

namespace cfit {

struct ConversionWorkspace {
  int n = 0;
  double* system = nullptr;  // 2n x 2n, column-stored, leading dimension lda = 2n
  int lda = 0;
  double* c = nullptr;  // 2n each: the factorisation's vectors
  double* d = nullptr;
  int* permutation = nullptr;
  double* column = nullptr;  // 2n: one right-hand side in, its solution out
  double* work = nullptr;    // 2n
  Complex* rhs = nullptr;    // n x n right-hand sides, one per column
};

// Binds `ws` to the fitter's storage for n ports, growing the working set to
// at least 2n x 2n and the conversion matrix to n x n (new entries zero).
// Returns false, binding nothing, when n < 1 or the storage cannot be had.
bool BindConversionWorkspace(FitterState& state, int n, ConversionWorkspace& ws);

// Factorises the system held in ws.system once with PivotedQR and solves it
// at the strict tolerance for each column k of ws.rhs; the solution becomes
// column k of x (n x n). Every entry of x is written from the solver's
// output. Returns true when the system has full rank 2n. A singular system
// yields the solver's basic solution (the unknowns of negligible pivots 0,
// all of them when the system is zero) and false.
bool SolveForColumns(ConversionWorkspace& ws, Complex* x);

}  // namespace cfit

#endif  // CFIT_NETWORK_CONVERSION_WORKSPACE_H
