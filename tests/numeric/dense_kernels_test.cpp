// The dense kernels against reference LAPACK, an independent implementation
// of the same mathematics: least squares by Householder QR with and without
// column pivoting (dgels), eigenvalues of general matrices (dgeev) and of
// symmetric ones (dsyev), the complex inverse through the real embedding
// (zgesv); over random matrices of a few sizes and shapes, and matrices
// whose answers are known or hard to get. Also complex arithmetic against
// std::complex and the bounds of the small containers.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <random>
#include <ranges>
#include <sstream>
#include <vector>

#include "numeric/complex.h"
#include "numeric/complex_inverse.h"
#include "numeric/eigen_general.h"
#include "numeric/element_table.h"
#include "numeric/householder_qr.h"
#include "numeric/pivoted_qr.h"
#include "numeric/pole_term.h"
#include "numeric/port_matrix.h"
#include "numeric/singular_value_clip.h"
#include "numeric/symmetric_eigen.h"
#include "support/log_capture.h"

// Fortran interfaces (gfortran ABI: trailing hidden lengths of character
// arguments).
extern "C" {
void dgeqrf_(const int* m, const int* n, double* a, const int* lda, double* tau, double* work,
             const int* lwork, int* info);
void dorgqr_(const int* m, const int* n, const int* k, double* a, const int* lda, const double* tau,
             double* work, const int* lwork, int* info);
void dgels_(const char* trans, const int* m, const int* n, const int* nrhs, double* a,
            const int* lda, double* b, const int* ldb, double* work, const int* lwork, int* info,
            std::size_t);
void dgeev_(const char* jobvl, const char* jobvr, const int* n, double* a, const int* lda,
            double* wr, double* wi, double* vl, const int* ldvl, double* vr, const int* ldvr,
            double* work, const int* lwork, int* info, std::size_t, std::size_t);
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info, std::size_t, std::size_t);
void zgesv_(const int* n, const int* nrhs, std::complex<double>* a, const int* lda, int* ipiv,
            std::complex<double>* b, const int* ldb, int* info);
}

