// Eigenvalues of general matrices (balancing, Hessenberg reduction, hqr) and
// of symmetric ones (tridiagonal reduction, tqli) against reference LAPACK,
// over random matrices of a few sizes and matrices whose eigenvalues are
// known or hard to get.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
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

using testing::ComplexVector;
using testing::Square;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Square RandomSquare(int n, std::mt19937_64& rng, bool symmetric = false, int lda = 0) {
  std::normal_distribution<double> normal;
  Square a(n, lda);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) a(i, j) = symmetric && j < i ? a(j, i) : normal(rng);
  }
  return a;
}

double MaxAbs(const Square& a) {
  double m = 0.0;
  for (int i = 0; i < a.n; ++i) {
    for (int j = 0; j < a.n; ++j) m = std::max(m, std::fabs(a(i, j)));
  }
  return m;
}

struct Eigen {
  int ok = 0;
  std::vector<double> wr, wi;
  ComplexVector values() const { return testing::ToComplex(wr, wi); }
};

// The fitter's sequence: balance, reduce, iterate (or iterate only).
Eigen GeneralEigenvalues(Square a, bool reduce = true) {
  Eigen e;
  e.wr.assign(static_cast<std::size_t>(a.n), -99.0);
  e.wi.assign(static_cast<std::size_t>(a.n), -99.0);
  if (reduce) {
    BalanceMatrix(a.n, a.v.data(), a.lda);
    ReduceToHessenberg(a.n, a.v.data(), a.lda);
  }
  e.ok = hqr(a.n, a.v.data(), a.lda, e.wr.data(), e.wi.data());
  return e;
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

// The zeros of sigma in pole relocation: block-diagonal poles from 1e3 to
// 1e10 in magnitude minus a rank-one term.
Square PoleRelocationMatrix() {
  std::mt19937_64 rng(45);
  std::uniform_real_distribution<double> unit(0.5, 1.5);
  Square h(30, 33);
  std::vector<double> b(30), c(30);
  for (int k = 0; k < 30;) {
    const double magnitude = std::pow(10.0, 3.0 + 7.0 * k / 29.0);
    if (k % 3 == 0) {
      h(k, k) = -magnitude * unit(rng);
      b[k] = 1.0, c[k] = magnitude * (unit(rng) - 1.0);
      ++k;
    } else {
      h(k, k) = h(k + 1, k + 1) = -0.05 * magnitude * unit(rng);
      h(k, k + 1) = magnitude, h(k + 1, k) = -magnitude;
      b[k] = 2.0, b[k + 1] = 0.0;
      c[k] = 0.1 * magnitude * (unit(rng) - 1.0), c[k + 1] = 0.1 * magnitude * (unit(rng) - 1.0);
      k += 2;
    }
  }
  for (int i = 0; i < 30; ++i) {
    for (int j = 0; j < 30; ++j) h(i, j) -= b[i] * c[j];
  }
  return h;
}

// The companion matrix of prod (x - r).
Square Companion(const ComplexVector& roots) {
  std::vector<std::complex<double>> poly = {1.0};
  for (const auto& r : roots) {
    std::vector<std::complex<double>> next(poly.size() + 1, 0.0);
    for (std::size_t k = 0; k < poly.size(); ++k) next[k] += poly[k], next[k + 1] -= r * poly[k];
    poly = next;
  }
  const int n = static_cast<int>(roots.size());
  Square c(n);
  for (int j = 0; j < n; ++j) c(0, j) = -poly[static_cast<std::size_t>(j) + 1].real();
  for (int i = 1; i < n; ++i) c(i, i - 1) = 1.0;
  return c;
}

// Every eigenvalue of the general kernels within `relative` of LAPACK's
// (relative to each eigenvalue, or to the matrix when `perValue` is false),
// and of the known values where there are some.
TEST(GeneralEigen, AgreesWithDgeev) {
  std::mt19937_64 rng(43);
  const ComplexVector roots = {{-1, 0},    {-2, 0},     {-3, 0},     {-1, 2},     {-1, -2},
                               {-0.5, 10}, {-0.5, -10}, {0.25, 0.5}, {0.25, -0.5}};
  struct Case {
    const char* name;
    Square a;
    bool reduce;  // false: already Hessenberg, hqr alone
    double tolerance;
    bool perValue;
    ComplexVector known;
  };
  std::vector<Case> cases;
  for (int n : {1, 2, 3, 12, 40})
    cases.push_back({"random", RandomSquare(n, rng, false, n + 3), true, 1e-10, false, {}});
  for (int trial = 0; trial < 3; ++trial) {
    Square h = RandomSquare(60, rng, false, 64);
    for (int i = 0; i < 60; ++i) {
      for (int j = 0; j + 1 < i; ++j) h(i, j) = 0.0;
    }
    cases.push_back({"Hessenberg", h, false, 1e-9, false, {}});
  }
  cases.push_back({"companion", Companion(roots), true, 1e-9, false, roots});
  cases.push_back({"pole relocation", PoleRelocationMatrix(), true, 1e-9, true, {}});
  // The cyclic shift's trailing block gives the shifts 0, 0: only the
  // exceptional shift lets the iteration converge. Its eigenvalues are the
  // n-th roots of unity.
  for (int n : {3, 4, 6}) {
    Square a(n);
    a(0, n - 1) = 1.0;
    for (int i = 1; i < n; ++i) a(i, i - 1) = 1.0;
    ComplexVector unity;
    for (int k = 0; k < n; ++k) unity.push_back(std::polar(1.0, 2.0 * std::numbers::pi * k / n));
    cases.push_back({"cyclic shift", a, false, 1e-12, false, unity});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.name << ", n = " << c.a.n);
    testing::LogCapture log;
    const Eigen e = GeneralEigenvalues(c.a, c.reduce);
    ASSERT_EQ(e.ok, 1);
    EXPECT_EQ(log.text(), "");
    ExpectPairsAdjacent(e);
    const ComplexVector want = testing::LapackEigenvalues(c.a.n, c.a.ColumnMajor());
    if (c.perValue) {
      for (const auto& w : want) {
        double best = std::numeric_limits<double>::infinity();
        for (const auto& g : e.values()) best = std::min(best, std::abs(g - w));
        EXPECT_LT(best, c.tolerance * std::abs(w)) << w;
      }
    } else {
      const double scale = std::max(1.0, MaxAbs(c.a)) * std::sqrt(c.a.n);
      EXPECT_LT(testing::EigenvalueMismatch(e.values(), want), c.tolerance * scale);
    }
    if (!c.known.empty()) {
      EXPECT_LT(testing::EigenvalueMismatch(e.values(), c.known), c.tolerance);
    }
  }
}

