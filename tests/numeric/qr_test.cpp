// Least squares by Householder QR, with and without column pivoting, against
// reference LAPACK over a few shapes, conditionings and rank deficiencies;
// cancellation of the pivoted factorisation, also from another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ostream>
#include <random>
#include <streambuf>
#include <thread>
#include <vector>

#include "io/run_log.h"
#include "numeric/householder_qr.h"
#include "numeric/lapack_reference.h"
#include "numeric/pivoted_qr.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using testing::ColumnMatrix;
using testing::Multiply;
using testing::RandomMatrix;
using testing::RandomVector;
using testing::RelativeDifference;

enum class Kernel { kHouseholder, kStrict, kLoose };  // the last two pivot
const Kernel kKernels[] = {Kernel::kHouseholder, Kernel::kStrict, Kernel::kLoose};
const char* kKernelNames[] = {"householder", "pivoted strict", "pivoted loose"};

struct Qr {
  Kernel kernel;
  ColumnMatrix a;
  std::vector<double> c, d;
  std::vector<int> permutation;
  int rank = 0;
};

Qr Factorise(Kernel kernel, const ColumnMatrix& a, const QrOwner* owner = nullptr,
             bool dots = false) {
  const auto n = static_cast<std::size_t>(a.cols);
  Qr f{kernel, a, std::vector<double>(n, -7.0), std::vector<double>(n, -7.0),
       std::vector<int>(n, -1)};
  f.rank = kernel == Kernel::kHouseholder
               ? HouseholderQR(a.rows, a.cols, f.a.data(), f.a.lda, f.c.data(), f.d.data())
               : PivotedQR(a.rows, a.cols, f.a.data(), f.a.lda, f.c.data(), f.d.data(),
                           f.permutation.data(), owner, dots);
  return f;
}

// The solution, and the number of unknowns solved for (the rank for the
// unpivoted kernel).
std::vector<double> Solve(const Qr& f, std::vector<double> b, int* solved) {
  b.resize(static_cast<std::size_t>(std::max(f.a.rows, f.a.cols)), 0.0);
  std::vector<double> work(static_cast<std::size_t>(f.a.cols));
  if (f.kernel == Kernel::kHouseholder) {
    SolveQR(f.a.rows, f.a.cols, f.a.v.data(), f.a.lda, f.c.data(), f.d.data(), b.data());
    *solved = f.rank;
  } else {
    *solved =
        SolvePivotedQR(f.a.rows, f.a.cols, f.a.v.data(), f.a.lda, f.c.data(), f.d.data(), b.data(),
                       f.permutation.data(), work.data(), f.kernel == Kernel::kLoose);
  }
  b.resize(static_cast<std::size_t>(f.a.cols));
  return b;
}

ColumnMatrix Packed(const ColumnMatrix& a, const std::vector<int>& columns) {
  ColumnMatrix p(a.rows, static_cast<int>(columns.size()));
  for (std::size_t j = 0; j < columns.size(); ++j) {
    for (int i = 0; i < a.rows; ++i) p(i, static_cast<int>(j)) = a(i, columns[j]);
  }
  return p;
}

std::vector<int> AllColumns(int n) {
  std::vector<int> c(static_cast<std::size_t>(n));
  for (int j = 0; j < n; ++j) c[static_cast<std::size_t>(j)] = j;
  return c;
}

// |diag R| and the 0-based permutation of LAPACK's QR (dgeqp3 when pivoted).
void LapackQr(ColumnMatrix a, bool pivoted, std::vector<double>& diag, std::vector<int>& perm) {
  perm.assign(static_cast<std::size_t>(a.cols), 0);
  std::vector<double> tau(static_cast<std::size_t>(a.cols));
  int lwork = 3 * a.cols + 1 + 64 * (a.cols + 1), info = 0;
  std::vector<double> work(static_cast<std::size_t>(lwork));
  if (pivoted) {
    dgeqp3_(&a.rows, &a.cols, a.data(), &a.lda, perm.data(), tau.data(), work.data(), &lwork,
            &info);
  } else {
    dgeqrf_(&a.rows, &a.cols, a.data(), &a.lda, tau.data(), work.data(), &lwork, &info);
  }
  testing::CheckInfo(info);
  diag.resize(static_cast<std::size_t>(a.cols));
  for (int k = 0; k < a.cols; ++k) {
    perm[static_cast<std::size_t>(k)] -= 1;
    diag[static_cast<std::size_t>(k)] = std::fabs(a(k, k));
  }
}

