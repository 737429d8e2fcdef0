#include "numeric/householder_qr.h"

#include <algorithm>
#include <cmath>

#include "numeric/householder_reflector.h"

namespace cfit {

using householder::ApplyReflector;
using householder::At;
using householder::BackSubstitute;
using householder::MakeReflector;

namespace {

// Largest |d[k]| over k < cols.
double LargestDiagonal(int cols, const double* d) {
  double m = 0.0;
  for (int k = 0; k < cols; ++k) m = std::max(m, std::fabs(d[k]));
  return m;
}

}  // namespace

int HouseholderQR(int rows, int cols, double* a, int lda, double* c, double* d) {
  for (int k = 0; k < cols; ++k) {
    if (k >= rows) {
      c[k] = 0.0;
      d[k] = 0.0;
      continue;
    }
    const int len = rows - k;
    double* u = a + At(k, k, lda);
    MakeReflector(u, len, c[k], d[k]);
    if (c[k] == 0.0) continue;
    for (int j = k + 1; j < cols; ++j) ApplyReflector(u, len, c[k], a + At(k, j, lda));
  }
  const double largest = LargestDiagonal(cols, d);
  if (largest == 0.0) return 0;
  int rank = cols;
  for (int k = 0; k < cols; ++k) {
    if (std::fabs(d[k]) < kQrRankTolerance * largest) --rank;
  }
  return rank;
}

void SolveQR(int rows, int cols, const double* a, int lda, const double* c, const double* d,
             double* b) {
  const int steps = std::min(rows, cols);
  for (int k = 0; k < steps; ++k) ApplyReflector(a + At(k, k, lda), rows - k, c[k], b + k);
  const double largest = LargestDiagonal(cols, d);
  BackSubstitute(cols, a, lda, d, kQrRankTolerance * largest, b);
}

}  // namespace cfit
