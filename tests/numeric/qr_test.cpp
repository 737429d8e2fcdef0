// Least squares by Householder QR, with and without column pivoting, against
// reference LAPACK over a few shapes, conditionings and rank deficiencies;
// cancellation of the pivoted factorisation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <vector>

#include "numeric/householder_qr.h"
#include "numeric/lapack_reference.h"
#include "numeric/pivoted_qr.h"

namespace cfit {
namespace {

using testing::ColumnMatrix;
using testing::Multiply;
using testing::RandomMatrix;
using testing::RandomVector;
using testing::RelativeDifference;

enum Kernel { kHouseholder, kStrict, kLoose };  // the last two pivot

struct Qr {
  Kernel kernel;
  ColumnMatrix a;
  std::vector<double> c, d;
  std::vector<int> permutation;
  int rank = 0;
};

Qr Factorise(Kernel kernel, const ColumnMatrix& a, const QrOwner* owner = nullptr) {
  Qr f{kernel, a, std::vector<double>(a.cols), std::vector<double>(a.cols),
       std::vector<int>(a.cols, -1)};
  f.rank = kernel == kHouseholder
               ? HouseholderQR(a.rows, a.cols, f.a.data(), f.a.lda, f.c.data(), f.d.data())
               : PivotedQR(a.rows, a.cols, f.a.data(), f.a.lda, f.c.data(), f.d.data(),
                           f.permutation.data(), owner, owner != nullptr);
  return f;
}

// The solution, and the number of unknowns solved for (the rank for the
// unpivoted kernel).
std::vector<double> Solve(const Qr& f, std::vector<double> b, int* solved) {
  b.resize(std::max(f.a.rows, f.a.cols), 0.0);
  std::vector<double> work(f.a.cols);
  *solved = f.rank;
  if (f.kernel == kHouseholder) {
    SolveQR(f.a.rows, f.a.cols, f.a.v.data(), f.a.lda, f.c.data(), f.d.data(), b.data());
  } else {
    *solved = SolvePivotedQR(f.a.rows, f.a.cols, f.a.v.data(), f.a.lda, f.c.data(), f.d.data(),
                             b.data(), f.permutation.data(), work.data(), f.kernel == kLoose);
  }
  b.resize(f.a.cols);
  return b;
}

// The listed columns of A, packed (leading dimension = rows).
ColumnMatrix Packed(const ColumnMatrix& a, const std::vector<int>& columns) {
  ColumnMatrix p(a.rows, static_cast<int>(columns.size()));
  for (std::size_t j = 0; j < columns.size(); ++j) {
    for (int i = 0; i < a.rows; ++i) p(i, static_cast<int>(j)) = a(i, columns[j]);
  }
  return p;
}

// Full-rank problems: random right-hand sides solved as dgels solves them,
// also with the columns scaled (spread by powers of 1.7, near overflow, or
// from 1e-12 to 1e12 and made equal by ScaleColumns first: the unknowns
// scale back), and consistent ill-conditioned systems to about cond * eps
// with a residual at rounding level. Padding rows of the leading dimension
// are left alone.
TEST(QR, FullRankProblemsAgreeWithLapack) {
  const struct {
    int rows, cols, lda;
    double cond;          // 1: Gaussian entries
    double first, ratio;  // column j is scaled by first * ratio^(5 j mod cols)
    bool scaleColumns = false;
  } cases[] = {
      {30, 5, 0, 1, 1, 1},     {200, 17, 203, 1, 1, 1},     {7, 7, 0, 1, 1, 1},
      {1, 1, 0, 1, 1, 1},      {50, 1, 0, 1, 1, 1},         {40, 9, 0, 1, 1, 1.7},
      {300, 25, 0, 1, 1, 1.7}, {40, 2, 0, 1, 1e200, 1e-10}, {40, 7, 0, 1, 1e-12, 1e4, true},
      {60, 10, 0, 1e7, 1, 1},  {80, 12, 0, 1e10, 1, 1}};
  std::mt19937_64 rng(11);
  for (const auto& t : cases) {
    std::vector<double> sigma, s(t.cols), scale(t.cols);
    for (int k = 0; k < t.cols && t.cond > 1; ++k)
      sigma.push_back(std::pow(t.cond, -k / (t.cols - 1.0)));
    const ColumnMatrix base = t.cond > 1 ? testing::WithSingularValues(t.rows, sigma, rng)
                                         : RandomMatrix(t.rows, t.cols, rng);
    const std::vector<double> xTrue = RandomVector(t.cols, rng);
    const std::vector<double> b = t.cond > 1 ? Multiply(base, xTrue) : RandomVector(t.rows, rng);
    const std::vector<double> want = t.cond > 1 ? xTrue : testing::LapackLeastSquares(base, b);
    ColumnMatrix a(t.rows, t.cols, t.lda);
    for (int j = 0; j < t.cols; ++j) {
      s[j] = t.first * std::pow(t.ratio, 5 * j % t.cols);
      for (int i = 0; i < a.lda; ++i) a(i, j) = i < t.rows ? base(i, j) * s[j] : 99.0;
    }
    if (t.scaleColumns) ScaleColumns(t.rows, t.cols, a.data(), a.lda, scale.data());
    for (Kernel kernel : {kHouseholder, kStrict, kLoose}) {
      // Beyond the loose tolerance: a condition above 1e8, or columns 1e10 apart
      // without ScaleColumns.
      if (kernel == kLoose && (t.cond > 1e8 || t.ratio < 1e-8)) continue;
      SCOPED_TRACE(::testing::Message()
                   << t.rows << " x " << t.cols << ", cond " << t.cond << ", kernel " << kernel);
      const Qr f = Factorise(kernel, a);
      EXPECT_EQ(f.rank, t.cols);
      int solved = 0;
      std::vector<double> x = Solve(f, b, &solved);
      EXPECT_EQ(solved, t.cols);
      if (t.scaleColumns) UnscaleSolution(t.cols, x.data(), scale.data());
      for (int j = 0; j < t.cols; ++j) {
        x[j] *= s[j];
        for (int i = t.rows; i < a.lda; ++i) ASSERT_EQ(f.a(i, j), 99.0);
      }
      EXPECT_LT(RelativeDifference(x, want), t.cond > 1 ? 1e-14 * t.cond : 1e-12);
      EXPECT_TRUE(t.cond == 1 || RelativeDifference(Multiply(base, x), b) < 1e-14);
    }
  }
}

// Dependent, zero and surplus columns: the unknowns of the columns left out
// are 0 and the fitted values are those of the best fit with the columns
// kept. A column within 1e-11 of another counts as dependent only for the
// loose tolerance.
TEST(QR, RankDeficientProblemsFitWithTheIndependentColumns) {
  std::mt19937_64 rng(14);
  const ColumnMatrix base = RandomMatrix(25, 6, rng);
  const std::vector<double> noise = RandomVector(25, rng);
  const struct {
    const char* name;
    int rows, cols, copyOf4;  // column 4 is a copy of this column (-1: none) ...
    double epsilon;           // ... plus this times noise
    bool zeroLast, zero;      // the last column, or every column, is zero
    int rank[3], solved[3];   // per kernel: the factorisation's rank and the unknowns solved
  } cases[] = {
      {"copy and zero", 25, 6, 1, 0.0, true, false, {4, 4, 4}, {4, 4, 4}},
      {"nearly a copy", 25, 6, 2, 1e-11, false, false, {6, 6, 6}, {6, 6, 5}},
      {"zero", 6, 3, -1, 0.0, false, true, {0, 0, 0}, {0, 0, 0}},
      {"more unknowns than equations", 3, 6, -1, 0.0, false, false, {3, 3, 3}, {3, 3, 3}},
  };
  for (const auto& t : cases) {
    ColumnMatrix a(t.rows, t.cols);
    for (int k = 0; k < t.rows * t.cols; ++k) {
      const int i = k % t.rows, j = k / t.rows;
      const bool zero = t.zero || (j == t.cols - 1 && t.zeroLast), copy = j == 4 && t.copyOf4 >= 0;
      a(i, j) = zero ? 0.0 : copy ? base(i, t.copyOf4) + t.epsilon * noise[i] : base(i, j);
    }
    // A nearly dependent pair needs a consistent system: least squares would
    // give unknowns of the size of 1 / epsilon.
    const std::vector<double> b =
        t.epsilon > 0 ? Multiply(a, RandomVector(t.cols, rng)) : RandomVector(t.rows, rng);
    for (Kernel kernel : {kHouseholder, kStrict, kLoose}) {
      SCOPED_TRACE(::testing::Message() << t.name << ", kernel " << kernel);
      const Qr f = Factorise(kernel, a);
      EXPECT_EQ(f.rank, t.rank[kernel]);
      int solved = 0;
      const std::vector<double> x = Solve(f, b, &solved);
      EXPECT_EQ(solved, t.solved[kernel]);
      EXPECT_GE(std::count(x.begin(), x.end(), 0.0), t.cols - t.solved[kernel]);
      // The fit with the columns whose unknowns were solved.
      std::vector<int> kept;
      for (int j = 0; j < t.cols; ++j)
        if (x[j] != 0.0) kept.push_back(j);
      const ColumnMatrix reduced = Packed(a, kept);
      const std::vector<double> fit =
          kept.empty()      ? std::vector<double>(t.rows, 0.0)
          : t.rows < t.cols ? b
                            : Multiply(reduced, testing::LapackLeastSquares(reduced, b));
      EXPECT_LT(RelativeDifference(Multiply(a, x), fit), t.epsilon > 0 ? 1e-9 : 1e-12);
    }
  }
}

// A byte set before the start transforms nothing (cancellation mid-run is
// exercised through whole fits).
TEST(PivotedQR, TheCancelByteStopsBeforeTheFirstColumn) {
  std::mt19937_64 rng(33);
  const ColumnMatrix a = RandomMatrix(40, 20, rng);
  char cancel = 1;
  double progress = 0.5;
  std::ostringstream log;
  const RunContext early(log, &progress, &cancel);
  const QrOwner earlyOwner{&early, 1.0};
  const Qr none = Factorise(kStrict, a, &earlyOwner);
  EXPECT_EQ(none.rank, 0);
  EXPECT_EQ(progress, 0.5);
  EXPECT_EQ(log.str(), "");
  EXPECT_EQ(none.a.v, a.v) << "no column was transformed";
}

}  // namespace
}  // namespace cfit