// Full-rank problems: random right-hand sides solved as dgels solves them,
// consistent ill-conditioned systems to about cond * eps with a residual at
// rounding level, |diag R| as LAPACK's and, where the column norms are spread
// so that the pivots are unambiguous, the pivots as dgeqp3's. Padding rows of
// the leading dimension are left alone.
TEST(QR, FullRankProblemsAgreeWithLapack) {
  const struct {
    int rows, cols, lda;
    double cond;  // 1: Gaussian entries
    bool spread;  // column norms spread by powers of 1.7
  } cases[] = {{30, 5, 0, 1, false},    {200, 17, 203, 1, false}, {7, 7, 0, 1, false},
               {1, 1, 0, 1, false},     {50, 1, 0, 1, false},     {40, 9, 0, 1, true},
               {300, 25, 0, 1, true},   {12, 12, 0, 1, true},     {60, 10, 0, 1e7, false},
               {80, 12, 0, 1e10, false}};
  std::mt19937_64 rng(11);
  for (const auto& t : cases) {
    ColumnMatrix a = RandomMatrix(t.rows, t.cols, rng, t.lda);
    std::vector<double> xTrue = RandomVector(t.cols, rng);
    if (t.cond > 1) {
      std::vector<double> sigma;
      for (int k = 0; k < t.cols; ++k) sigma.push_back(std::pow(t.cond, -k / (t.cols - 1.0)));
      a = testing::WithSingularValues(t.rows, sigma, rng);
    }
    for (int j = 0; j < t.cols; ++j) {
      for (int i = 0; i < t.rows; ++i) a(i, j) *= t.spread ? std::pow(1.7, (j * 7) % t.cols) : 1;
      for (int i = t.rows; i < a.lda; ++i) a(i, j) = 99.0;
    }
    const ColumnMatrix packed = Packed(a, AllColumns(t.cols));
    const std::vector<double> b = t.cond > 1 ? Multiply(packed, xTrue) : RandomVector(t.rows, rng);
    for (Kernel kernel : kKernels) {
      if (kernel == Kernel::kLoose && t.cond > 1e8) continue;  // beyond the loose tolerance
      SCOPED_TRACE(::testing::Message() << t.rows << " x " << t.cols << ", cond " << t.cond << ", "
                                        << kKernelNames[static_cast<int>(kernel)]);
      const Qr f = Factorise(kernel, a);
      EXPECT_EQ(f.rank, t.cols);
      int solved = 0;
      const std::vector<double> x = Solve(f, b, &solved);
      EXPECT_EQ(solved, t.cols);
      if (t.cond > 1) {
        EXPECT_LT(RelativeDifference(x, xTrue, x.size()), 1e-14 * t.cond);
        EXPECT_LT(RelativeDifference(Multiply(packed, x), b, b.size()), 1e-14);
        continue;
      }
      EXPECT_LT(RelativeDifference(x, testing::LapackLeastSquares(packed, b), x.size()), 1e-12);
      std::vector<double> diag;
      std::vector<int> permutation;
      LapackQr(packed, kernel != Kernel::kHouseholder, diag, permutation);
      const double largest = *std::max_element(diag.begin(), diag.end());
      for (int k = 0; k < t.cols; ++k) {
        EXPECT_NEAR(std::fabs(f.d[k]), diag[k], 1e-12 * largest) << "k = " << k;
      }
      if (t.spread && kernel != Kernel::kHouseholder) {
        EXPECT_EQ(f.permutation, permutation);
      }
      for (int j = 0; j < t.cols; ++j) {
        for (int i = t.rows; i < a.lda; ++i) ASSERT_EQ(f.a(i, j), 99.0);
      }
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
    int rows, cols;
    int copyOf4;     // column 4 is a copy of this column (-1: none) ...
    double epsilon;  // ... plus this times noise
    bool zeroLast;   // the last column is zero
    bool zero;       // every column is zero
    int rank[3];     // per kernel: the factorisation's rank and the unknowns solved
    int solved[3];
  } cases[] = {
      {"copy and zero", 25, 6, 1, 0.0, true, false, {4, 4, 4}, {4, 4, 4}},
      {"nearly a copy", 25, 6, 2, 1e-11, false, false, {6, 6, 6}, {6, 6, 5}},
      {"zero", 6, 3, -1, 0.0, false, true, {0, 0, 0}, {0, 0, 0}},
      {"more unknowns than equations", 3, 6, -1, 0.0, false, false, {3, 3, 3}, {3, 3, 3}},
  };
  for (const auto& t : cases) {
    ColumnMatrix a(t.rows, t.cols);
    for (int j = 0; j < t.cols; ++j) {
      for (int i = 0; i < t.rows; ++i) {
        a(i, j) = t.zero ? 0.0 : base(i, j);
        if (j == 4 && t.copyOf4 >= 0) a(i, j) = base(i, t.copyOf4) + t.epsilon * noise[i];
        if (j == t.cols - 1 && t.zeroLast) a(i, j) = 0.0;
      }
    }
    // A nearly dependent pair needs a consistent system: least squares would
    // give unknowns of the size of 1 / epsilon.
    const std::vector<double> b =
        t.epsilon > 0 ? Multiply(a, RandomVector(t.cols, rng)) : RandomVector(t.rows, rng);
    for (Kernel kernel : kKernels) {
      const int k = static_cast<int>(kernel);
      SCOPED_TRACE(std::string(t.name) + ", " + kKernelNames[k]);
      const Qr f = Factorise(kernel, a);
      EXPECT_EQ(f.rank, t.rank[k]);
      int solved = 0;
      const std::vector<double> x = Solve(f, b, &solved);
      EXPECT_EQ(solved, t.solved[k]);
      EXPECT_GE(std::count(x.begin(), x.end(), 0.0), t.cols - t.solved[k]);
      // The fit with the columns whose unknowns were solved.
      std::vector<int> kept;
      for (int j = 0; j < t.cols; ++j) {
        if (x[j] != 0.0) kept.push_back(j);
      }
      const ColumnMatrix reduced = Packed(a, kept);
      const std::vector<double> fit =
          kept.empty()      ? std::vector<double>(t.rows, 0.0)
          : t.rows < t.cols ? b
                            : Multiply(reduced, testing::LapackLeastSquares(reduced, b));
      EXPECT_LT(RelativeDifference(Multiply(a, x), fit, fit.size()), t.epsilon > 0 ? 1e-9 : 1e-12);
    }
  }
}

// Squares of these entries overflow or underflow; the per-column scaling
// keeps the factorisation finite, and after ScaleColumns the pivoted solve
// sees columns from 1e-12 to 1e12 on an equal footing.
TEST(QR, ColumnsNearOverflowAndUnderflowAreScaled) {
  std::mt19937_64 rng(13);
  const ColumnMatrix base = RandomMatrix(40, 7, rng);
  const std::vector<double> b = RandomVector(40, rng);
  ColumnMatrix a = Packed(base, {0, 1});
  for (int i = 0; i < 40; ++i) a(i, 0) *= 1e200, a(i, 1) *= 1e190;
  const Qr g = Factorise(Kernel::kHouseholder, a);
  EXPECT_EQ(g.rank, 2);
  int solved = 0;
  const std::vector<double> x = Solve(g, b, &solved);
  const std::vector<double> ref = testing::LapackLeastSquares(Packed(base, {0, 1}), b);
  EXPECT_NEAR(x[0] * 1e200, ref[0], 1e-12 * std::fabs(ref[0]));
  EXPECT_NEAR(x[1] * 1e190, ref[1], 1e-12 * std::fabs(ref[1]));

  ColumnMatrix wide = base;
  std::vector<double> xTrue = RandomVector(7, rng);
  for (int j = 0; j < 7; ++j) {
    const double s = std::pow(10.0, -12.0 + 4.0 * j);
    for (int i = 0; i < 40; ++i) wide(i, j) *= s;
    xTrue[static_cast<std::size_t>(j)] /= s;
  }
  const std::vector<double> rhs = Multiply(wide, xTrue);
  std::vector<double> scale(7);
  ScaleColumns(40, 7, wide.data(), wide.lda, scale.data());
  std::vector<double> y = Solve(Factorise(Kernel::kLoose, wide), rhs, &solved);
  EXPECT_EQ(solved, 7);
  UnscaleSolution(7, y.data(), scale.data());
  for (int j = 0; j < 7; ++j) EXPECT_NEAR(y[j], xTrue[j], 1e-11 * std::fabs(xTrue[j]));
}

// A log sink that sets the cancel byte when it receives the n-th dot, so the
// factorisation is cancelled at a known column.
class CancelOnDot : public std::streambuf {
 public:
  CancelOnDot(char* flag, int n) : flag_(flag), remaining_(n) {}

 protected:
  int_type overflow(int_type ch) override {
    if (ch == '.' && --remaining_ == 0) *flag_ = 1;
    return ch;
  }

 private:
  char* flag_;
  int remaining_;
};

TEST(PivotedQRCancel, ASetByteStopsBeforeTheNextColumn) {
  std::mt19937_64 rng(33);
  const ColumnMatrix a = RandomMatrix(40, 20, rng);
  char cancel = 1;
  double progress = 0.5;
  {
    testing::LogCapture log;
    const RunContext run(runlog::Stream(), &progress, &cancel);
    const QrOwner owner{&run, 1.0};
    const Qr f = Factorise(Kernel::kStrict, a, &owner, true);
    EXPECT_EQ(f.rank, 0);
    EXPECT_EQ(progress, 0.5);
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(f.a.v, a.v) << "no column was transformed";
  }
  // Set while the fifth column's dot is written: five columns are done, the
  // sixth is refused.
  cancel = 0;
  const Qr full = Factorise(Kernel::kStrict, a);
  CancelOnDot sink(&cancel, 5);
  std::ostream stream(&sink);
  std::ostream* previous = runlog::SetSink(&stream);
  const RunContext run(runlog::Stream(), &progress, &cancel);
  const QrOwner owner{&run, 1.0};
  const Qr f = Factorise(Kernel::kStrict, a, &owner, true);
  runlog::SetSink(previous);
  EXPECT_EQ(f.rank, 0);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(f.permutation[k], full.permutation[k]);
    EXPECT_EQ(f.d[k], full.d[k]);
  }
}

