#include "numeric/symmetric_eigen.h"

#include <gtest/gtest.h>

#include <algorithm>
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

using testing::Square;

Square RandomSymmetric(int n, std::mt19937_64& rng, int lda = 0) {
  std::normal_distribution<double> normal;
  Square a(n, lda);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) a(i, j) = a(j, i) = normal(rng);
  }
  return a;
}

double Norm1(const Square& a) {
  double m = 0.0;
  for (int i = 0; i < a.n; ++i) {
    double s = 0.0;
    for (int j = 0; j < a.n; ++j) s += std::fabs(a(i, j));
    m = std::max(m, s);
  }
  return m;
}

struct Result {
  int ok = 0;
  std::vector<double> values;
  Square vectors{0};
};

// Runs SymmetricEigen on a copy whose strict upper triangle is NaN, so any
// read of it shows.
Result Decompose(const Square& a, bool wantVectors) {
  Result r;
  r.vectors = a;
  for (int i = 0; i < a.n; ++i) {
    for (int j = i + 1; j < a.n; ++j) r.vectors(i, j) = std::numeric_limits<double>::quiet_NaN();
  }
  r.values.assign(static_cast<std::size_t>(a.n), -99.0);
  std::vector<double> work(static_cast<std::size_t>(a.n));
  r.ok = SymmetricEigen(a.n, r.vectors.v.data(), r.vectors.lda, r.values.data(), work.data(),
                        wantVectors);
  return r;
}

std::vector<double> Sorted(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// A v_k = lambda_k v_k and V^T V = I.
void ExpectEigenpairs(const Square& a, const Result& r, double tolerance) {
  const int n = a.n;
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < n; ++i) {
      double av = 0.0;
      for (int j = 0; j < n; ++j) av += a(i, j) * r.vectors(j, k);
      ASSERT_NEAR(av, r.values[k] * r.vectors(i, k), tolerance) << "pair " << k << " row " << i;
    }
    for (int l = 0; l <= k; ++l) {
      double dot = 0.0;
      for (int i = 0; i < n; ++i) dot += r.vectors(i, k) * r.vectors(i, l);
      ASSERT_NEAR(dot, k == l ? 1.0 : 0.0, 1e-13) << k << "," << l;
    }
  }
}

TEST(SymmetricEigen, MatchesDsyevAndGivesOrthonormalEigenvectors) {
  std::mt19937_64 rng(51);
  for (int n : {1, 2, 3, 8, 40}) {
    SCOPED_TRACE(::testing::Message() << "n = " << n);
    const Square a = RandomSymmetric(n, rng, n + 2);
    const std::vector<double> want = testing::LapackSymmetricEigenvalues(n, a.ColumnMajor());
    const double tolerance = 1e-13 * Norm1(a);

    const Result withVectors = Decompose(a, true);
    ASSERT_EQ(withVectors.ok, 1);
    const std::vector<double> got = Sorted(withVectors.values);
    for (int k = 0; k < n; ++k) EXPECT_NEAR(got[k], want[k], tolerance) << "k = " << k;
    ExpectEigenpairs(a, withVectors, tolerance);

    const Result valuesOnly = Decompose(a, false);
    ASSERT_EQ(valuesOnly.ok, 1);
    const std::vector<double> only = Sorted(valuesOnly.values);
    for (int k = 0; k < n; ++k) EXPECT_NEAR(only[k], want[k], tolerance) << "k = " << k;
  }
}

TEST(SymmetricEigen, SecondDifferenceMatrixInClosedForm) {
  // tridiag(-1, 2, -1): eigenvalues 2 - 2 cos(k pi / (n + 1)).
  const int n = 25;
  Square a(n);
  for (int i = 0; i < n; ++i) {
    a(i, i) = 2.0;
    if (i > 0) a(i, i - 1) = a(i - 1, i) = -1.0;
  }
  const Result r = Decompose(a, true);
  ASSERT_EQ(r.ok, 1);
  const std::vector<double> got = Sorted(r.values);
  for (int k = 1; k <= n; ++k) {
    EXPECT_NEAR(got[k - 1], 2.0 - 2.0 * std::cos(k * std::numbers::pi / (n + 1)), 1e-14);
  }
  ExpectEigenpairs(a, r, 1e-14);
}

