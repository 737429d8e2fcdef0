// Complex value shared by every subsystem: two doubles, real part first.
//
// Division uses Smith's method and the modulus and square root avoid
// overflow of the intermediate squares, so values near the double range stay
// finite where a naive formula would not.
#ifndef CFIT_NUMERIC_COMPLEX_H
#define CFIT_NUMERIC_COMPLEX_H

#include <cmath>

namespace cfit {

struct Complex {
  double re = 0.0;
  double im = 0.0;

  constexpr Complex() = default;
  constexpr Complex(double r, double i = 0.0) : re(r), im(i) {}

  friend constexpr bool operator==(const Complex&, const Complex&) = default;
};

constexpr Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
constexpr Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
constexpr Complex operator-(Complex a) { return {-a.re, -a.im}; }
constexpr Complex operator*(Complex a, Complex b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
// Mixed real operations: add/subtract real, real minus complex, scale,
// divide by real.
constexpr Complex operator+(Complex a, double x) { return {a.re + x, a.im}; }
constexpr Complex operator+(double x, Complex a) { return {a.re + x, a.im}; }
constexpr Complex operator-(Complex a, double x) { return {a.re - x, a.im}; }
constexpr Complex operator-(double x, Complex a) { return {x - a.re, -a.im}; }
constexpr Complex operator*(Complex a, double x) { return {a.re * x, a.im * x}; }
constexpr Complex operator*(double x, Complex a) { return {a.re * x, a.im * x}; }
constexpr Complex operator/(Complex a, double x) { return {a.re / x, a.im / x}; }

inline Complex& operator+=(Complex& a, Complex b) { return a = a + b; }
inline Complex& operator-=(Complex& a, Complex b) { return a = a - b; }
inline Complex& operator*=(Complex& a, Complex b) { return a = a * b; }
inline Complex& operator*=(Complex& a, double x) { return a = a * x; }

constexpr Complex Conj(Complex a) { return {a.re, -a.im}; }

// a / b by Smith's method: divide through by the larger component of b.
Complex operator/(Complex a, Complex b);
// x / a by Smith's method.
Complex operator/(double x, Complex a);
inline Complex& operator/=(Complex& a, Complex b) { return a = a / b; }

// |a| as m * sqrt(1 + (n/m)^2), m the larger and n the smaller of |re|, |im|;
// when either component is 0, the other's absolute value.
double Abs(Complex a);

// Magnitude as max(|re|, |im|) * sqrt(1 + (min/max)^2), 0 when both are 0.
// Equal to Abs; kept as one name for the data statistics.
inline double Magnitude(Complex a) { return Abs(a); }

// Principal square root; 0 for 0.
Complex Sqrt(Complex a);

// e^re * (cos im, sin im).
Complex Exp(Complex a);

}  // namespace cfit

#endif  // CFIT_NUMERIC_COMPLEX_H