TEST(PivotedQRCancel, AnotherThreadMayReadProgressAndSetTheByte) {
  std::mt19937_64 rng(35);
  const ColumnMatrix a = RandomMatrix(600, 160, rng);
  char cancel = 0;
  double progress = 0.0;
  const RunContext run(runlog::Stream(), &progress, &cancel);
  const QrOwner owner{&run, 1.0};
  std::atomic<bool> done{false};
  bool monotonic = true;
  std::thread reader([&] {
    double last = 0.0;
    while (!done.load()) {
      const double now = std::atomic_ref<double>(progress).load(std::memory_order_relaxed);
      monotonic = monotonic && now >= last;
      last = now;
    }
    std::atomic_ref<char>(cancel).store(1, std::memory_order_relaxed);
  });
  const int rank = Factorise(Kernel::kStrict, a, &owner, false).rank;
  done.store(true);
  reader.join();
  EXPECT_EQ(rank, 160);
  EXPECT_TRUE(monotonic);
  EXPECT_NEAR(progress, 1.0, 1e-14);  // one factorisation advances one step
  // The byte the other thread set is seen by the next factorisation.
  EXPECT_EQ(Factorise(Kernel::kStrict, a, &owner, false).rank, 0);
}

}  // namespace
}  // namespace cfit
