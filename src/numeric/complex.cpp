#include "numeric/complex.h"

namespace cfit {

Complex operator/(Complex a, Complex b) {
  if (std::fabs(b.re) >= std::fabs(b.im)) {
    const double r = b.im / b.re;
    const double den = b.re + r * b.im;
    return {(a.re + r * a.im) / den, (a.im - r * a.re) / den};
  }
  const double r = b.re / b.im;
  const double den = b.im + r * b.re;
  return {(a.re * r + a.im) / den, (a.im * r - a.re) / den};
}

Complex operator/(double x, Complex a) { return Complex(x, 0.0) / a; }

double Abs(Complex a) {
  const double x = std::fabs(a.re);
  const double y = std::fabs(a.im);
  if (x == 0.0) return y;
  if (y == 0.0) return x;
  if (x > y) {
    const double q = y / x;
    return x * std::sqrt(1.0 + q * q);
  }
  const double q = x / y;
  return y * std::sqrt(1.0 + q * q);
}

Complex Sqrt(Complex a) {
  if (a.re == 0.0 && a.im == 0.0) return {0.0, 0.0};
  const double x = std::fabs(a.re);
  const double y = std::fabs(a.im);
  double w;
  if (x >= y) {
    const double r = y / x;
    w = std::sqrt(x) * std::sqrt(0.5 * (1.0 + std::sqrt(1.0 + r * r)));
  } else {
    const double r = x / y;
    w = std::sqrt(y) * std::sqrt(0.5 * (r + std::sqrt(1.0 + r * r)));
  }
  if (a.re >= 0.0) return {w, a.im / (2.0 * w)};
  const double im = a.im >= 0.0 ? w : -w;
  return {a.im / (2.0 * im), im};
}

Complex Exp(Complex a) {
  const double m = std::exp(a.re);
  return {m * std::cos(a.im), m * std::sin(a.im)};
}

}  // namespace cfit
