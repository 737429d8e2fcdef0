#include "numeric/symmetric_eigen.h"

#include <cmath>
#include <cstddef>

#include "io/run_log.h"

namespace cfit {

namespace {

class RowMatrix {
 public:
  RowMatrix(double* a, int lda) : a_(a), lda_(lda) {}
  double& operator()(int i, int j) const { return a_[static_cast<std::ptrdiff_t>(i) * lda_ + j]; }

 private:
  double* a_;
  int lda_;
};

// sqrt(a^2 + b^2) without overflow or destructive underflow.
double Pythag(double a, double b) {
  const double x = std::fabs(a);
  const double y = std::fabs(b);
  if (x > y) {
    const double t = y / x;
    return x * std::sqrt(1.0 + t * t);
  }
  if (y == 0.0) return 0.0;
  const double t = x / y;
  return y * std::sqrt(1.0 + t * t);
}

}  // namespace

void TridiagonalReduce(int n, double* a, int lda, double* d, double* e, bool wantVectors) {
  const RowMatrix m(a, lda);
  // Annihilate row i left of its subdiagonal, for i = n-1 down to 2. The
  // Householder vector u is kept in row i (scaled) and u / h in column i,
  // for the accumulation of Q afterwards; d[i] holds h meanwhile.
  for (int i = n - 1; i > 0; --i) {
    const int l = i - 1;
    double h = 0.0;
    if (l > 0) {
      double scale = 0.0;
      for (int k = 0; k <= l; ++k) scale += std::fabs(m(i, k));
      if (scale == 0.0) {
        e[i] = m(i, l);  // nothing to annihilate
      } else {
        for (int k = 0; k <= l; ++k) {
          m(i, k) /= scale;
          h += m(i, k) * m(i, k);
        }
        double f = m(i, l);
        double g = f >= 0.0 ? -std::sqrt(h) : std::sqrt(h);
        e[i] = scale * g;
        h -= f * g;
        m(i, l) = f - g;
        // p = A u / h (in e), then K = u^T p / 2h.
        f = 0.0;
        for (int j = 0; j <= l; ++j) {
          if (wantVectors) m(j, i) = m(i, j) / h;
          g = 0.0;
          for (int k = 0; k <= j; ++k) g += m(j, k) * m(i, k);
          for (int k = j + 1; k <= l; ++k) g += m(k, j) * m(i, k);
          e[j] = g / h;
          f += e[j] * m(i, j);
        }
        const double hh = f / (h + h);
        // A := A - q u^T - u q^T with q = p - K u (lower triangle).
        for (int j = 0; j <= l; ++j) {
          f = m(i, j);
          g = e[j] - hh * f;
          e[j] = g;
          for (int k = 0; k <= j; ++k) m(j, k) -= f * e[k] + g * m(i, k);
        }
      }
    } else {
      e[i] = m(i, l);
    }
    d[i] = h;
  }
  if (n > 0) {
    d[0] = 0.0;
    e[0] = 0.0;
  }
  // Accumulate Q from the stored reflectors (when asked) and collect the
  // diagonal.
  for (int i = 0; i < n; ++i) {
    if (wantVectors) {
      if (d[i] != 0.0) {
        for (int j = 0; j < i; ++j) {
          double g = 0.0;
          for (int k = 0; k < i; ++k) g += m(i, k) * m(k, j);
          for (int k = 0; k < i; ++k) m(k, j) -= g * m(k, i);
        }
      }
      d[i] = m(i, i);
      m(i, i) = 1.0;
      for (int j = 0; j < i; ++j) m(j, i) = m(i, j) = 0.0;
    } else {
      d[i] = m(i, i);
    }
  }
}

int tqli(int n, double* d, double* e, double* z, int ldz, bool wantVectors) {
  if (n <= 0) return 1;
  // Renumber the subdiagonal so that e[i] = T(i + 1, i).
  for (int i = 1; i < n; ++i) e[i - 1] = e[i];
  e[n - 1] = 0.0;

  for (int l = 0; l < n; ++l) {
    int iterations = 0;
    for (;;) {
      // Find a negligible subdiagonal element e[m] splitting the matrix.
      int m = l;
      for (; m < n - 1; ++m) {
        const double dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
        if (std::fabs(e[m]) + dd == dd) break;
      }
      if (m == l) break;  // d[l] has converged
      if (iterations == kTqliMaxIterations) {
        runlog::Write("Too many iterations in tqli\n");
        return 0;
      }
      ++iterations;

      // Wilkinson shift from the leading 2 x 2 block, then the implicit QL
      // sweep from m - 1 up to l by plane rotations.
      double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
      double r = Pythag(g, 1.0);
      g = d[m] - d[l] + e[l] / (g + std::copysign(r, g));
      double s = 1.0;
      double c = 1.0;
      double p = 0.0;
      int i = m - 1;
      for (; i >= l; --i) {
        double f = s * e[i];
        const double b = c * e[i];
        r = Pythag(f, g);
        e[i + 1] = r;
        if (r == 0.0) {  // underflow: deflate and start again
          d[i + 1] -= p;
          e[m] = 0.0;
          break;
        }
        s = f / r;
        c = g / r;
        g = d[i + 1] - p;
        r = (d[i] - g) * s + 2.0 * c * b;
        p = s * r;
        d[i + 1] = g + p;
        g = c * r - b;
        if (wantVectors) {
          for (int k = 0; k < n; ++k) {
            double* row = z + static_cast<std::ptrdiff_t>(k) * ldz;
            f = row[i + 1];
            row[i + 1] = s * row[i] + c * f;
            row[i] = c * row[i] - s * f;
          }
        }
      }
      if (r == 0.0 && i >= l) continue;
      d[l] -= p;
      e[l] = g;
      e[m] = 0.0;
    }
  }
  return 1;
}

int SymmetricEigen(int n, double* a, int lda, double* eigenvalues, double* work, bool wantVectors) {
  TridiagonalReduce(n, a, lda, eigenvalues, work, wantVectors);
  return tqli(n, eigenvalues, work, a, lda, wantVectors);
}

}  // namespace cfit
