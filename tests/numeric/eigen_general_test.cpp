#include "numeric/eigen_general.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "numeric/lapack_reference.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using testing::ComplexVector;
using testing::EigenvalueMismatch;

using testing::Square;

Square RandomSquare(int n, std::mt19937_64& rng, int lda = 0) {
  std::normal_distribution<double> normal;
  Square a(n, lda);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) a(i, j) = normal(rng);
  }
  return a;
}

struct Eigen {
  int ok = 0;
  std::vector<double> wr, wi;
  ComplexVector values() const { return testing::ToComplex(wr, wi); }
};

Eigen RunHqr(Square h) {
  Eigen e;
  e.wr.assign(static_cast<std::size_t>(h.n), -99.0);
  e.wi.assign(static_cast<std::size_t>(h.n), -99.0);
  e.ok = hqr(h.n, h.v.data(), h.lda, e.wr.data(), e.wi.data());
  return e;
}

// The fitter's sequence: balance, reduce, iterate.
Eigen AllEigenvalues(Square a) {
  BalanceMatrix(a.n, a.v.data(), a.lda);
  ReduceToHessenberg(a.n, a.v.data(), a.lda);
  return RunHqr(a);
}

double MaxAbs(const Square& a) {
  double m = 0.0;
  for (int i = 0; i < a.n; ++i) {
    for (int j = 0; j < a.n; ++j) m = std::max(m, std::fabs(a(i, j)));
  }
  return m;
}

// Complex pairs sit in adjacent positions, share their real part and carry
// -z then +z.
void ExpectPairsAdjacent(const Eigen& e) {
  for (std::size_t k = 0; k < e.wi.size(); ++k) {
    if (e.wi[k] == 0.0) continue;
    ASSERT_LT(k + 1, e.wi.size());
    EXPECT_LT(e.wi[k], 0.0) << "k = " << k;
    EXPECT_EQ(e.wi[k + 1], -e.wi[k]);
    EXPECT_EQ(e.wr[k + 1], e.wr[k]);
    ++k;
  }
}

TEST(BalanceMatrix, BalancedMatrixIsLeftUnchanged) {
  // Symmetric: every row sum equals its column sum. The second matrix has
  // row and column sums within a factor 1.5.
  std::mt19937_64 rng(41);
  Square sym = RandomSquare(7, rng, 9);
  for (int i = 0; i < 7; ++i) {
    for (int j = 0; j < i; ++j) sym(j, i) = sym(i, j);
  }
  Square mild(3);
  const double values[3][3] = {{5, 1, 2}, {3, -1, 1}, {1.5, 1, 7}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) mild(i, j) = values[i][j];
  }
  for (const Square& a : {sym, mild}) {
    Square b = a;
    BalanceMatrix(b.n, b.v.data(), b.lda);
    EXPECT_EQ(b.v, a.v);
  }
}

TEST(BalanceMatrix, UndoesADiagonalScalingByPowersOfTwo) {
  std::mt19937_64 rng(42);
  const int n = 10;
  const Square base = RandomSquare(n, rng);
  // A = D^-1 B D with D = diag(2^k), k spread over +-30.
  Square a(n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) a(i, j) = std::ldexp(base(i, j), ((j * 13) % 61) - ((i * 13) % 61));
  }
  Square b = a;
  BalanceMatrix(n, b.v.data(), b.lda);

  // Still a diagonal similarity by powers of two: b(i, j) = a(i, j) g_j / g_i.
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      int e1 = 0, e2 = 0;
      EXPECT_EQ(std::frexp(b(i, j) / a(i, j), &e1), 0.5);
      EXPECT_EQ(std::frexp(b(i, 0) / a(i, 0) * (b(0, j) / a(0, j)) / (b(0, 0) / a(0, 0)), &e2),
                0.5);
      EXPECT_EQ(e1, e2) << i << "," << j;
    }
  }
  // The spread is gone: each row sum is within a small factor of its column
  // sum, and the largest entry is back near those of the base matrix.
  for (int i = 0; i < n; ++i) {
    double c = 0.0, r = 0.0;
    for (int j = 0; j < n; ++j) {
      if (j == i) continue;
      c += std::fabs(b(j, i));
      r += std::fabs(b(i, j));
    }
    EXPECT_GT(c / r, 0.25) << "i = " << i;
    EXPECT_LT(c / r, 4.0) << "i = " << i;
  }
  EXPECT_LT(MaxAbs(b), 1e3 * MaxAbs(base));
  EXPECT_GT(MaxAbs(a), 1e12 * MaxAbs(base));
  // Eigenvalues are those of the base matrix.
  const ComplexVector want = testing::LapackEigenvalues(n, base.ColumnMajor());
  EXPECT_LT(EigenvalueMismatch(AllEigenvalues(a).values(), want), 1e-11 * MaxAbs(base));
}

