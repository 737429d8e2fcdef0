#include "numeric/complex_inverse.h"

#include <cstddef>

#include "numeric/pivoted_qr.h"

namespace cfit {

void EmbedComplexMatrix(int n, const Complex* m, double* a, int lda) {
  const auto at = [lda](int row, int col) { return static_cast<std::ptrdiff_t>(col) * lda + row; };
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const Complex v = m[static_cast<std::ptrdiff_t>(i) * n + j];
      a[at(i, j)] = v.re;
      a[at(i, j + n)] = -v.im;
      a[at(i + n, j)] = v.im;
      a[at(i + n, j + n)] = v.re;
    }
  }
}

int InvertComplexMatrix(int n, const Complex* m, Complex* inverse, double* a, double* c, double* d,
                        int* permutation, double* rhs, double* work) {
  const int order = 2 * n;
  EmbedComplexMatrix(n, m, a, order);
  if (PivotedQR(order, order, a, order, c, d, permutation, nullptr, false) == 0) return 0;
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < order; ++i) rhs[i] = 0.0;
    rhs[k] = 1.0;
    SolvePivotedQR(order, order, a, order, c, d, rhs, permutation, work, false);
    for (int i = 0; i < n; ++i) {
      inverse[static_cast<std::ptrdiff_t>(i) * n + k] = Complex(rhs[i], rhs[i + n]);
    }
  }
  return 1;
}

}  // namespace cfit