namespace cfit {
namespace {

// rows x cols, column-stored, with a leading dimension that may exceed rows.
struct ColumnMatrix {
  int rows = 0, cols = 0, lda = 0;
  std::vector<double> v;
  ColumnMatrix(int r, int c, int ld = 0)
      : rows(r), cols(c), lda(ld > 0 ? ld : r), v(static_cast<std::size_t>(lda) * c, 0.0) {}
  double& operator()(int i, int j) { return v[static_cast<std::size_t>(j) * lda + i]; }
  double operator()(int i, int j) const { return v[static_cast<std::size_t>(j) * lda + i]; }
  double* data() { return v.data(); }
};

ColumnMatrix RandomMatrix(int rows, int cols, std::mt19937_64& rng, int lda = 0) {
  std::normal_distribution<double> normal;
  ColumnMatrix a(rows, cols, lda);
  for (double& x : a.v) x = normal(rng);
  return a;
}

std::vector<double> RandomVector(int n, std::mt19937_64& rng) { return RandomMatrix(n, 1, rng).v; }

// U diag(sigma) V^T with random orthonormal U (rows x cols) and V, from the
// QR of Gaussian matrices.
ColumnMatrix WithSingularValues(int rows, const std::vector<double>& sigma, std::mt19937_64& rng) {
  const int cols = static_cast<int>(sigma.size());
  auto orthonormal = [&](int m) {
    ColumnMatrix q = RandomMatrix(m, cols, rng);
    std::vector<double> tau(cols), work(64 * cols);
    int lwork = 64 * cols, info = 0;
    dgeqrf_(&m, &cols, q.data(), &q.lda, tau.data(), work.data(), &lwork, &info);
    dorgqr_(&m, &cols, &cols, q.data(), &q.lda, tau.data(), work.data(), &lwork, &info);
    EXPECT_EQ(info, 0) << "LAPACK reference";
    return q;
  };
  const ColumnMatrix u = orthonormal(rows), v = orthonormal(cols);
  ColumnMatrix a(rows, cols);
  for (int e = 0; e < rows * cols * cols; ++e) {
    const int i = e % rows, j = e / rows % cols, k = e / rows / cols;
    a(i, j) += u(i, k) * sigma[k] * v(j, k);
  }
  return a;
}

// Least-squares solution of a full-rank system by dgels.
std::vector<double> LapackLeastSquares(ColumnMatrix a, std::vector<double> b) {
  const int one = 1;
  int ldb = std::max(a.rows, a.cols), lwork = 64 * (ldb + 1), info = 0;
  std::vector<double> work(lwork);
  b.resize(ldb, 0.0);
  dgels_("N", &a.rows, &a.cols, &one, a.data(), &a.lda, b.data(), &ldb, work.data(), &lwork, &info,
         1);
  EXPECT_EQ(info, 0) << "LAPACK reference";
  b.resize(a.cols);
  return b;
}

// A x.
std::vector<double> Multiply(const ColumnMatrix& a, const std::vector<double>& x) {
  std::vector<double> y(a.rows, 0.0);
  for (int e = 0; e < a.rows * a.cols; ++e)
    y[e % a.rows] += a(e % a.rows, e / a.rows) * x[e / a.rows];
  return y;
}

// max |x - y| / max |y| over the entries of y.
double RelativeDifference(const std::vector<double>& x, const std::vector<double>& y) {
  double diff = 0.0, scale = 0.0;
  for (std::size_t i = 0; i < y.size(); ++i)
    diff = std::max(diff, std::fabs(x[i] - y[i])), scale = std::max(scale, std::fabs(y[i]));
  return scale == 0.0 ? diff : diff / scale;
}

using ComplexVector = std::vector<std::complex<double>>;

// Eigenvalues by dgeev: those of the transpose, so the same whether the
// matrix is read by rows (as the eigenvalue kernels read it) or by columns.
ComplexVector LapackEigenvalues(ColumnMatrix a) {
  std::vector<double> wr(a.rows), wi(a.rows), work(8 * a.rows + 16);
  const int one = 1, lwork = static_cast<int>(work.size());
  double dummy = 0.0;
  int info = 0;
  dgeev_("N", "N", &a.rows, a.data(), &a.lda, wr.data(), wi.data(), &dummy, &one, &dummy, &one,
         work.data(), &lwork, &info, 1, 1);
  EXPECT_EQ(info, 0) << "LAPACK reference";
  ComplexVector z(a.rows);
  for (int i = 0; i < a.rows; ++i) z[i] = {wr[i], wi[i]};
  return z;
}

// Eigenvalues of a symmetric matrix by dsyev, in ascending order.
std::vector<double> LapackSymmetricEigenvalues(ColumnMatrix a) {
  std::vector<double> w(a.rows), work(8 * a.rows + 16);
  const int lwork = static_cast<int>(work.size());
  int info = 0;
  dsyev_("N", "L", &a.rows, a.data(), &a.lda, w.data(), work.data(), &lwork, &info, 1, 1);
  EXPECT_EQ(info, 0) << "LAPACK reference";
  return w;
}

void ExpectNear(Complex got, std::complex<double> want, double tol) {
  EXPECT_LE(std::abs(std::complex(got.re, got.im) - want), tol * std::max(1.0, std::abs(want)))
      << want;
}

// ---------------------------------------------------------------------------
// Least squares.

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
  if (f.kernel == kHouseholder)
    SolveQR(f.a.rows, f.a.cols, f.a.v.data(), f.a.lda, f.c.data(), f.d.data(), b.data());
  *solved = f.kernel == kHouseholder
                ? f.rank
                : SolvePivotedQR(f.a.rows, f.a.cols, f.a.v.data(), f.a.lda, f.c.data(), f.d.data(),
                                 b.data(), f.permutation.data(), work.data(), f.kernel == kLoose);
  b.resize(f.a.cols);
  return b;
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
    const ColumnMatrix base =
        t.cond > 1 ? WithSingularValues(t.rows, sigma, rng) : RandomMatrix(t.rows, t.cols, rng);
    const std::vector<double> xTrue = RandomVector(t.cols, rng),
                              b = t.cond > 1 ? Multiply(base, xTrue) : RandomVector(t.rows, rng);
    const std::vector<double> want = t.cond > 1 ? xTrue : LapackLeastSquares(base, b);
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
      SCOPED_TRACE(::testing::Message() << "case " << &t - cases << ", kernel " << kernel);
      const Qr f = Factorise(kernel, a);
      int solved = 0;
      std::vector<double> x = Solve(f, b, &solved);
      EXPECT_TRUE(f.rank == t.cols && solved == t.cols) << f.rank << " " << solved;
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
// are 0 and the residual is orthogonal to the columns kept (the fit is the
// best one with those columns). A column within 1e-11 of another counts as dependent only for the
// loose tolerance.
TEST(QR, RankDeficientProblemsFitWithTheIndependentColumns) {
  std::mt19937_64 rng(14);
  const ColumnMatrix base = RandomMatrix(25, 6, rng);
  const std::vector<double> noise = RandomVector(25, rng);
  const struct {
    int rows, cols, copyOf4;  // column 4 is a copy of this column (-1: none) ...
    double epsilon;           // ... plus this times noise
    bool zeroLast, zero;      // the last column, or every column, is zero
    int rank[3], solved[3];   // per kernel: the factorisation's rank and the unknowns solved
  } cases[] = {
      {25, 6, 1, 0.0, true, false, {4, 4, 4}, {4, 4, 4}},     // a copy and a zero column
      {25, 6, 2, 1e-11, false, false, {6, 6, 6}, {6, 6, 5}},  // nearly a copy
      {6, 3, -1, 0.0, false, true, {0, 0, 0}, {0, 0, 0}},     // all zero
      {3, 6, -1, 0.0, false, false, {3, 3, 3}, {3, 3, 3}},    // more unknowns than equations
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
      SCOPED_TRACE(::testing::Message() << "case " << &t - cases << ", kernel " << kernel);
      const Qr f = Factorise(kernel, a);
      EXPECT_EQ(f.rank, t.rank[kernel]);
      int solved = 0;
      const std::vector<double> x = Solve(f, b, &solved);
      EXPECT_EQ(solved, t.solved[kernel]);
      EXPECT_GE(std::count(x.begin(), x.end(), 0.0), t.cols - t.solved[kernel]);
      const std::vector<double> ax = Multiply(a, x);
      for (int j = 0; j < t.cols; ++j) {
        double dot = 0.0, norm = 0.0;
        for (int i = 0; i < t.rows; ++i) dot += a(i, j) * (b[i] - ax[i]), norm += b[i] * b[i];
        EXPECT_TRUE(x[j] == 0.0 || std::fabs(dot) < 1e-12 * norm) << j << " " << dot;
      }
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
  EXPECT_TRUE(none.rank == 0 && progress == 0.5 && log.str().empty());
  EXPECT_EQ(none.a.v, a.v) << "no column was transformed";
}

// ---------------------------------------------------------------------------
// Eigenvalues. The kernels store rows where LAPACK stores columns: At(a, i, j)
// is element (i, j) as the kernels see it.

double& At(ColumnMatrix& a, int i, int j) { return a(j, i); }

ColumnMatrix RandomSquare(int n, std::mt19937_64& rng, bool symmetric = false, int lda = 0) {
  ColumnMatrix a = RandomMatrix(n, n, rng, lda);
  for (int i = 0; i < n * n && symmetric; ++i)
    a(i / n, i % n) = a(std::max(i / n, i % n), std::min(i / n, i % n));
  return a;
}

// Upper Hessenberg as the kernels see it.
ColumnMatrix Hessenberg(ColumnMatrix a) {
  for (int k = 0; k < a.rows * a.rows; ++k)
    if (k % a.rows + 1 < k / a.rows) At(a, k / a.rows, k % a.rows) = 0.0;
  return a;
}

double MaxAbs(const ColumnMatrix& a) {
  return std::fabs(*std::ranges::max_element(a.v, {}, [](double x) { return std::fabs(x); }));
}

// The fitter's sequence: balance, reduce, iterate (or iterate only). Complex
// pairs sit in adjacent positions, share their real part and carry -z then +z.
std::optional<ComplexVector> GeneralEigenvalues(ColumnMatrix a, bool reduce) {
  std::vector<double> wr(a.rows, -99.0), wi(a.rows, -99.0);
  if (reduce) BalanceMatrix(a.rows, a.data(), a.lda), ReduceToHessenberg(a.rows, a.data(), a.lda);
  if (hqr(a.rows, a.data(), a.lda, wr.data(), wi.data()) != 1) return std::nullopt;
  for (int k = 0; k < a.rows; ++k) {
    if (wi[k] == 0.0) continue;
    EXPECT_TRUE(wi[k] < 0.0 && k + 1 < a.rows && wr[k + 1] == wr[k] && wi[k + 1] == -wi[k]) << k;
    ++k;
  }
  ComplexVector z(a.rows);
  for (int k = 0; k < a.rows; ++k) z[k] = {wr[k], wi[k]};
  return z;
}

// Every eigenvalue LAPACK finds has one of the general kernels' within
// `tolerance` of the matrix' scale, and so has every known value (relative
// to the value's size): a graded matrix needs the balancing. The cyclic
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
  // D^-1 B D with D = diag(2^k), k spread over +-30: the eigenvalues of B.
  const ColumnMatrix base = RandomSquare(10, rng);
  ColumnMatrix graded(10, 10);
  for (int i = 0; i < 100; ++i)
    graded(i / 10, i % 10) = std::ldexp(base(i / 10, i % 10), i % 10 * 13 % 61 - i / 10 * 13 % 61);
  cases.push_back({graded, true, 1e-12, LapackEigenvalues(base)});
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
    const std::optional<ComplexVector> got = GeneralEigenvalues(c.a, c.reduce);
    ASSERT_TRUE(got);
    EXPECT_EQ(log.text(), "");
    auto distance = [&](std::complex<double> w) {
      return std::ranges::min(*got |
                              std::views::transform([&](auto g) { return std::abs(g - w); }));
    };
    const double scale = std::max(1.0, MaxAbs(c.a)) * std::sqrt(c.a.rows);
    for (const auto& w : LapackEigenvalues(c.a)) EXPECT_LT(distance(w), c.tolerance * scale) << w;
    for (const auto& w : c.known) EXPECT_LT(distance(w), c.tolerance * std::abs(w)) << w;
  }
}

// The reduction takes each row through all its eliminations at once (for
// cache locality); its result must be that of eliminating one row and then
// updating one column at a time, to the bit, or the fitter's poles would
// change. Zeros below the subdiagonal skip an elimination.
TEST(GeneralEigen, ReductionMatchesElementaryEliminationsExactly) {
  const auto reference = [](int n, double* a, int lda) {
    const auto h = [&](int i, int j) -> double& { return a[i * lda + j]; };
    for (int col = 1; col < n - 1; ++col) {
      double pivot = 0.0;
      int pivotRow = col;
      for (int i = col; i < n; ++i) {
        if (std::fabs(h(i, col - 1)) > std::fabs(pivot)) pivot = h(i, col - 1), pivotRow = i;
      }
      if (pivotRow != col) {
        for (int j = col - 1; j < n; ++j) std::swap(h(pivotRow, j), h(col, j));
        for (int i = 0; i < n; ++i) std::swap(h(i, pivotRow), h(i, col));
      }
      if (pivot == 0.0) continue;
      for (int i = col + 1; i < n; ++i) {
        if (h(i, col - 1) == 0.0) continue;
        const double y = h(i, col - 1) / pivot;
        h(i, col - 1) = 0.0;
        for (int j = col; j < n; ++j) h(i, j) -= y * h(col, j);
        for (int j = 0; j < n; ++j) h(j, col) += y * h(j, i);
      }
    }
  };
  std::mt19937_64 rng(5);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform;
  for (int n : {1, 2, 3, 5, 8, 13, 31, 64}) {
    for (double zeros : {0.0, 0.3, 0.8}) {
      const int lda = n + 2;
      std::vector<double> a(static_cast<std::size_t>(n) * lda);
      for (double& x : a) x = uniform(rng) < zeros ? 0.0 : normal(rng);
      std::vector<double> b = a;
      ReduceToHessenberg(n, a.data(), lda);
      reference(n, b.data(), lda);
      for (std::size_t k = 0; k < a.size(); ++k) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(a[k]), std::bit_cast<std::uint64_t>(b[k]))
            << "n = " << n << ", zeros " << zeros << ", entry " << k;
      }
    }
  }
}

