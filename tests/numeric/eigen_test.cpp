// Eigenvalues of general matrices (balancing, Hessenberg reduction, hqr) and
// of symmetric ones (tridiagonal reduction, tqli) against reference LAPACK,
// over random matrices of a few sizes and matrices whose eigenvalues are
// known or hard to get. The kernels store rows where LAPACK stores columns:
// At(a, i, j) is element (i, j) as the kernels see it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "numeric/eigen_general.h"
#include "numeric/lapack_reference.h"
#include "numeric/symmetric_eigen.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using testing::ColumnMatrix;
using testing::ComplexVector;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double& At(ColumnMatrix& a, int i, int j) { return a(j, i); }

ColumnMatrix RandomSquare(int n, std::mt19937_64& rng, bool symmetric = false, int lda = 0) {
  ColumnMatrix a = testing::RandomMatrix(n, n, rng, lda);
  for (int i = 0; i < n * n && symmetric; ++i)
    a(i / n, i % n) = a(std::max(i / n, i % n), std::min(i / n, i % n));
  return a;
}

// Upper Hessenberg as the kernels see it.
ColumnMatrix Hessenberg(ColumnMatrix a) {
  for (int i = 0; i < a.rows; ++i) {
    for (int j = 0; j + 1 < i; ++j) At(a, i, j) = 0.0;
  }
  return a;
}

double MaxAbs(const ColumnMatrix& a) {
  double m = 0.0;
  for (double x : a.v) m = std::max(m, std::fabs(x));
  return m;
}

// The fitter's sequence: balance, reduce, iterate (or iterate only). Complex
// pairs sit in adjacent positions, share their real part and carry -z then +z.
ComplexVector GeneralEigenvalues(ColumnMatrix a, bool reduce, int* ok) {
  std::vector<double> wr(a.rows, -99.0), wi(a.rows, -99.0);
  if (reduce) BalanceMatrix(a.rows, a.data(), a.lda), ReduceToHessenberg(a.rows, a.data(), a.lda);
  *ok = hqr(a.rows, a.data(), a.lda, wr.data(), wi.data());
  for (int k = 0; k < a.rows && *ok; ++k) {
    if (wi[k] == 0.0) continue;
    EXPECT_TRUE(wi[k] < 0.0 && k + 1 < a.rows && wr[k + 1] == wr[k] && wi[k + 1] == -wi[k]) << k;
    ++k;
  }
  ComplexVector z(a.rows);
  for (int k = 0; k < a.rows; ++k) z[k] = {wr[k], wi[k]};
  return z;
}

// Every eigenvalue LAPACK finds has one of the general kernels' within
// `tolerance` of the matrix' scale, and so has every known value. The cyclic
// shift's trailing block gives the shifts 0, 0: only the exceptional shift
// lets the iteration converge to its n-th roots of unity.
TEST(GeneralEigen, AgreesWithDgeev) {
  std::mt19937_64 rng(43);
  struct Case {
    ColumnMatrix a;
    bool reduce;  // false: already Hessenberg, hqr alone
    double tolerance;
    ComplexVector known = {};
  };
  std::vector<Case> cases;
  for (int n : {1, 2, 3, 12, 40})
    cases.push_back({RandomSquare(n, rng, false, n + 3), true, 1e-10});
  for (int trial = 0; trial < 3; ++trial)
    cases.push_back({Hessenberg(RandomSquare(60, rng, false, 64)), false, 1e-9});
  for (int n : {3, 4, 6}) {
    ColumnMatrix a(n, n);
    ComplexVector unity;
    for (int k = 0; k < n; ++k) {
      At(a, k, (k + n - 1) % n) = 1.0;
      unity.push_back(std::polar(1.0, 2.0 * std::numbers::pi * k / n));
    }
    cases.push_back({a, false, 1e-12, unity});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << &c - cases.data() << ", n = " << c.a.rows);
    testing::LogCapture log;
    int ok = 0;
    const ComplexVector got = GeneralEigenvalues(c.a, c.reduce, &ok);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(log.text(), "");
    auto distance = [&](std::complex<double> w) {
      double best = std::numeric_limits<double>::infinity();
      for (const auto& g : got) best = std::min(best, std::abs(g - w));
      return best;
    };
    const double scale = std::max(1.0, MaxAbs(c.a)) * std::sqrt(c.a.rows);
    for (const auto& w : testing::LapackEigenvalues(c.a))
      EXPECT_LT(distance(w), c.tolerance * scale) << w;
    for (const auto& w : c.known) EXPECT_LT(distance(w), c.tolerance) << w;
  }
}