TEST(SymmetricEigen, RepeatedEigenvaluesKeepOrthonormalVectors) {
  std::mt19937_64 rng(52);
  const int n = 6;
  const testing::ColumnMatrix q = testing::RandomOrthonormal(n, n, rng);
  const double lambda[] = {1, 1, 1, 5, 5, -2};
  Square a(n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      for (int k = 0; k < n; ++k) a(i, j) += q(i, k) * lambda[k] * q(j, k);
    }
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < i; ++j) a(j, i) = a(i, j);  // exactly symmetric
  }
  const Result r = Decompose(a, true);
  ASSERT_EQ(r.ok, 1);
  const std::vector<double> got = Sorted(r.values);
  const std::vector<double> want = {-2, 1, 1, 1, 5, 5};
  for (int k = 0; k < n; ++k) EXPECT_NEAR(got[k], want[k], 1e-13);
  ExpectEigenpairs(a, r, 1e-13);

  // The identity and the zero matrix need no iteration at all.
  Square identity(4);
  for (int i = 0; i < 4; ++i) identity(i, i) = 1.0;
  const Result id = Decompose(identity, true);
  EXPECT_EQ(id.values, (std::vector<double>{1, 1, 1, 1}));
  ExpectEigenpairs(identity, id, 0.0);
  const Result zero = Decompose(Square(3), false);
  EXPECT_EQ(zero.values, (std::vector<double>{0, 0, 0}));
}

TEST(SymmetricEigen, HermitianEmbeddingGivesEachEigenvalueTwice) {
  // The passivity measure writes P = H H^H into [Re P, -Im P; Im P, Re P].
  std::mt19937_64 rng(53);
  std::normal_distribution<double> normal;
  const int n = 4;
  std::vector<std::complex<double>> h(n * n), p(n * n);  // column-major
  for (auto& z : h) z = {normal(rng), normal(rng)};
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      std::complex<double> s = 0.0;
      for (int k = 0; k < n; ++k) s += h[k * n + i] * std::conj(h[k * n + j]);
      p[j * n + i] = s;
    }
  }
  Square e(2 * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      e(i, j) = e(i + n, j + n) = p[j * n + i].real();
      e(i, j + n) = -p[j * n + i].imag();
      e(i + n, j) = p[j * n + i].imag();
    }
  }
  std::vector<double> w(n), rwork(3 * n);
  std::vector<std::complex<double>> work(4 * n);
  const int lwork = 4 * n;
  int info = 0;
  zheev_("N", "L", &n, p.data(), &n, w.data(), work.data(), &lwork, rwork.data(), &info, 1, 1);
  ASSERT_EQ(info, 0);

  const Result r = Decompose(e, false);
  ASSERT_EQ(r.ok, 1);
  const std::vector<double> got = Sorted(r.values);
  for (int k = 0; k < n; ++k) {
    EXPECT_NEAR(got[2 * k], w[k], 1e-12 * w[n - 1]);
    EXPECT_NEAR(got[2 * k + 1], w[k], 1e-12 * w[n - 1]);
  }
}

TEST(Tqli, TridiagonalInputWithIdentityGivesItsEigenvectors) {
  // T with diagonal d and e[i] = T(i, i - 1); e[0] is not used.
  const int n = 5;
  const double diag[] = {4, -1, 3, 0.5, 2};
  const double sub[] = {0, 1, -2, 0.25, 3};
  Square t(n);
  std::vector<double> d(diag, diag + n), e(sub, sub + n);
  for (int i = 0; i < n; ++i) {
    t(i, i) = diag[i];
    if (i > 0) t(i, i - 1) = t(i - 1, i) = sub[i];
  }
  Result r;
  r.vectors = Square(n);
  for (int i = 0; i < n; ++i) r.vectors(i, i) = 1.0;
  r.ok = tqli(n, d.data(), e.data(), r.vectors.v.data(), r.vectors.lda, true);
  r.values = d;
  ASSERT_EQ(r.ok, 1);
  ExpectEigenpairs(t, r, 1e-13);
  const std::vector<double> want = testing::LapackSymmetricEigenvalues(n, t.ColumnMajor());
  const std::vector<double> got = Sorted(r.values);
  for (int k = 0; k < n; ++k) EXPECT_NEAR(got[k], want[k], 1e-13);

  std::vector<double> d2(diag, diag + n), e2(sub, sub + n);
  EXPECT_EQ(tqli(n, d2.data(), e2.data(), nullptr, 0, false), 1);
  EXPECT_EQ(Sorted(d2), got);
  EXPECT_EQ(tqli(0, nullptr, nullptr, nullptr, 0, false), 1);
}

TEST(Tqli, StopsAndReportsWhenAnEigenvalueDoesNotConverge) {
  // A NaN never passes the splitting test; the routine must give up after
  // its iteration limit rather than loop.
  std::mt19937_64 rng(54);
  Square a = RandomSymmetric(5, rng);
  a(3, 1) = a(1, 3) = std::numeric_limits<double>::quiet_NaN();
  testing::LogCapture log;
  const Result r = Decompose(a, true);
  EXPECT_EQ(r.ok, 0);
  EXPECT_EQ(log.text(), "Too many iterations in tqli\n");
}

}  // namespace
}  // namespace cfit