// Balancing leaves a balanced matrix alone and ends on isolated or infinite
// entries (what it does to a graded matrix shows in the eigenvalues above).
// A NaN never passes the deflation or splitting test: the iterations end at
// their limits with the messages of the run log.
TEST(Eigen, BalancingEdgesAndNonConvergence) {
  std::mt19937_64 rng(42);
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
  ColumnMatrix h = Hessenberg(RandomSquare(6, rng)), a = RandomSquare(5, rng, true);
  At(h, 4, 3) = NAN;
  a(3, 1) = a(1, 3) = NAN;
  testing::LogCapture log;
  EXPECT_FALSE(GeneralEigenvalues(h, false));
  EXPECT_EQ(log.text(), "No convergence in hqr after 50 iterations\n");
  log.clear();
  std::vector<double> values(5), work(5);
  EXPECT_EQ(SymmetricEigen(5, a.data(), a.lda, values.data(), work.data(), true), 0);
  EXPECT_EQ(log.text(), "Too many iterations in tqli\n");
}

// Eigenvalues as dsyev's (or known ones), with and without vectors; the
// vectors orthonormal eigenvectors (A v_k = lambda_k v_k, V^T V = I). The
// strict upper triangle is NaN, so any read of it shows.
TEST(SymmetricEigen, AgreesWithDsyevAndGivesOrthonormalEigenvectors) {
  std::mt19937_64 rng(51);
  std::vector<std::pair<ColumnMatrix, std::vector<double>>> cases;  // known values, sorted
  for (int n : {1, 2, 3, 8, 40}) cases.push_back({RandomSquare(n, rng, true, n + 2), {}});
  // Q diag(lambda) Q^T with a random orthogonal Q.
  const ColumnMatrix q = WithSingularValues(6, std::vector<double>(6, 1.0), rng);
  const double lambda[] = {1, 1, 1, 5, 5, -2};
  ColumnMatrix repeated(6, 6);
  for (int i = 0; i < 216; ++i)
    repeated(i / 36, i / 6 % 6) += q(i / 36, i % 6) * lambda[i % 6] * q(i / 6 % 6, i % 6);
  cases.push_back({repeated, {-2, 1, 1, 1, 5, 5}});
  cases.push_back({ColumnMatrix(3, 3), {0, 0, 0}});
  for (const auto& [a, known] : cases) {
    const int n = a.rows;
    SCOPED_TRACE(::testing::Message() << "n = " << n);
    const std::vector<double> want = known.empty() ? LapackSymmetricEigenvalues(a) : known;
    const double norm = std::max(1.0, MaxAbs(a) * n);
    for (bool vectors : {true, false}) {
      ColumnMatrix v = a;
      for (int i = 0; i < n * n; ++i) At(v, i / n, i % n) = i % n > i / n ? NAN : a(i / n, i % n);
      std::vector<double> values(n, -99.0), work(n);
      ASSERT_EQ(SymmetricEigen(n, v.data(), v.lda, values.data(), work.data(), vectors), 1);
      std::vector<double> sorted = values;
      std::sort(sorted.begin(), sorted.end());
      for (int k = 0; k < n; ++k) EXPECT_NEAR(sorted[k], want[k], 1e-13 * norm) << "k = " << k;
      for (int e = 0; e < n * n && vectors; ++e) {
        const int k = e / n, i = e % n;
        double av = 0.0, dot = 0.0;
        for (int j = 0; j < n; ++j) av += a(i, j) * At(v, j, k), dot += At(v, j, k) * At(v, j, i);
        ASSERT_NEAR(av, values[k] * At(v, i, k), 1e-13 * norm) << "pair " << k << " row " << i;
        ASSERT_NEAR(dot, k == i ? 1.0 : 0.0, 1e-13) << k << "," << i;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The complex inverse.

// Inversion with an exactly sized workspace, so that any overrun shows
// under the address sanitizer.
int Invert(int n, const Complex* m, Complex* inverse) {
  std::vector<double> a(4 * n * n), c(2 * n), d(2 * n), rhs(2 * n), work(2 * n);
  std::vector<int> permutation(2 * n);
  return InvertComplexMatrix(n, m, inverse, a.data(), c.data(), d.data(), permutation.data(),
                             rhs.data(), work.data());
}

// A = U diag(3, 0.5, 1.2) V^T with rotations U, V: the values from 1 up go
// to 0.9 along the same singular vectors, the others stay.
TEST(SingularValueClip, ClipsAlongTheSingularVectors) {
  const auto rotation = [](double a, double b) {
    // Rotation by a about z, then by b about x.
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
    return std::vector<double>{ca, -sa, 0, cb * sa, cb * ca, -sb, sb * sa, sb * ca, cb};
  };
  const std::vector<double> u = rotation(0.3, 1.1), v = rotation(-0.7, 0.4);
  const auto compose = [&](const double(&sigma)[3]) {
    std::vector<double> a(9, 0.0);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < 3; ++k) a[i * 3 + j] += u[i * 3 + k] * sigma[k] * v[j * 3 + k];
      }
    }
    return a;
  };
  std::vector<double> a = compose({3.0, 0.5, 1.2});
  EXPECT_NEAR(LargestSingularValue(a, 3), 3.0, 1e-13);
  EXPECT_EQ(ClipSingularValues(a, 3, 1.0, 0.9), 2);
  const std::vector<double> expected = compose({0.9, 0.5, 0.9});
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(a[k], expected[k], 1e-13) << k;
  EXPECT_NEAR(LargestSingularValue(a, 3), 0.9, 1e-13);
  // Nothing at or above the bound: unchanged.
  const std::vector<double> before = a;
  EXPECT_EQ(ClipSingularValues(a, 3, 1.0, 0.5), 0);
  EXPECT_EQ(a, before);
}

// Random matrices of a few sizes, one of them inverted in place, against
// zgesv's solution of M X = I (column-stored). A zero matrix fails and leaves
// the output alone; a singular one (complex rank 1) gives the solver's finite
// basic solution.
TEST(InvertComplexMatrix, MatchesZgesvAndSurvivesZeroAndSingularMatrices) {
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
    const double scale = std::abs(std::ranges::max(x, {}, [](auto z) { return std::abs(z); }));
    Complex* out = n == 2 ? m.data() : inverse.data();
    ASSERT_EQ(Invert(n, m.data(), out), 1);
    for (int k = 0; k < n * n; ++k) ExpectNear(out[k], x[k % n * n + k / n], 1e-11 * scale);
  }
  std::vector<Complex> zero(9), inverse(9, Complex(5, 5)), m(9);
  EXPECT_TRUE(Invert(3, zero.data(), inverse.data()) == 0 &&
              inverse == std::vector<Complex>(9, Complex(5, 5)));
  const std::vector<Complex> u = {{1, 2}, {0, -1}, {3, 0.5}}, v = {{2, 0}, {1, 1}, {-1, 0.5}};
  for (int k = 0; k < 9; ++k) m[k] = u[k / 3] * v[k % 3];
  ASSERT_EQ(Invert(3, m.data(), inverse.data()), 1);
  for (const Complex& z : inverse) EXPECT_TRUE(std::isfinite(z.re) && std::isfinite(z.im));
}