TEST(BalanceMatrix, IsolatedAndNonFiniteRowsEndTheSweeps) {
  Square a(3);
  // Row 1 has no off-diagonal entries; column 2 has none either.
  const double values[3][3] = {{1, 1e6, 3}, {0, 2, 0}, {1e-6, 5, 4}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) a(i, j) = values[i][j];
  }
  a(0, 2) = 0.0;
  Square b = a;
  BalanceMatrix(3, b.v.data(), b.lda);
  EXPECT_EQ(b(1, 1), 2.0);
  EXPECT_EQ(b(2, 2), 4.0);

  Square inf = a;
  inf(0, 1) = std::numeric_limits<double>::infinity();
  BalanceMatrix(3, inf.v.data(), inf.lda);  // must return
  EXPECT_TRUE(std::isinf(inf(0, 1)));
}

TEST(ReduceToHessenberg, IsASimilarityToUpperHessenbergForm) {
  std::mt19937_64 rng(43);
  for (int n : {1, 2, 3, 12, 40}) {
    SCOPED_TRACE(::testing::Message() << "n = " << n);
    const Square a = RandomSquare(n, rng, n + 3);
    Square h = a;
    ReduceToHessenberg(n, h.v.data(), h.lda);
    double traceA = 0.0, traceH = 0.0;
    for (int i = 0; i < n; ++i) {
      traceA += a(i, i);
      traceH += h(i, i);
      for (int j = 0; j + 1 < i; ++j) EXPECT_EQ(h(i, j), 0.0) << i << "," << j;
    }
    EXPECT_NEAR(traceH, traceA, 1e-12 * n);
    const Eigen e = RunHqr(h);
    ASSERT_EQ(e.ok, 1);
    EXPECT_LT(EigenvalueMismatch(e.values(), testing::LapackEigenvalues(n, a.ColumnMajor())),
              1e-10 * std::sqrt(n));
  }
}

TEST(Hqr, OneByOneGivesItsElement) {
  Square a(1);
  a(0, 0) = -3.25;
  const Eigen e = RunHqr(a);
  EXPECT_EQ(e.ok, 1);
  EXPECT_EQ(e.wr[0], -3.25);
  EXPECT_EQ(e.wi[0], 0.0);
}

TEST(Hqr, TwoByTwoBlocksInClosedForm) {
  {
    // Trace 4, determinant 5: 2 -+ 1j.
    Square a(2);
    a(0, 0) = 1;
    a(0, 1) = -2;
    a(1, 0) = 1;
    a(1, 1) = 3;
    const Eigen e = RunHqr(a);
    EXPECT_EQ(e.ok, 1);
    EXPECT_NEAR(e.wr[0], 2.0, 1e-15);
    EXPECT_NEAR(e.wr[1], 2.0, 1e-15);
    EXPECT_NEAR(e.wi[0], -1.0, 1e-15);
    EXPECT_NEAR(e.wi[1], 1.0, 1e-15);
  }
  {
    // Trace 7, determinant 10: 5 and 2.
    Square a(2);
    a(0, 0) = 4;
    a(0, 1) = 1;
    a(1, 0) = 2;
    a(1, 1) = 3;
    const Eigen e = RunHqr(a);
    EXPECT_EQ(e.ok, 1);
    EXPECT_EQ(e.wi[0], 0.0);
    EXPECT_EQ(e.wi[1], 0.0);
    EXPECT_NEAR(std::max(e.wr[0], e.wr[1]), 5.0, 1e-15);
    EXPECT_NEAR(std::min(e.wr[0], e.wr[1]), 2.0, 1e-15);
  }
  {
    // Already split: the diagonal, in place.
    Square a(2);
    a(0, 0) = 7;
    a(0, 1) = 1;
    a(1, 1) = -2;
    const Eigen e = RunHqr(a);
    EXPECT_EQ(e.wr, (std::vector<double>{7, -2}));
    EXPECT_EQ(e.wi, (std::vector<double>{0, 0}));
  }
}

TEST(Hqr, CompanionMatrixGivesThePolynomialRoots) {
  const ComplexVector roots = {{-1, 0},    {-2, 0},     {-3, 0},     {-1, 2},     {-1, -2},
                               {-0.5, 10}, {-0.5, -10}, {0.25, 0.5}, {0.25, -0.5}};
  // Coefficients of prod (x - r), highest first.
  std::vector<std::complex<double>> poly = {1.0};
  for (const auto& r : roots) {
    std::vector<std::complex<double>> next(poly.size() + 1, 0.0);
    for (std::size_t k = 0; k < poly.size(); ++k) {
      next[k] += poly[k];
      next[k + 1] -= r * poly[k];
    }
    poly = next;
  }
  const int n = static_cast<int>(roots.size());
  Square c(n);
  for (int j = 0; j < n; ++j) c(0, j) = -poly[static_cast<std::size_t>(j) + 1].real();
  for (int i = 1; i < n; ++i) c(i, i - 1) = 1.0;
  const Eigen e = AllEigenvalues(c);
  ASSERT_EQ(e.ok, 1);
  EXPECT_LT(EigenvalueMismatch(e.values(), roots), 1e-9);
  ExpectPairsAdjacent(e);
}

