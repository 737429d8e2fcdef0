#include "numeric/householder_qr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "numeric/lapack_reference.h"

namespace cfit {
namespace {

using testing::ColumnMatrix;
using testing::LapackLeastSquares;
using testing::Multiply;
using testing::RandomMatrix;
using testing::RandomVector;
using testing::RelativeDifference;

struct Factorised {
  ColumnMatrix a;
  std::vector<double> c, d;
  int rank = 0;
};

Factorised Factorise(ColumnMatrix a) {
  Factorised f{a, std::vector<double>(static_cast<std::size_t>(a.cols), -7.0),
               std::vector<double>(static_cast<std::size_t>(a.cols), -7.0)};
  f.rank = HouseholderQR(a.rows, a.cols, f.a.data(), f.a.lda, f.c.data(), f.d.data());
  return f;
}

std::vector<double> Solve(const Factorised& f, std::vector<double> b) {
  b.resize(static_cast<std::size_t>(std::max(f.a.rows, f.a.cols)), 0.0);
  SolveQR(f.a.rows, f.a.cols, f.a.v.data(), f.a.lda, f.c.data(), f.d.data(), b.data());
  b.resize(static_cast<std::size_t>(f.a.cols));
  return b;
}

// |diag R| of LAPACK's unpivoted QR.
std::vector<double> LapackRDiagonal(ColumnMatrix a) {
  std::vector<double> tau(static_cast<std::size_t>(a.cols));
  int lwork = 64 * a.cols;
  std::vector<double> work(static_cast<std::size_t>(lwork));
  int info = 0;
  dgeqrf_(&a.rows, &a.cols, a.data(), &a.lda, tau.data(), work.data(), &lwork, &info);
  testing::CheckInfo(info);
  std::vector<double> diag(static_cast<std::size_t>(a.cols));
  for (int k = 0; k < a.cols; ++k) diag[static_cast<std::size_t>(k)] = std::fabs(a(k, k));
  return diag;
}

TEST(HouseholderQR, SolvesFullRankProblemsLikeLapack) {
  std::mt19937_64 rng(11);
  const struct {
    int rows, cols, lda;
  } shapes[] = {{30, 5, 0}, {200, 17, 203}, {7, 7, 0}, {1, 1, 0}, {50, 1, 0}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(::testing::Message() << shape.rows << " x " << shape.cols);
    ColumnMatrix a = RandomMatrix(shape.rows, shape.cols, rng, shape.lda);
    // Sentinels in the padding rows must survive.
    for (int j = 0; j < a.cols; ++j) {
      for (int i = a.rows; i < a.lda; ++i) a(i, j) = 99.0;
    }
    const std::vector<double> b = RandomVector(shape.rows, rng);
    ColumnMatrix packed(a.rows, a.cols);
    for (int j = 0; j < a.cols; ++j) {
      for (int i = 0; i < a.rows; ++i) packed(i, j) = a(i, j);
    }

    const Factorised f = Factorise(a);
    EXPECT_EQ(f.rank, shape.cols);
    // R is unique up to the signs of its rows.
    const std::vector<double> diag = LapackRDiagonal(packed);
    for (int k = 0; k < shape.cols; ++k) {
      EXPECT_NEAR(std::fabs(f.d[k]), diag[k], 1e-12 * diag[0]) << "k = " << k;
    }
    const std::vector<double> x = Solve(f, b);
    EXPECT_LT(RelativeDifference(x, LapackLeastSquares(packed, b), x.size()), 1e-12);
    for (int j = 0; j < a.cols; ++j) {
      for (int i = a.rows; i < a.lda; ++i) ASSERT_EQ(f.a(i, j), 99.0);
    }
  }
}

TEST(HouseholderQR, IllConditionedConsistentSystemKeepsExpectedAccuracy) {
  std::mt19937_64 rng(12);
  std::vector<double> sigma;
  for (int k = 0; k < 12; ++k) sigma.push_back(std::pow(10.0, -k * 10.0 / 11.0));  // cond 1e10
  const ColumnMatrix a = testing::WithSingularValues(80, sigma, rng);
  const std::vector<double> xTrue = RandomVector(12, rng);
  const Factorised f = Factorise(a);
  EXPECT_EQ(f.rank, 12);
  const std::vector<double> b = Multiply(a, xTrue);
  const std::vector<double> x = Solve(f, b);
  // Backward stable: the error is bounded by about cond * eps, and the
  // residual stays at rounding level whatever the condition.
  EXPECT_LT(RelativeDifference(x, xTrue, x.size()), 1e-4);
  EXPECT_LT(RelativeDifference(Multiply(a, x), b, b.size()), 1e-14);
}

TEST(HouseholderQR, ColumnsNearOverflowAndUnderflowAreHandled) {
  // Squares of these entries overflow or underflow; the per-column scaling
  // must keep the factorisation finite and exact up to rounding.
  std::mt19937_64 rng(13);
  const ColumnMatrix base = RandomMatrix(40, 4, rng);
  const std::vector<double> b = RandomVector(40, rng);
  const double scales[] = {1e200, 1e-200, 1.0, 1e150};
  ColumnMatrix a = base;
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 40; ++i) a(i, j) *= scales[j];
  }
  const Factorised f = Factorise(a);
  // Only the 1e200 column is within 1e-15 of the largest diagonal entry.
  EXPECT_EQ(f.rank, 1);
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(std::isfinite(f.d[k]));