// ---------------------------------------------------------------------------
// Complex values against std::complex, and the bounds of the small
// containers.

// Samples on every branch of the square root: the axes, each quadrant, 0;
// values near the ends of the double range.
TEST(Complex, ArithmeticAgreesWithStdComplex) {
  const Complex samples[] = {{1.5, -2.0}, {-3.0, 0.25}, {0.0, 4.0},   {7.0, 0.0},  {-1e-3, -1e3},
                             {-4.0, 0.0}, {-3.0, 4.0},  {-3.0, -4.0}, {3.0, -4.0}, {0.0, -3.0}};
  for (Complex a : samples) {
    const std::complex<double> sa(a.re, a.im);
    for (Complex b : samples) {
      const std::complex<double> sb(b.re, b.im);
      for (auto [got, want] : {std::pair{a + b, sa + sb},
                               {a - b, sa - sb},
                               {a * b, sa * sb},
                               {a / b, sa / sb},
                               {2.5 / b, 2.5 / sb},
                               {3.0 - a, 3.0 - sa}})
        ExpectNear(got, want, 1e-15);
    }
    ExpectNear(Sqrt(a), std::sqrt(sa), 1e-15);
    ExpectNear(Exp(a * 0.01), std::exp(sa * 0.01), 1e-14);
    EXPECT_NEAR(Abs(a), std::abs(sa), 1e-15 * std::abs(sa));
  }
  EXPECT_TRUE(Sqrt({0.0, 0.0}) == Complex(0.0, 0.0) && Abs({0.0, 0.0}) == 0.0);
  // Near the ends of the double range division and modulus do not overflow.
  EXPECT_DOUBLE_EQ(Abs({1e300, 1e300}), std::sqrt(2.0) * 1e300);
  EXPECT_DOUBLE_EQ(Abs({1e-300, -1e-300}), std::sqrt(2.0) * 1e-300);
  ExpectNear(Complex{1e300, 1e300} / Complex{2e300, 2e300}, 0.5, 1e-15);
  const Complex r =
      Sqrt(Complex{std::numeric_limits<double>::max(), std::numeric_limits<double>::max()});
  EXPECT_TRUE(std::isfinite(r.re) && std::isfinite(r.im));
}

