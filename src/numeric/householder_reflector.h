// Building blocks shared by the plain and the column-pivoted Householder QR:
// contiguous dot product and update, and one Householder reflector.
//
// A reflector is held as a vector u (stored in place of the column part it
// annihilates) and a scalar c with H = I - u u^T / c, c = u^T u / 2. c = 0
// stands for the identity (a column part that was already zero).
#ifndef CFIT_NUMERIC_HOUSEHOLDER_REFLECTOR_H
#define CFIT_NUMERIC_HOUSEHOLDER_REFLECTOR_H

#include <cmath>
#include <cstddef>

namespace cfit::householder {

// Offset of element `row` of column `col` in a column-stored array with
// leading dimension `lda`.
inline std::ptrdiff_t At(int row, int col, int lda) {
  return static_cast<std::ptrdiff_t>(col) * lda + row;
}

// x . y over n entries. Four partial sums keep several multiply-adds in
// flight; the summation order is fixed, so results are reproducible.
inline double Dot(const double* x, const double* y, int n) {
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += x[i] * y[i];
    s1 += x[i + 1] * y[i + 1];
    s2 += x[i + 2] * y[i + 2];
    s3 += x[i + 3] * y[i + 3];
  }
  for (; i < n; ++i) s0 += x[i] * y[i];
  return (s0 + s1) + (s2 + s3);
}

// y += alpha * x over n entries.
inline void Axpy(double alpha, const double* x, double* y, int n) {
  for (int i = 0; i < n; ++i) y[i] += alpha * x[i];
}

// Largest |v[i]| over n entries (0 for n = 0).
inline double MaxAbs(const double* v, int n) {
  double m = 0.0;
  for (int i = 0; i < n; ++i) m = std::fmax(m, std::fabs(v[i]));
  return m;
}

// Euclidean norm of v[0..n) without overflow or harmful underflow: the plain
// sum of squares when it lands in the safe range, otherwise the sum of
// squares of v / max|v|.
inline double Norm2(const double* v, int n) {
  const double sum = Dot(v, v, n);
  if (sum > 1e-280 && sum < 1e280) return std::sqrt(sum);
  const double m = MaxAbs(v, n);
  if (m == 0.0) return 0.0;
  double s = 0.0;
  for (int i = 0; i < n; ++i) {
    const double t = v[i] / m;
    s += t * t;
  }
  return m * std::sqrt(s);
}

// Turns v[0..len) into the reflector that maps it to d * e1. v is first
// divided by its largest modulus, so the squares can neither overflow nor
// underflow; the reflector is invariant to that scale. A zero v is left as it
// is, with c = d = 0.
inline void MakeReflector(double* v, int len, double& c, double& d) {
  const double scale = MaxAbs(v, len);
  if (scale == 0.0) {
    c = 0.0;
    d = 0.0;
    return;
  }
  for (int i = 0; i < len; ++i) v[i] /= scale;
  const double sigma = std::copysign(std::sqrt(Dot(v, v, len)), v[0]);
  v[0] += sigma;
  c = sigma * v[0];
  d = -scale * sigma;
}

// x[0..len) := H x for the reflector (u, c).
inline void ApplyReflector(const double* u, int len, double c, double* x) {
  if (c == 0.0) return;
  const double tau = Dot(u, x, len) / c;
  Axpy(-tau, u, x, len);
}

// Back substitution R x = y for the upper triangle of a column-stored R
// (strict upper part in a, diagonal in d). Unknowns whose diagonal entry is 0,
// below `threshold` in modulus or not a number are set to 0 and take no part
// in the rest. y comes in and x goes out through b[0..cols). Works column by
// column so that every access to R runs down a contiguous column.
inline void BackSubstitute(int cols, const double* a, int lda, const double* d, double threshold,
                           double* b) {
  for (int k = cols - 1; k >= 0; --k) {
    if (!(std::fabs(d[k]) >= threshold) || d[k] == 0.0) {
      b[k] = 0.0;
      continue;
    }
    const double x = b[k] / d[k];
    b[k] = x;
    if (x != 0.0) Axpy(-x, a + At(0, k, lda), b, k);
  }
}

}  // namespace cfit::householder

#endif  // CFIT_NUMERIC_HOUSEHOLDER_REFLECTOR_H