// Balancing is a diagonal similarity by powers of two: it undoes such a
// scaling (b(i, j) = a(i, j) g_j / g_i), leaves a balanced matrix alone and
// ends on isolated or infinite entries.
TEST(BalanceMatrix, UndoesAPowerOfTwoScalingAndLeavesBalancedMatricesAlone) {
  std::mt19937_64 rng(42);
  const int n = 10;
  const ColumnMatrix base = RandomSquare(n, rng);
  ColumnMatrix a(n, n);  // D^-1 B D with D = diag(2^k), k spread over +-30
  for (int i = 0; i < n * n; ++i)
    a(i / n, i % n) = std::ldexp(base(i / n, i % n), ((i % n) * 13) % 61 - ((i / n) * 13) % 61);
  ColumnMatrix b = a;
  BalanceMatrix(n, b.data(), b.lda);
  // Ratios of powers of two, b(i, j) / a(i, j) = g_j / g_i, and balanced
  // rows and columns.
  auto ratio = [&](int i, int j) { return b(i, j) / a(i, j); };
  for (int i = 0; i < n; ++i) {
    double c = 0.0, r = 0.0;
    for (int j = 0; j < n; ++j) {
      int e = 0;
      EXPECT_TRUE(std::frexp(ratio(i, j), &e) == 0.5 &&
                  ratio(i, j) * ratio(0, 0) == ratio(i, 0) * ratio(0, j))
          << i << "," << j;
      if (j != i) c += std::fabs(b(j, i)), r += std::fabs(b(i, j));
    }
    EXPECT_TRUE(c / r > 0.25 && c / r < 4.0) << "i = " << i;
  }
  EXPECT_LT(MaxAbs(b), 1e3 * MaxAbs(base));
  EXPECT_GT(MaxAbs(a), 1e12 * MaxAbs(base));
  const ColumnMatrix sym = RandomSquare(7, rng, true, 9);
  ColumnMatrix same = sym;
  BalanceMatrix(7, same.data(), same.lda);
  EXPECT_EQ(same.v, sym.v);
  ColumnMatrix isolated(3, 3);  // row 1 and column 2 have no off-diagonal entries
  isolated.v = {1, 1e6, 0, 0, 2, 0, 1e-6, 5, 4};
  BalanceMatrix(3, isolated.data(), isolated.lda);
  EXPECT_TRUE(isolated(1, 1) == 2.0 && isolated(2, 2) == 4.0);
  isolated(1, 0) = std::numeric_limits<double>::infinity();
  BalanceMatrix(3, isolated.data(), isolated.lda);  // must return
}

// Eigenvalues as dsyev's (or known ones), with and without vectors; the
// vectors orthonormal eigenvectors (A v_k = lambda_k v_k, V^T V = I). The
// strict upper triangle is NaN, so any read of it shows.
TEST(SymmetricEigen, AgreesWithDsyevAndGivesOrthonormalEigenvectors) {
  std::mt19937_64 rng(51);
  std::vector<std::pair<ColumnMatrix, std::vector<double>>> cases;  // known values, sorted
  for (int n : {1, 2, 3, 8, 40}) cases.push_back({RandomSquare(n, rng, true, n + 2), {}});
  // Q diag(lambda) Q^T with a random orthogonal Q.
  const ColumnMatrix q = testing::WithSingularValues(6, std::vector<double>(6, 1.0), rng);
  const double lambda[] = {1, 1, 1, 5, 5, -2};
  ColumnMatrix repeated(6, 6);
  for (int i = 0; i < 216; ++i)
    repeated(i / 36, i / 6 % 6) += q(i / 36, i % 6) * lambda[i % 6] * q(i / 6 % 6, i % 6);
  cases.push_back({repeated, {-2, 1, 1, 1, 5, 5}});
  cases.push_back({ColumnMatrix(3, 3), {0, 0, 0}});
  for (const auto& [a, known] : cases) {
    const int n = a.rows;
    SCOPED_TRACE(::testing::Message() << "n = " << n);
    const std::vector<double> want = known.empty() ? testing::LapackSymmetricEigenvalues(a) : known;
    const double norm = std::max(1.0, MaxAbs(a) * n);
    for (bool vectors : {true, false}) {
      ColumnMatrix v = a;
      for (int i = 0; i < n * n; ++i) At(v, i / n, i % n) = i % n > i / n ? kNaN : a(i / n, i % n);
      std::vector<double> values(n, -99.0), work(n);
      ASSERT_EQ(SymmetricEigen(n, v.data(), v.lda, values.data(), work.data(), vectors), 1);
      std::vector<double> sorted = values;
      std::sort(sorted.begin(), sorted.end());
      for (int k = 0; k < n; ++k) EXPECT_NEAR(sorted[k], want[k], 1e-13 * norm) << "k = " << k;
      for (int k = 0; k < n && vectors; ++k) {
        for (int i = 0; i < n; ++i) {
          double av = 0.0, dot = 0.0;
          for (int j = 0; j < n; ++j) av += a(i, j) * At(v, j, k), dot += At(v, j, k) * At(v, j, i);
          ASSERT_NEAR(av, values[k] * At(v, i, k), 1e-13 * norm) << "pair " << k << " row " << i;
          ASSERT_NEAR(dot, k == i ? 1.0 : 0.0, 1e-13) << k << "," << i;
        }
      }
    }
  }
}

// A NaN never passes the deflation or splitting test: the iterations end at
// their limits with the messages of the run log.
TEST(Eigen, NonConvergenceIsReportedAtTheIterationLimit) {
  std::mt19937_64 rng(46);
  ColumnMatrix h = Hessenberg(RandomSquare(6, rng)), a = RandomSquare(5, rng, true);
  At(h, 4, 3) = kNaN;
  a(3, 1) = a(1, 3) = kNaN;
  testing::LogCapture log;
  int ok = 1;
  GeneralEigenvalues(h, false, &ok);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(log.text(), "No convergence in hqr after 50 iterations\n");
  log.clear();
  std::vector<double> values(5), work(5);
  EXPECT_EQ(SymmetricEigen(5, a.data(), a.lda, values.data(), work.data(), true), 0);
  EXPECT_EQ(log.text(), "Too many iterations in tqli\n");
}

}  // namespace
}  // namespace cfit
