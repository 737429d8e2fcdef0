#include "numeric/complex_inverse.h"

#include <gtest/gtest.h>

#include <complex>
#include <random>
#include <vector>

#include "numeric/lapack_reference.h"
#include "numeric/pivoted_qr.h"

namespace cfit {
namespace {

// Exactly sized workspace, so that any overrun shows under the address
// sanitizer.
struct Workspace {
  explicit Workspace(int n)
      : a(static_cast<std::size_t>(4 * n * n)),
        c(static_cast<std::size_t>(2 * n)),
        d(static_cast<std::size_t>(2 * n)),
        rhs(static_cast<std::size_t>(2 * n)),
        work(static_cast<std::size_t>(2 * n)),
        permutation(static_cast<std::size_t>(2 * n)) {}
  std::vector<double> a, c, d, rhs, work;
  std::vector<int> permutation;
};

int Invert(int n, const std::vector<Complex>& m, std::vector<Complex>& inverse) {
  Workspace w(n);
  inverse.resize(static_cast<std::size_t>(n) * n);
  return InvertComplexMatrix(n, m.data(), inverse.data(), w.a.data(), w.c.data(), w.d.data(),
                             w.permutation.data(), w.rhs.data(), w.work.data());
}

std::vector<Complex> RandomComplex(int n, std::mt19937_64& rng) {
  std::normal_distribution<double> normal;
  std::vector<Complex> m(static_cast<std::size_t>(n) * n);
  for (Complex& z : m) z = Complex(normal(rng), normal(rng));
  return m;
}

TEST(EmbedComplexMatrix, PlacesRealAndImaginaryBlocks) {
  const std::vector<Complex> m = {{1, 2}, {3, 4}, {5, 6}, {7, 8}};  // rows (1+2j, 3+4j), ...
  std::vector<double> a(5 * 4, -1.0);                               // lda 5: one padding row
  EmbedComplexMatrix(2, m.data(), a.data(), 5);
  // Column-stored; expected rows of [R -X; X R].
  const double want[4][4] = {{1, 3, -2, -4}, {5, 7, -6, -8}, {2, 4, 1, 3}, {6, 8, 5, 7}};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) EXPECT_EQ(a[j * 5 + i], want[i][j]) << i << "," << j;
  }
  for (int j = 0; j < 4; ++j) EXPECT_EQ(a[j * 5 + 4], -1.0);
}

TEST(InvertComplexMatrix, MatchesZgesvOnRandomMatrices) {
  std::mt19937_64 rng(61);
  for (int n : {1, 2, 3, 8, 16}) {
    SCOPED_TRACE(::testing::Message() << "n = " << n);
    const std::vector<Complex> m = RandomComplex(n, rng);
    std::vector<Complex> inverse;
    ASSERT_EQ(Invert(n, m, inverse), 1);

    // LAPACK: solve M X = I (column-major).
    std::vector<std::complex<double>> lu(static_cast<std::size_t>(n) * n),
        x(static_cast<std::size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) lu[j * n + i] = {m[i * n + j].re, m[i * n + j].im};
      x[i * n + i] = 1.0;
    }
    std::vector<int> pivots(static_cast<std::size_t>(n));
    int info = 0;
    zgesv_(&n, &n, lu.data(), &n, pivots.data(), x.data(), &n, &info);
    ASSERT_EQ(info, 0);
    double scale = 0.0;
    for (const auto& z : x) scale = std::max(scale, std::abs(z));
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const std::complex<double> got(inverse[i * n + j].re, inverse[i * n + j].im);
        EXPECT_LT(std::abs(got - x[j * n + i]), 1e-11 * scale) << i << "," << j;
      }
    }
  }
}

TEST(InvertComplexMatrix, TwoByTwoClosedFormAndInPlace) {
  // [a b; c d]^-1 = [d -b; -c a] / (ad - bc).
  const Complex a(1, 1), b(2, -1), c(0, 3), d(-1, 0.5);
  std::vector<Complex> m = {a, b, c, d};
  const Complex det = a * d - b * c;
  const std::vector<Complex> want = {d / det, -b / det, -c / det, a / det};
  Workspace w(2);
  ASSERT_EQ(InvertComplexMatrix(2, m.data(), m.data(), w.a.data(), w.c.data(), w.d.data(),
                                w.permutation.data(), w.rhs.data(), w.work.data()),
            1);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(m[k].re, want[k].re, 1e-15) << k;
    EXPECT_NEAR(m[k].im, want[k].im, 1e-15) << k;
  }
}

TEST(InvertComplexMatrix, ZeroMatrixFailsAndSingularMatrixCountsTwice) {
  std::vector<Complex> zero(9), inverse(9, Complex(5, 5));
  Workspace w(3);
  EXPECT_EQ(InvertComplexMatrix(3, zero.data(), inverse.data(), w.a.data(), w.c.data(), w.d.data(),
                                w.permutation.data(), w.rhs.data(), w.work.data()),
            0);
  for (const Complex& z : inverse) EXPECT_EQ(z, Complex(5, 5)) << "left untouched";

  // Complex rank 1: its embedding has rank 2 (each complex dimension is two
  // real ones), and the inversion still returns the solver's finite output.
  const std::vector<Complex> u = {{1, 2}, {0, -1}, {3, 0.5}}, v = {{2, 0}, {1, 1}, {-1, 0.5}};
  std::vector<Complex> m(9);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m[i * 3 + j] = u[i] * v[j];
  }
  EmbedComplexMatrix(3, m.data(), w.a.data(), 6);
  EXPECT_EQ(
      PivotedQR(6, 6, w.a.data(), 6, w.c.data(), w.d.data(), w.permutation.data(), nullptr, false),
      2);
  ASSERT_EQ(Invert(3, m, inverse), 1);
  for (const Complex& z : inverse) {
    EXPECT_TRUE(std::isfinite(z.re) && std::isfinite(z.im));
  }
}

}  // namespace
}  // namespace cfit
