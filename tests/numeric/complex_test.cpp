// Complex values against std::complex, the complex inverse through the real
// embedding against LAPACK's zgesv, and the bounds of the small containers.
#include "numeric/complex.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "numeric/complex_inverse.h"
#include "numeric/element_table.h"
#include "numeric/lapack_reference.h"
#include "numeric/pole_term.h"
#include "numeric/port_matrix.h"

namespace cfit {
namespace {

void ExpectNear(Complex got, std::complex<double> want, double tol) {
  EXPECT_NEAR(got.re, want.real(), tol * std::max(1.0, std::abs(want)));
  EXPECT_NEAR(got.im, want.imag(), tol * std::max(1.0, std::abs(want)));
}

// Samples on every branch of the square root: the axes, each quadrant, 0.
TEST(Complex, ArithmeticAgreesWithStdComplex) {
  const Complex samples[] = {{1.5, -2.0}, {-3.0, 0.25}, {0.0, 4.0},   {7.0, 0.0},  {-1e-3, -1e3},
                             {-4.0, 0.0}, {-3.0, 4.0},  {-3.0, -4.0}, {3.0, -4.0}, {0.0, -3.0}};
  for (Complex a : samples) {
    const std::complex<double> sa(a.re, a.im);
    for (Complex b : samples) {
      const std::complex<double> sb(b.re, b.im);
      ExpectNear(a + b, sa + sb, 1e-15);
      ExpectNear(a - b, sa - sb, 1e-15);
      ExpectNear(a * b, sa * sb, 1e-15);
      ExpectNear(a / b, sa / sb, 1e-15);
      ExpectNear(2.5 / b, 2.5 / sb, 1e-15);
    }
    ExpectNear(3.0 - a, 3.0 - sa, 1e-15);
    ExpectNear(Sqrt(a), std::sqrt(sa), 1e-15);
    ExpectNear(Exp(a * 0.01), std::exp(sa * 0.01), 1e-14);
    EXPECT_NEAR(Abs(a), std::abs(sa), 1e-15 * std::abs(sa));
  }
  EXPECT_EQ(Sqrt({0.0, 0.0}), Complex(0.0, 0.0));
  EXPECT_EQ(Abs({0.0, 0.0}), 0.0);
}

TEST(Complex, DivisionAndModulusDoNotOverflowNearTheDoubleRange) {
  EXPECT_DOUBLE_EQ(Abs({1e300, 1e300}), std::sqrt(2.0) * 1e300);
  EXPECT_DOUBLE_EQ(Abs({1e-300, -1e-300}), std::sqrt(2.0) * 1e-300);
  const Complex q = Complex{1e300, 1e300} / Complex{2e300, 2e300};
  EXPECT_DOUBLE_EQ(q.re, 0.5);
  EXPECT_DOUBLE_EQ(q.im, 0.0);
  const Complex r = Sqrt(Complex{DBL_MAX, DBL_MAX});
  EXPECT_TRUE(std::isfinite(r.re) && std::isfinite(r.im));
}

// Inversion with an exactly sized workspace, so that any overrun shows
// under the address sanitizer.
int Invert(int n, const Complex* m, Complex* inverse) {
  std::vector<double> a(4 * n * n), c(2 * n), d(2 * n), rhs(2 * n), work(2 * n);
  std::vector<int> permutation(2 * n);
  return InvertComplexMatrix(n, m, inverse, a.data(), c.data(), d.data(), permutation.data(),
                             rhs.data(), work.data());
}

// Random matrices of a few sizes, one of them inverted in place, against
// zgesv's solution of M X = I (column-stored).
TEST(InvertComplexMatrix, MatchesZgesv) {
  std::mt19937_64 rng(61);
  std::normal_distribution<double> normal;
  for (int n : {1, 2, 3, 8, 16}) {
    SCOPED_TRACE(::testing::Message() << "n = " << n);
    std::vector<Complex> m(n * n), inverse(n * n);
    std::vector<std::complex<double>> lu(n * n), x(n * n);
    for (int k = 0; k < n * n; ++k) {
      m[k] = Complex(normal(rng), normal(rng));
      lu[k % n * n + k / n] = {m[k].re, m[k].im}, x[k] = k % (n + 1) == 0 ? 1.0 : 0.0;
    }
    std::vector<int> pivots(n);
    int info = 0;
    zgesv_(&n, &n, lu.data(), &n, pivots.data(), x.data(), &n, &info);
    ASSERT_EQ(info, 0);
    double scale = 0.0;
    for (const auto& z : x) scale = std::max(scale, std::abs(z));
    Complex* out = n == 2 ? m.data() : inverse.data();
    ASSERT_EQ(Invert(n, m.data(), out), 1);
    for (int k = 0; k < n * n; ++k) {
      EXPECT_LT(std::abs(std::complex<double>(out[k].re, out[k].im) - x[k % n * n + k / n]),
                1e-11 * scale)
          << k;
    }
  }
}

// A zero matrix fails and leaves the output alone; a singular one (complex
// rank 1) gives the solver's finite basic solution.
TEST(InvertComplexMatrix, ZeroAndSingularMatrices) {
  std::vector<Complex> zero(9), inverse(9, Complex(5, 5)), m(9);
  EXPECT_EQ(Invert(3, zero.data(), inverse.data()), 0);
  for (const Complex& z : inverse) EXPECT_EQ(z, Complex(5, 5));
  const std::vector<Complex> u = {{1, 2}, {0, -1}, {3, 0.5}}, v = {{2, 0}, {1, 1}, {-1, 0.5}};
  for (int k = 0; k < 9; ++k) m[k] = u[k / 3] * v[k % 3];
  ASSERT_EQ(Invert(3, m.data(), inverse.data()), 1);
  for (const Complex& z : inverse) EXPECT_TRUE(std::isfinite(z.re) && std::isfinite(z.im));
}

// Port matrices, pole terms and the element table refuse indices outside
// their size and leave their contents alone.
TEST(Containers, OutOfRangeAccessIsRefused) {
  PortMatrix m(2), empty(0);
  m.At(0, 0) = {7.0, -1.0};
  EXPECT_FALSE(m.Set(5, 0, {3.0, 3.0}) || m.Set(0, -1, {3.0, 3.0}) || empty.Set(0, 0, {1.0, 0.0}));
  EXPECT_EQ(m.Get(-1, 1), Complex(0.0, 0.0));
  EXPECT_EQ(empty.Get(0, 0), Complex(0.0, 0.0));
  EXPECT_EQ(m.At(0, 0), Complex(7.0, -1.0));
  PoleTerm t(3);
  EXPECT_FALSE(t.SetResidue(3, 0, {1.0, 0.0}) || t.SetResidue(0, -1, {1.0, 0.0}));
  EXPECT_EQ(t.GetResidue(0, 3), Complex(0.0, 0.0));
  PoleTerm real(1);  // a real pole refuses a complex residue
  EXPECT_FALSE(real.SetResidue00({1.0, 0.5}));
  EXPECT_EQ(real.GetResidue00(), Complex(0.0, 0.0));
  EXPECT_EQ(ElementTable(2, 2).AsymptoteModeAt(9, 9), 2);  // falls back to (0, 0)
}

}  // namespace
}  // namespace cfit
