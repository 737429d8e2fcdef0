#include "numeric/complex.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <complex>

namespace cfit {
namespace {

void ExpectNear(Complex got, std::complex<double> want, double tol) {
  EXPECT_NEAR(got.re, want.real(), tol * std::max(1.0, std::abs(want)));
  EXPECT_NEAR(got.im, want.imag(), tol * std::max(1.0, std::abs(want)));
}

TEST(Complex, ArithmeticAgreesWithStdComplex) {
  const Complex samples[] = {{1.5, -2.0}, {-3.0, 0.25}, {0.0, 4.0}, {7.0, 0.0}, {-1e-3, -1e3}};
  for (Complex a : samples) {
    for (Complex b : samples) {
      const std::complex<double> sa(a.re, a.im), sb(b.re, b.im);
      ExpectNear(a + b, sa + sb, 1e-15);
      ExpectNear(a - b, sa - sb, 1e-15);
      ExpectNear(a * b, sa * sb, 1e-15);
      ExpectNear(a / b, sa / sb, 1e-15);
      ExpectNear(2.5 / b, 2.5 / sb, 1e-15);
    }
    const std::complex<double> sa(a.re, a.im);
    ExpectNear(3.0 - a, 3.0 - sa, 1e-15);
    ExpectNear(Sqrt(a), std::sqrt(sa), 1e-15);
    ExpectNear(Exp(a * 0.01), std::exp(sa * 0.01), 1e-14);
    EXPECT_NEAR(Abs(a), std::abs(sa), 1e-15 * std::abs(sa));
  }
}

TEST(Complex, DivisionAndModulusDoNotOverflowNearTheDoubleRange) {
  const Complex big{1e300, 1e300};
  EXPECT_DOUBLE_EQ(Abs(big), std::sqrt(2.0) * 1e300);
  const Complex q = big / Complex{2e300, 2e300};
  EXPECT_DOUBLE_EQ(q.re, 0.5);
  EXPECT_DOUBLE_EQ(q.im, 0.0);
  const Complex tiny{1e-300, -1e-300};
  EXPECT_DOUBLE_EQ(Abs(tiny), std::sqrt(2.0) * 1e-300);
  const Complex r = Sqrt(Complex{DBL_MAX, DBL_MAX});
  EXPECT_TRUE(std::isfinite(r.re) && std::isfinite(r.im));
}

TEST(Complex, SquareRootBranches) {
  EXPECT_EQ(Sqrt({0.0, 0.0}), Complex(0.0, 0.0));
  EXPECT_EQ(Sqrt({-4.0, 0.0}), Complex(0.0, 2.0));  // principal root of a negative real
  ExpectNear(Sqrt({-3.0, 4.0}), {1.0, 2.0}, 1e-15);
  ExpectNear(Sqrt({-3.0, -4.0}), {1.0, -2.0}, 1e-15);
  ExpectNear(Sqrt({3.0, -4.0}), {2.0, -1.0}, 1e-15);
  ExpectNear(Sqrt({0.0, 2.0}), {1.0, 1.0}, 1e-15);
}

TEST(Complex, ModulusWithOneZeroComponentIsTheOther) {
  EXPECT_EQ(Abs({0.0, -3.0}), 3.0);
  EXPECT_EQ(Abs({-5.0, 0.0}), 5.0);
  EXPECT_EQ(Abs({0.0, 0.0}), 0.0);
}

}  // namespace
}  // namespace cfit
