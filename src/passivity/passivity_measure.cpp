#include "passivity/passivity_measure.h"

#include <algorithm>
#include <cmath>

#include "numeric/symmetric_eigen.h"

namespace cfit {

namespace {

// Element (i, j) as the measure reads it: the lower triangle mirrored for a
// symmetric matrix.
Complex Element(ConstMatrixView h, bool symmetric, int i, int j) {
  return (symmetric && j > i) ? h.At(j, i) : h.At(i, j);
}

// Writes the Hermitian matrix p (N x N) as [Re P, -Im P; Im P, Re P].
void Embed(const std::vector<Complex>& p, int n, double* a, int lda) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const Complex v = p[static_cast<std::size_t>(i) * n + j];
      a[i * lda + j] = v.re;
      a[i * lda + n + j] = -v.im;
      a[(n + i) * lda + j] = v.im;
      a[(n + i) * lda + n + j] = v.re;
    }
  }
}

}  // namespace

MeasureWorkspace::MeasureWorkspace(int n)
    : n_(n),
      square_(static_cast<std::size_t>(4) * n * n),
      eigenvalues_(static_cast<std::size_t>(2) * n),
      work_(static_cast<std::size_t>(2) * n) {}

bool MeasureWorkspace::LargestEigenvalue(int order, double* value) {
  if (SymmetricEigen(order, square_.data(), lda(), eigenvalues_.data(), work_.data(), false) == 0) {
    return false;
  }
  double largest = 0.0;
  for (int k = 0; k < order; ++k) largest = std::max(largest, eigenvalues_[k]);
  *value = largest;
  return std::isfinite(largest);
}

bool MeasurableType(int dataType) { return dataType == kS || dataType == kY || dataType == kZ; }

bool PassivityMeasure(ConstMatrixView h, int dataType, bool symmetric, MeasureWorkspace& work,
                      double* measure) {
  *measure = 0.0;
  const int n = h.order();
  if (n == 0) return true;
  std::vector<Complex> p(static_cast<std::size_t>(n) * n);
  if (dataType == kS) {
    // P = H H^H.
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        Complex sum;
        for (int k = 0; k < n; ++k)
          sum += Element(h, symmetric, i, k) * Conj(Element(h, symmetric, j, k));
        p[static_cast<std::size_t>(i) * n + j] = sum;
      }
    }
  } else if (symmetric) {
    // Q = I - Re H, real symmetric of order N.
    double* a = work.square();
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        a[i * work.lda() + j] = (i == j ? 1.0 : 0.0) - Element(h, true, i, j).re;
      }
    }
    return work.LargestEigenvalue(n, measure);
  } else {
    // Q = I - (H + H^H) / 2.
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const Complex hermitian = 0.5 * (h.At(i, j) + Conj(h.At(j, i)));
        p[static_cast<std::size_t>(i) * n + j] = Complex(i == j ? 1.0 : 0.0) - hermitian;
      }
    }
  }
  Embed(p, n, work.square(), work.lda());
  return work.LargestEigenvalue(2 * n, measure);
}

double PassivityMargin(double measure, int dataType) {
  return dataType == kS ? 1.0 - std::sqrt(measure) : 1.0 - measure;
}

}  // namespace cfit