  // Two columns at the extremes only: well inside the rank tolerance.
  ColumnMatrix two(40, 2);
  for (int i = 0; i < 40; ++i) {
    two(i, 0) = base(i, 0) * 1e200;
    two(i, 1) = base(i, 1) * 1e190;
  }
  ColumnMatrix twoPlain(40, 2);
  for (int i = 0; i < 40; ++i) {
    twoPlain(i, 0) = base(i, 0);
    twoPlain(i, 1) = base(i, 1);
  }
  const Factorised g = Factorise(two);
  EXPECT_EQ(g.rank, 2);
  const std::vector<double> x = Solve(g, b);
  const std::vector<double> ref = LapackLeastSquares(twoPlain, b);
  EXPECT_NEAR(x[0] * 1e200, ref[0], 1e-12 * std::fabs(ref[0]));
  EXPECT_NEAR(x[1] * 1e190, ref[1], 1e-12 * std::fabs(ref[1]));
}

TEST(HouseholderQR, RankDeficientColumnsAreCountedAndTheirUnknownsZeroed) {
  std::mt19937_64 rng(14);
  // Columns: 0..3 random, 4 = copy of 1, 5 = zero.
  ColumnMatrix a = RandomMatrix(25, 6, rng);
  for (int i = 0; i < 25; ++i) {
    a(i, 4) = a(i, 1);
    a(i, 5) = 0.0;
  }
  const std::vector<double> b = RandomVector(25, rng);
  const Factorised f = Factorise(a);
  EXPECT_EQ(f.rank, 4) << "|d[4]| / |d[0]| = " << std::fabs(f.d[4] / f.d[0]);
  EXPECT_EQ(f.c[5], 0.0);
  EXPECT_EQ(f.d[5], 0.0);

  const std::vector<double> x = Solve(f, b);
  EXPECT_EQ(x[4], 0.0);
  EXPECT_EQ(x[5], 0.0);
  // The fitted values are those of the best fit with the independent columns.
  ColumnMatrix reduced(25, 4);
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 25; ++i) reduced(i, j) = a(i, j);
  }
  const std::vector<double> ref = LapackLeastSquares(reduced, b);
  EXPECT_LT(RelativeDifference(Multiply(a, x), Multiply(reduced, ref), 25), 1e-12);
}

TEST(HouseholderQR, ZeroMatrixHasRankZero) {
  ColumnMatrix a(6, 3);
  const Factorised f = Factorise(a);
  EXPECT_EQ(f.rank, 0);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(f.c[k], 0.0);
    EXPECT_EQ(f.d[k], 0.0);
  }
  const std::vector<double> x = Solve(f, {1, 2, 3, 4, 5, 6});
  for (double value : x) EXPECT_EQ(value, 0.0);
}

TEST(HouseholderQR, SquareSystemsInClosedForm) {
  // [2 1; 1 3] x = [3; 5] -> x = (4/5, 7/5).
  ColumnMatrix a(2, 2);
  a(0, 0) = 2;
  a(0, 1) = 1;
  a(1, 0) = 1;
  a(1, 1) = 3;
  std::vector<double> x = Solve(Factorise(a), {3, 5});
  EXPECT_NEAR(x[0], 0.8, 1e-15);
  EXPECT_NEAR(x[1], 1.4, 1e-15);

  // 1 x 1 with a negative entry: R is -(-4) or -4, x = b / a either way.
  ColumnMatrix one(1, 1);
  one(0, 0) = -4;
  const Factorised f = Factorise(one);
  EXPECT_EQ(f.rank, 1);
  EXPECT_EQ(std::fabs(f.d[0]), 4.0);
  EXPECT_DOUBLE_EQ(Solve(f, {2})[0], -0.5);

  // A column that only has its leading entry (nothing to annihilate).
  ColumnMatrix tri(3, 2);
  tri(0, 0) = 5;
  tri(0, 1) = 1;
  tri(1, 1) = 2;
  x = Solve(Factorise(tri), {7, 4, 0});
  EXPECT_NEAR(x[0], 1.0, 1e-15);
  EXPECT_NEAR(x[1], 2.0, 1e-15);
}

TEST(HouseholderQR, MoreUnknownsThanEquationsSolvesTheLeadingBlock) {
  std::mt19937_64 rng(15);
  const ColumnMatrix a = RandomMatrix(3, 5, rng);
  const std::vector<double> b = RandomVector(3, rng);
  const Factorised f = Factorise(a);
  EXPECT_EQ(f.rank, 3);
  const std::vector<double> x = Solve(f, b);
  EXPECT_EQ(x[3], 0.0);
  EXPECT_EQ(x[4], 0.0);
  EXPECT_LT(RelativeDifference(Multiply(a, x), b, 3), 1e-13);
}

}  // namespace
}  // namespace cfit