// Balancing is a diagonal similarity by powers of two: it undoes such a
// scaling, leaves a balanced matrix alone and ends on isolated or infinite
// entries.
TEST(BalanceMatrix, UndoesAPowerOfTwoScalingAndLeavesBalancedMatricesAlone) {
  std::mt19937_64 rng(42);
  const int n = 10;
  const Square base = RandomSquare(n, rng);
  Square a(n);  // D^-1 B D with D = diag(2^k), k spread over +-30
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) a(i, j) = std::ldexp(base(i, j), ((j * 13) % 61) - ((i * 13) % 61));
  }
  Square b = a;
  BalanceMatrix(n, b.v.data(), b.lda);
  for (int i = 0; i < n; ++i) {
    double c = 0.0, r = 0.0;
    for (int j = 0; j < n; ++j) {
      int e1 = 0, e2 = 0;
      // b(i, j) = a(i, j) g_j / g_i for powers of two g.
      EXPECT_EQ(std::frexp(b(i, j) / a(i, j), &e1), 0.5);
      EXPECT_EQ(std::frexp(b(i, 0) / a(i, 0) * (b(0, j) / a(0, j)) / (b(0, 0) / a(0, 0)), &e2),
                0.5);
      EXPECT_EQ(e1, e2) << i << "," << j;
      if (j != i) c += std::fabs(b(j, i)), r += std::fabs(b(i, j));
    }
    EXPECT_TRUE(c / r > 0.25 && c / r < 4.0) << "i = " << i;
  }
  EXPECT_LT(MaxAbs(b), 1e3 * MaxAbs(base));
  EXPECT_GT(MaxAbs(a), 1e12 * MaxAbs(base));

  Square sym = RandomSquare(7, rng, true, 9);
  Square same = sym;
  BalanceMatrix(7, same.v.data(), same.lda);
  EXPECT_EQ(same.v, sym.v);

  Square isolated(3);  // row 1 and column 2 have no off-diagonal entries
  const double values[3][3] = {{1, 1e6, 0}, {0, 2, 0}, {1e-6, 5, 4}};
  for (int i = 0; i < 9; ++i) isolated(i / 3, i % 3) = values[i / 3][i % 3];
  BalanceMatrix(3, isolated.v.data(), isolated.lda);
  EXPECT_EQ(isolated(1, 1), 2.0);
  EXPECT_EQ(isolated(2, 2), 4.0);
  isolated(0, 1) = std::numeric_limits<double>::infinity();
  BalanceMatrix(3, isolated.v.data(), isolated.lda);  // must return
}