// Port matrices, pole terms and the element table refuse indices outside
// their size and leave their contents alone.
TEST(Containers, OutOfRangeAccessIsRefused) {
  PortMatrix m(2), empty(0);
  m.At(0, 0) = {7.0, -1.0};
  EXPECT_FALSE(m.Set(5, 0, {3.0, 3.0}) || m.Set(0, -1, {3.0, 3.0}) || empty.Set(0, 0, {1.0, 0.0}));
  EXPECT_TRUE(m.Get(-1, 1) == Complex(0.0, 0.0) && empty.Get(0, 0) == Complex(0.0, 0.0) &&
              m.At(0, 0) == Complex(7.0, -1.0));
  PoleTerm t(3), real(1);  // a real pole refuses a complex residue
  EXPECT_FALSE(t.SetResidue(3, 0, {1.0, 0.0}) || t.SetResidue(0, -1, {1.0, 0.0}) ||
               real.SetResidue00({1.0, 0.5}));
  EXPECT_TRUE(t.GetResidue(0, 3) == Complex(0.0, 0.0) && real.GetResidue00() == Complex(0.0, 0.0));
  EXPECT_EQ(ElementTable(2, 2).AsymptoteModeAt(9, 9), 2);  // falls back to (0, 0)
}

}  // namespace
}  // namespace cfit
