// Least squares by Householder QR with column pivoting, and the column
// scaling that the fitting engine wraps around either factorisation.
//
// Storage is that of householder_qr.h: column-stored A (element (i, j) at
// a[j * lda + i]); after PivotedQR, A P = Q R with R's strict upper triangle
// in a, its diagonal in d, the reflectors below the diagonal with their
// scalars in c, and permutation[k] the original index of the column now at
// position k. Nothing here allocates.
#ifndef CFIT_NUMERIC_PIVOTED_QR_H
#define CFIT_NUMERIC_PIVOTED_QR_H

#include "core/run_context.h"

namespace cfit {

// The caller on whose behalf a factorisation runs (a fit), for cancellation,
// progress and the progress dots. `run` may be null. Another thread may set
// the cancel byte and read the progress while the factorisation runs; the
// run context accesses them atomically.
struct QrOwner {
  const RunContext* run = nullptr;  // cancel byte, progress fraction and log
  double progressStep = 0.0;        // the share of progress one factorisation covers
};

// Relative tolerances of SolvePivotedQR: loose for the fitting engine,
// strict for linear systems.
inline constexpr double kLooseSolveTolerance = 1e-8;
inline constexpr double kStrictSolveTolerance = 1e-15;

// Factorises A P = Q R in place, choosing at each step the remaining column
// of largest remaining norm (the first one on a tie). Column norms are
// downdated and recomputed when the downdate loses too many digits.
//   rows, cols   in      dimensions, >= 0
//   a            in/out  column-stored rows x cols, leading dimension lda
//   c, d         out     cols doubles each; also used as norm workspace
//   permutation  out     cols ints
//   owner        in      null: no cancellation, no progress
//   printDots    in      write "." (flushed) to the run log at each progress
//                        increment
// Before column k of cols: when the owner's cancel byte is non-zero, returns
// 0; when floor(80 (k + 1) / cols) != floor(80 k / cols), adds 0.0125 *
// progressStep to the owner's progress (and writes the dot when asked).
// Returns the number of leading k with |d[k]| >= 1e-15 |d[0]| (0 when d[0]
// is 0), or 0 when cancelled.
int PivotedQR(int rows, int cols, double* a, int lda, double* c, double* d, int* permutation,
              const QrOwner* owner, bool printDots);

// Least-squares solution from PivotedQR's output: b := Q^T b, then back
// substitution. A diagonal entry with |d[k]| < tol |d[0]| counts as
// negligible, tol = kLooseSolveTolerance when `loose`, kStrictSolveTolerance
// otherwise; its unknown is set to 0 and the remaining triangular system is
// solved.
//   a, c, d, permutation  in      as left by PivotedQR
//   b                     in/out  max(rows, cols) doubles: the right-hand side
//                                 in its first rows entries; the solution in
//                                 its first cols, in the original column order
//   work                  work    cols doubles
// Returns the number of unknowns solved for (cols minus the negligible ones;
// 0 when d[0] is 0).
int SolvePivotedQR(int rows, int cols, const double* a, int lda, const double* c, const double* d,
                   double* b, const int* permutation, double* work, bool loose);

// Divides each column of A by its largest absolute entry and keeps that
// entry in scale[j]; an all-zero column is left as it is with scale 0.
//   a      in/out  column-stored rows x cols, leading dimension lda
//   scale  out     cols doubles
void ScaleColumns(int rows, int cols, double* a, int lda, double* scale);

// Turns the solution of the scaled system into that of the original one:
// x[k] /= scale[k] wherever scale[k] != 0.
void UnscaleSolution(int cols, double* x, const double* scale);

}  // namespace cfit

#endif  // CFIT_NUMERIC_PIVOTED_QR_H