TEST(ReduceToHessenberg, ZeroesBelowTheSubdiagonal) {
  std::mt19937_64 rng(44);
  Square h = RandomSquare(12, rng, false, 15);
  ReduceToHessenberg(12, h.v.data(), h.lda);
  for (int i = 0; i < 12; ++i) {
    for (int j = 0; j + 1 < i; ++j) EXPECT_EQ(h(i, j), 0.0) << i << "," << j;
  }
}

// A v_k = lambda_k v_k and V^T V = I.
void ExpectEigenpairs(const Square& a, const std::vector<double>& values, const Square& v,
                      double tolerance) {
  for (int k = 0; k < a.n; ++k) {
    for (int i = 0; i < a.n; ++i) {
      double av = 0.0;
      for (int j = 0; j < a.n; ++j) av += a(i, j) * v(j, k);
      ASSERT_NEAR(av, values[k] * v(i, k), tolerance) << "pair " << k << " row " << i;
    }
    for (int l = 0; l <= k; ++l) {
      double dot = 0.0;
      for (int i = 0; i < a.n; ++i) dot += v(i, k) * v(i, l);
      ASSERT_NEAR(dot, k == l ? 1.0 : 0.0, 1e-13) << k << "," << l;
    }
  }
}

std::vector<double> Sorted(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// P = H H^H of a random complex H, embedded as [Re P, -Im P; Im P, Re P] as
// the passivity measure does: each eigenvalue of P (by zheev) twice.
Square HermitianEmbedding(std::mt19937_64& rng, std::vector<double>& twice) {
  std::normal_distribution<double> normal;
  const int n = 4;
  std::vector<std::complex<double>> h(n * n), p(n * n);  // column-major
  for (auto& z : h) z = {normal(rng), normal(rng)};
  Square e(2 * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      std::complex<double> s = 0.0;
      for (int k = 0; k < n; ++k) s += h[k * n + i] * std::conj(h[k * n + j]);
      p[j * n + i] = s;
      e(i, j) = e(i + n, j + n) = s.real();
      e(i, j + n) = -s.imag(), e(i + n, j) = s.imag();
    }
  }
  std::vector<double> w(n), rwork(3 * n);
  std::vector<std::complex<double>> work(4 * n);
  const int lwork = 4 * n;
  int info = 0;
  zheev_("N", "L", &n, p.data(), &n, w.data(), work.data(), &lwork, rwork.data(), &info, 1, 1);
  testing::CheckInfo(info);
  for (double x : w) twice.insert(twice.end(), {x, x});
  return e;
}

