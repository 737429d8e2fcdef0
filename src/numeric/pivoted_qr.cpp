#include "numeric/pivoted_qr.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "io/run_log.h"
#include "numeric/householder_qr.h"
#include "numeric/householder_reflector.h"

namespace cfit {

using householder::ApplyReflector;
using householder::At;
using householder::BackSubstitute;
using householder::MakeReflector;
using householder::Norm2;

namespace {

// Number of progress increments one factorisation is split into.
constexpr int kProgressSlots = 80;

bool Cancelled(const QrOwner* owner) {
  return owner != nullptr && owner->run != nullptr && owner->run->Cancelled();
}

// Progress bookkeeping before column k of n.
void ReportProgress(int k, int n, const QrOwner* owner, bool printDots) {
  const long long before = static_cast<long long>(kProgressSlots) * k / n;
  const long long after = static_cast<long long>(kProgressSlots) * (k + 1) / n;
  if (before == after) return;
  const RunContext* run = owner != nullptr ? owner->run : nullptr;
  if (run != nullptr) run->AddProgress(0.0125 * owner->progressStep);
  if (printDots) {
    if (run != nullptr) {
      run->WriteFlushed(".");
    } else {
      runlog::WriteFlushed(".");
    }
  }
}

void SwapColumns(double* a, int lda, int rows, int p, int q) {
  std::swap_ranges(a + At(0, p, lda), a + At(0, p, lda) + rows, a + At(0, q, lda));
}

}  // namespace

int PivotedQR(int rows, int cols, double* a, int lda, double* c, double* d, int* permutation,
              const QrOwner* owner, bool printDots) {
  // Until column j is reached, d[j] holds its remaining norm and c[j] the
  // norm it had when last computed in full (the reference of the downdate).
  for (int j = 0; j < cols; ++j) {
    permutation[j] = j;
    d[j] = c[j] = Norm2(a + At(0, j, lda), rows);
  }
  // A downdated norm whose square has shrunk below this fraction of its
  // reference has lost about half of its digits and is recomputed.
  const double recomputeBelow = std::sqrt(std::numeric_limits<double>::epsilon());

  for (int k = 0; k < cols; ++k) {
    if (Cancelled(owner)) return 0;
    ReportProgress(k, cols, owner, printDots);
    if (k >= rows) {
      c[k] = 0.0;
      d[k] = 0.0;
      continue;
    }

    int pivot = k;
    for (int j = k + 1; j < cols; ++j) {
      if (d[j] > d[pivot]) pivot = j;
    }
    if (pivot != k) {
      SwapColumns(a, lda, rows, pivot, k);
      std::swap(permutation[pivot], permutation[k]);
      d[pivot] = d[k];
      c[pivot] = c[k];
    }

    const int len = rows - k;
    double* u = a + At(k, k, lda);
    MakeReflector(u, len, c[k], d[k]);
    for (int j = k + 1; j < cols; ++j) {
      double* column = a + At(0, j, lda);
      ApplyReflector(u, len, c[k], column + k);
      if (d[j] == 0.0) continue;
      // Remove the part now in row k of R from the remaining norm.
      double ratio = std::fabs(column[k]) / d[j];
      double shrink = std::max(0.0, (1.0 - ratio) * (1.0 + ratio));
      ratio = d[j] / c[j];
      if (shrink * ratio * ratio <= recomputeBelow) {
        d[j] = c[j] = Norm2(column + k + 1, rows - k - 1);
      } else {
        d[j] *= std::sqrt(shrink);
      }
    }
  }

  const int steps = std::min(rows, cols);
  if (steps == 0 || d[0] == 0.0) return 0;
  const double threshold = kQrRankTolerance * std::fabs(d[0]);
  int rank = 0;
  while (rank < steps && std::fabs(d[rank]) >= threshold) ++rank;
  return rank;
}

int SolvePivotedQR(int rows, int cols, const double* a, int lda, const double* c, const double* d,
                   double* b, const int* permutation, double* work, bool loose) {
  const int steps = std::min(rows, cols);
  for (int k = 0; k < steps; ++k) ApplyReflector(a + At(k, k, lda), rows - k, c[k], b + k);

  if (cols == 0) return 0;
  const double tolerance = loose ? kLooseSolveTolerance : kStrictSolveTolerance;
  const double threshold = tolerance * std::fabs(d[0]);
  for (int k = 0; k < cols; ++k) work[k] = k < rows ? b[k] : 0.0;
  int solved = 0;
  if (d[0] != 0.0) {
    for (int k = 0; k < cols; ++k) {
      if (std::fabs(d[k]) >= threshold && d[k] != 0.0) ++solved;
    }
  }
  // With d[0] = 0 every unknown is negligible.
  BackSubstitute(cols, a, lda, d, d[0] != 0.0 ? threshold : std::numeric_limits<double>::infinity(),
                 work);
  for (int k = 0; k < cols; ++k) b[permutation[k]] = work[k];
  return solved;
}

void ScaleColumns(int rows, int cols, double* a, int lda, double* scale) {
  for (int j = 0; j < cols; ++j) {
    double* column = a + At(0, j, lda);
    const double m = householder::MaxAbs(column, rows);
    scale[j] = m;
    if (m == 0.0) continue;
    for (int i = 0; i < rows; ++i) column[i] /= m;
  }
}

void UnscaleSolution(int cols, double* x, const double* scale) {
  for (int k = 0; k < cols; ++k) {
    if (scale[k] != 0.0) x[k] /= scale[k];
  }
}

}  // namespace cfit