TEST(Hqr, AgreesWithDhseqrOnRandomHessenbergMatrices) {
  std::mt19937_64 rng(44);
  for (int trial = 0; trial < 5; ++trial) {
    const int n = 60;
    Square h = RandomSquare(n, rng, 64);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j + 1 < i; ++j) h(i, j) = 0.0;
    }
    std::vector<double> ref = h.ColumnMajor();
    std::vector<double> wr(n), wi(n), work(4 * n);
    const int one = 1, lwork = 4 * n;
    int info = 0;
    double z = 0.0;
    dhseqr_("E", "N", &n, &one, &n, ref.data(), &n, wr.data(), wi.data(), &z, &one, work.data(),
            &lwork, &info, 1, 1);
    ASSERT_EQ(info, 0);

    const Eigen e = RunHqr(h);
    ASSERT_EQ(e.ok, 1);
    EXPECT_LT(EigenvalueMismatch(e.values(), testing::ToComplex(wr, wi)), 1e-9 * MaxAbs(h));
    ExpectPairsAdjacent(e);
  }
}

TEST(Hqr, PoleRelocationMatrixOverAWideBand) {
  // The matrix the pole identification builds: block diagonal poles minus a
  // rank-one term, with poles from 1e3 to 1e10 in magnitude. Its
  // eigenvalues (the zeros of sigma) must come out to full relative
  // accuracy even though they span seven decades.
  std::mt19937_64 rng(45);
  std::uniform_real_distribution<double> unit(0.5, 1.5);
  Square h(30, 33);
  int k = 0;
  std::vector<double> b(30), c(30);
  while (k < 30) {
    const double magnitude = std::pow(10.0, 3.0 + 7.0 * k / 29.0);
    if (k % 3 == 0) {  // real pole
      h(k, k) = -magnitude * unit(rng);
      b[k] = 1.0;
      c[k] = magnitude * (unit(rng) - 1.0);
      ++k;
    } else {  // complex pole: [[re, im], [-im, re]]
      const double re = -0.05 * magnitude * unit(rng);
      const double im = magnitude;
      h(k, k) = re;
      h(k, k + 1) = im;
      h(k + 1, k) = -im;
      h(k + 1, k + 1) = re;
      b[k] = 2.0;
      b[k + 1] = 0.0;
      c[k] = 0.1 * magnitude * (unit(rng) - 1.0);
      c[k + 1] = 0.1 * magnitude * (unit(rng) - 1.0);
      k += 2;
    }
  }
  for (int i = 0; i < 30; ++i) {
    for (int j = 0; j < 30; ++j) h(i, j) -= b[i] * c[j];
  }
  const ComplexVector want = testing::LapackEigenvalues(30, h.ColumnMajor());
  const Eigen e = AllEigenvalues(h);
  ASSERT_EQ(e.ok, 1);
  ExpectPairsAdjacent(e);
  // Relative match per eigenvalue.
  const ComplexVector got = e.values();
  for (const auto& w : want) {
    double best = std::numeric_limits<double>::infinity();
    for (const auto& g : got) best = std::min(best, std::abs(g - w));
    EXPECT_LT(best, 1e-9 * std::abs(w)) << w;
  }
}

TEST(Hqr, CyclicShiftConvergesThroughTheExceptionalShift) {
  // The cyclic shift is orthogonal and its trailing 2 x 2 block gives the
  // shifts 0, 0: standard double-shift steps leave it unchanged, and only
  // the exceptional shift lets the iteration converge. Eigenvalues: the
  // n-th roots of unity.
  for (int n : {3, 4, 6}) {
    SCOPED_TRACE(::testing::Message() << "n = " << n);
    Square a(n);
    a(0, n - 1) = 1.0;
    for (int i = 1; i < n; ++i) a(i, i - 1) = 1.0;
    ComplexVector roots;
    for (int k = 0; k < n; ++k) roots.push_back(std::polar(1.0, 2.0 * std::numbers::pi * k / n));
    testing::LogCapture log;
    const Eigen e = RunHqr(a);
    ASSERT_EQ(e.ok, 1);
    EXPECT_LT(EigenvalueMismatch(e.values(), roots), 1e-12);
    ExpectPairsAdjacent(e);
    EXPECT_EQ(log.text(), "");
  }
}

TEST(Hqr, NonConvergenceIsReportedAfterFiftyIterations) {
  // A NaN never passes the deflation test, so the iteration can only end at
  // its limit.
  std::mt19937_64 rng(46);
  Square h = RandomSquare(6, rng);
  for (int i = 0; i < 6; ++i) {
    for (int j = 0; j + 1 < i; ++j) h(i, j) = 0.0;
  }
  h(4, 3) = std::numeric_limits<double>::quiet_NaN();
  testing::LogCapture log;
  const Eigen e = RunHqr(h);
  EXPECT_EQ(e.ok, 0);
  EXPECT_EQ(log.text(), "No convergence in hqr after 50 iterations\n");
}

}  // namespace
}  // namespace cfit