// Eigenvalues as dsyev's (or known ones), with and without vectors; the
// vectors orthonormal eigenvectors. The strict upper triangle is NaN, so any
// read of it shows.
TEST(SymmetricEigen, AgreesWithDsyevAndGivesOrthonormalEigenvectors) {
  std::mt19937_64 rng(51);
  struct Case {
    const char* name;
    Square a;
    std::vector<double> known;  // sorted; empty: dsyev's
  };
  std::vector<Case> cases;
  for (int n : {1, 2, 3, 8, 40}) cases.push_back({"random", RandomSquare(n, rng, true, n + 2), {}});
  Square second(25);  // tridiag(-1, 2, -1): 2 - 2 cos(k pi / (n + 1))
  std::vector<double> secondValues;
  for (int i = 0; i < 25; ++i) {
    second(i, i) = 2.0;
    if (i > 0) second(i, i - 1) = second(i - 1, i) = -1.0;
    secondValues.push_back(2.0 - 2.0 * std::cos((i + 1) * std::numbers::pi / 26));
  }
  cases.push_back({"second difference", second, secondValues});
  const testing::ColumnMatrix q = testing::RandomOrthonormal(6, 6, rng);
  const double lambda[] = {1, 1, 1, 5, 5, -2};
  Square repeated(6);
  for (int i = 0; i < 6; ++i) {
    for (int j = 0; j <= i; ++j) {
      for (int k = 0; k < 6; ++k) repeated(i, j) += q(i, k) * lambda[k] * q(j, k);
      repeated(j, i) = repeated(i, j);
    }
  }
  cases.push_back({"repeated", repeated, {-2, 1, 1, 1, 5, 5}});
  Square identity(4);
  for (int i = 0; i < 4; ++i) identity(i, i) = 1.0;
  cases.push_back({"identity", identity, {1, 1, 1, 1}});
  cases.push_back({"zero", Square(3), {0, 0, 0}});
  std::vector<double> twice;
  cases.push_back({"Hermitian embedding", HermitianEmbedding(rng, twice), twice});
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.name << ", n = " << c.a.n);
    const int n = c.a.n;
    const std::vector<double> want =
        c.known.empty() ? testing::LapackSymmetricEigenvalues(n, c.a.ColumnMajor()) : c.known;
    double norm = 1.0;
    for (int i = 0; i < n; ++i) {
      double s = 0.0;
      for (int j = 0; j < n; ++j) s += std::fabs(c.a(i, j));
      norm = std::max(norm, s);
    }
    for (bool vectors : {true, false}) {
      Square v = c.a;
      for (int i = 0; i < n; ++i) {
        for (int j = i + 1; j < n; ++j) v(i, j) = kNaN;
      }
      std::vector<double> values(static_cast<std::size_t>(n), -99.0), work(values.size());
      ASSERT_EQ(SymmetricEigen(n, v.v.data(), v.lda, values.data(), work.data(), vectors), 1);
      const std::vector<double> got = Sorted(values);
      for (int k = 0; k < n; ++k) EXPECT_NEAR(got[k], want[k], 1e-13 * norm) << "k = " << k;
      if (vectors) ExpectEigenpairs(c.a, values, v, 1e-13 * norm);
    }
  }
}

// tqli alone on a tridiagonal T (e[i] = T(i, i - 1)), from the identity:
// the eigenvectors of T.
TEST(Tqli, TridiagonalInputWithIdentityGivesItsEigenvectors) {
  const int n = 5;
  const double diag[] = {4, -1, 3, 0.5, 2}, sub[] = {0, 1, -2, 0.25, 3};
  Square t(n), z(n);
  std::vector<double> d(diag, diag + n), e(sub, sub + n);
  for (int i = 0; i < n; ++i) {
    t(i, i) = diag[i], z(i, i) = 1.0;
    if (i > 0) t(i, i - 1) = t(i - 1, i) = sub[i];
  }
  ASSERT_EQ(tqli(n, d.data(), e.data(), z.v.data(), z.lda, true), 1);
  ExpectEigenpairs(t, d, z, 1e-13);
  const std::vector<double> want = testing::LapackSymmetricEigenvalues(n, t.ColumnMajor());
  for (int k = 0; k < n; ++k) EXPECT_NEAR(Sorted(d)[k], want[k], 1e-13);
  EXPECT_EQ(tqli(0, nullptr, nullptr, nullptr, 0, false), 1);
}

// A NaN never passes the deflation or splitting test: the iterations end at
// their limits with the messages of the run log.
TEST(Eigen, NonConvergenceIsReportedAtTheIterationLimit) {
  std::mt19937_64 rng(46);
  Square h = RandomSquare(6, rng);
  for (int i = 0; i < 6; ++i) {
    for (int j = 0; j + 1 < i; ++j) h(i, j) = 0.0;
  }
  h(4, 3) = kNaN;
  {
    testing::LogCapture log;
    EXPECT_EQ(GeneralEigenvalues(h, false).ok, 0);
    EXPECT_EQ(log.text(), "No convergence in hqr after 50 iterations\n");
  }
  Square a = RandomSquare(5, rng, true);
  a(3, 1) = a(1, 3) = kNaN;
  std::vector<double> values(5), work(5);
  testing::LogCapture log;
  EXPECT_EQ(SymmetricEigen(5, a.v.data(), a.lda, values.data(), work.data(), true), 0);
  EXPECT_EQ(log.text(), "Too many iterations in tqli\n");
}

}  // namespace
}  // namespace cfit
