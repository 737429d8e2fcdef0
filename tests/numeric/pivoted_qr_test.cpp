#include "numeric/pivoted_qr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ostream>
#include <random>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "io/run_log.h"
#include "numeric/lapack_reference.h"
#include "numeric/working_set.h"
#include "support/log_capture.h"

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
  std::vector<int> permutation;
  int rank = 0;
};

Factorised Factorise(ColumnMatrix a, const QrOwner* owner = nullptr, bool dots = false) {
  const auto n = static_cast<std::size_t>(a.cols);
  Factorised f{a, std::vector<double>(n, -7.0), std::vector<double>(n, -7.0),
               std::vector<int>(n, -1)};
  f.rank = PivotedQR(a.rows, a.cols, f.a.data(), f.a.lda, f.c.data(), f.d.data(),
                     f.permutation.data(), owner, dots);
  return f;
}

struct Solution {
  std::vector<double> x;
  int solved = 0;
};

Solution Solve(const Factorised& f, std::vector<double> b, bool loose) {
  b.resize(static_cast<std::size_t>(std::max(f.a.rows, f.a.cols)), 0.0);
  std::vector<double> work(static_cast<std::size_t>(f.a.cols));
  Solution s;
  s.solved = SolvePivotedQR(f.a.rows, f.a.cols, f.a.v.data(), f.a.lda, f.c.data(), f.d.data(),
                            b.data(), f.permutation.data(), work.data(), loose);
  b.resize(static_cast<std::size_t>(f.a.cols));
  s.x = b;
  return s;
}

// LAPACK's pivoted QR: 0-based permutation and |diag R|.
void LapackPivotedQR(ColumnMatrix a, std::vector<int>& permutation, std::vector<double>& diag) {
  permutation.assign(static_cast<std::size_t>(a.cols), 0);
  std::vector<double> tau(static_cast<std::size_t>(a.cols));
  int lwork = 3 * a.cols + 1 + 64 * (a.cols + 1);
  std::vector<double> work(static_cast<std::size_t>(lwork));
  int info = 0;
  dgeqp3_(&a.rows, &a.cols, a.data(), &a.lda, permutation.data(), tau.data(), work.data(), &lwork,
          &info);
  testing::CheckInfo(info);
  diag.resize(static_cast<std::size_t>(a.cols));
  for (int k = 0; k < a.cols; ++k) {
    permutation[static_cast<std::size_t>(k)] -= 1;
    diag[static_cast<std::size_t>(k)] = std::fabs(a(k, k));
  }
}

TEST(PivotedQR, PivotsAndDiagonalMatchLapack) {
  std::mt19937_64 rng(21);
  for (const auto& [rows, cols] : {std::pair{40, 9}, std::pair{300, 25}, std::pair{12, 12}}) {
    SCOPED_TRACE(::testing::Message() << rows << " x " << cols);
    // Column norms spread far apart make the pivot sequence unambiguous.
    ColumnMatrix a = RandomMatrix(rows, cols, rng);
    for (int j = 0; j < cols; ++j) {
      const double s = std::pow(1.7, (j * 7) % cols);
      for (int i = 0; i < rows; ++i) a(i, j) *= s;
    }
    std::vector<int> permutation;
    std::vector<double> diag;
    LapackPivotedQR(a, permutation, diag);
    const Factorised f = Factorise(a);
    EXPECT_EQ(f.rank, cols);
    EXPECT_EQ(f.permutation, permutation);
    for (int k = 0; k < cols; ++k) {
      EXPECT_NEAR(std::fabs(f.d[k]), diag[k], 1e-12 * diag[0]) << "k = " << k;
    }
  }
}

TEST(PivotedQR, SolvesWellAndIllConditionedProblemsLikeLapack) {
  std::mt19937_64 rng(22);
  {
    const ColumnMatrix a = RandomMatrix(120, 15, rng, 131);
    const std::vector<double> b = RandomVector(120, rng);
    ColumnMatrix packed(120, 15);
    for (int j = 0; j < 15; ++j) {
      for (int i = 0; i < 120; ++i) packed(i, j) = a(i, j);
    }
    const Factorised f = Factorise(a);
    for (bool loose : {true, false}) {
      const Solution s = Solve(f, b, loose);
      EXPECT_EQ(s.solved, 15);
      EXPECT_LT(RelativeDifference(s.x, LapackLeastSquares(packed, b), 15), 1e-12);
    }
  }
  {
    // Condition 1e7: inside the loose tolerance, so every unknown is solved.
    std::vector<double> sigma;
    for (int k = 0; k < 10; ++k) sigma.push_back(std::pow(10.0, -7.0 * k / 9.0));
    const ColumnMatrix a = testing::WithSingularValues(60, sigma, rng);
    const std::vector<double> xTrue = RandomVector(10, rng);
    const std::vector<double> b = Multiply(a, xTrue);
    const Solution s = Solve(Factorise(a), b, true);
    EXPECT_EQ(s.solved, 10);
    EXPECT_LT(RelativeDifference(s.x, xTrue, 10), 1e-7);
    EXPECT_LT(RelativeDifference(Multiply(a, s.x), b, b.size()), 1e-14);
  }
}

TEST(PivotedQR, IdenticalColumnsLeaveOneOfTheTwoUnknownsZero) {
  std::mt19937_64 rng(23);
  ColumnMatrix a = RandomMatrix(30, 5, rng);
  for (int i = 0; i < 30; ++i) a(i, 3) = a(i, 1);
  const std::vector<double> b = RandomVector(30, rng);
  const Factorised f = Factorise(a);
  EXPECT_EQ(f.rank, 4);

  // The same problem without column 3.
  ColumnMatrix reduced(30, 4);
  const int kept[] = {0, 1, 2, 4};
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 30; ++i) reduced(i, j) = a(i, kept[j]);
  }
  const std::vector<double> ref = LapackLeastSquares(reduced, b);
  for (bool loose : {true, false}) {
    SCOPED_TRACE(loose ? "loose" : "strict");
    const Solution s = Solve(f, b, loose);
    EXPECT_EQ(s.solved, 4);
    EXPECT_TRUE((s.x[1] == 0.0) != (s.x[3] == 0.0)) << s.x[1] << " " << s.x[3];
    // The survivor carries the coefficient of the shared column.
    EXPECT_NEAR(s.x[1] + s.x[3], ref[1], 1e-12 * std::fabs(ref[1]));
    EXPECT_NEAR(s.x[0], ref[0], 1e-12 * std::fabs(ref[0]));
    EXPECT_NEAR(s.x[2], ref[2], 1e-12 * std::fabs(ref[2]));
    EXPECT_NEAR(s.x[4], ref[3], 1e-12 * std::fabs(ref[3]));
  }
}

TEST(PivotedQR, LooseToleranceDropsANearlyDependentColumnStrictKeepsIt) {
  std::mt19937_64 rng(24);
  ColumnMatrix a = RandomMatrix(50, 6, rng);
  const std::vector<double> noise = RandomVector(50, rng);
  for (int i = 0; i < 50; ++i) a(i, 4) = a(i, 2) + 1e-11 * noise[static_cast<std::size_t>(i)];
  const std::vector<double> xTrue = {1, -2, 3, 0.5, -1, 2};
  const std::vector<double> b = Multiply(a, xTrue);
  const Factorised f = Factorise(a);
  EXPECT_EQ(f.rank, 6);

  const Solution loose = Solve(f, b, true);
  EXPECT_EQ(loose.solved, 5);
  EXPECT_TRUE((loose.x[2] == 0.0) != (loose.x[4] == 0.0));
  EXPECT_NEAR(loose.x[2] + loose.x[4], xTrue[2] + xTrue[4], 1e-8);
  // Dropping the column costs a residual of the size of the perturbation.
  EXPECT_LT(RelativeDifference(Multiply(a, loose.x), b, b.size()), 1e-9);

  const Solution strict = Solve(f, b, false);
  EXPECT_EQ(strict.solved, 6);
  EXPECT_LT(RelativeDifference(strict.x, xTrue, 6), 1e-4);  // condition about 1e11
}

TEST(PivotedQR, ZeroAndEmptyProblems) {
  ColumnMatrix zero(5, 3);
  const Factorised f = Factorise(zero);
  EXPECT_EQ(f.rank, 0);
  const Solution s = Solve(f, {1, 2, 3, 4, 5}, false);
  EXPECT_EQ(s.solved, 0);
  for (double value : s.x) EXPECT_EQ(value, 0.0);

  ColumnMatrix empty(4, 0);
  EXPECT_EQ(Factorise(empty).rank, 0);
}

TEST(PivotedQR, MoreUnknownsThanEquationsSolvesTheChosenColumns) {
  std::mt19937_64 rng(25);
  const ColumnMatrix a = RandomMatrix(3, 6, rng);
  const std::vector<double> b = RandomVector(3, rng);
  const Factorised f = Factorise(a);
  EXPECT_EQ(f.rank, 3);
  const Solution s = Solve(f, b, true);
  EXPECT_EQ(s.solved, 3);
  EXPECT_EQ(std::count(s.x.begin(), s.x.end(), 0.0), 3);
  EXPECT_LT(RelativeDifference(Multiply(a, s.x), b, 3), 1e-13);
}

TEST(PivotedQR, WorksInTheFittersWorkingSet) {
  // The fitter's column array has a leading dimension of maxRows.
  WorkingSet ws;
  ASSERT_TRUE(ws.Allocate(90, 12));
  std::mt19937_64 rng(26);
  const ColumnMatrix a = RandomMatrix(70, 9, rng);
  const std::vector<double> b = RandomVector(70, rng);
  for (int j = 0; j < 9; ++j) std::copy_n(&a.v[static_cast<std::size_t>(j) * 70], 70, ws.Column(j));
  std::copy(b.begin(), b.end(), ws.rhs());
  ScaleColumns(70, 9, ws.columns(), ws.max_rows(), ws.scale());
  ASSERT_EQ(PivotedQR(70, 9, ws.columns(), ws.max_rows(), ws.c(), ws.d(), ws.permutation(), nullptr,
                      false),
            9);
  ASSERT_EQ(SolvePivotedQR(70, 9, ws.columns(), ws.max_rows(), ws.c(), ws.d(), ws.rhs(),
                           ws.permutation(), ws.work(), true),
            9);
  UnscaleSolution(9, ws.rhs(), ws.scale());
  const std::vector<double> x(ws.rhs(), ws.rhs() + 9);
  EXPECT_LT(RelativeDifference(x, LapackLeastSquares(a, b), 9), 1e-12);
}

TEST(ScaleColumns, DividesByLargestModulusAndSkipsZeroColumns) {
  ColumnMatrix a(3, 3, 4);
  const double values[3][3] = {{1, 2, -0.5}, {-8, 4, 2}, {0, 0, 0}};  // [column][row]
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) a(i, j) = values[j][i];
    a(3, j) = 1e300;  // padding, untouched
  }
  std::vector<double> scale(3, -1.0);
  ScaleColumns(3, 3, a.data(), a.lda, scale.data());
  EXPECT_EQ(scale, (std::vector<double>{2, 8, 0}));
  EXPECT_EQ(a(0, 0), 0.5);
  EXPECT_EQ(a(1, 0), 1.0);
  EXPECT_EQ(a(2, 0), -0.25);
  EXPECT_EQ(a(0, 1), -1.0);
  EXPECT_EQ(a(1, 1), 0.5);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a(i, 2), 0.0);
  for (int j = 0; j < 3; ++j) EXPECT_EQ(a(3, j), 1e300);

  std::vector<double> x = {3, 4, 5};
  UnscaleSolution(3, x.data(), scale.data());
  EXPECT_EQ(x, (std::vector<double>{1.5, 0.5, 5}));
}

TEST(ScaleColumns, RecoversSolutionOfBadlyScaledColumns) {
  // Columns from 1e-12 to 1e12 (like pole bases over a wide band): after
  // scaling, the relative tolerances see the columns on an equal footing.
  std::mt19937_64 rng(27);
  const int rows = 80, cols = 7;
  ColumnMatrix a = RandomMatrix(rows, cols, rng);
  std::vector<double> xTrue = RandomVector(cols, rng);
  for (int j = 0; j < cols; ++j) {
    const double s = std::pow(10.0, -12.0 + 4.0 * j);
    for (int i = 0; i < rows; ++i) a(i, j) *= s;
    xTrue[static_cast<std::size_t>(j)] /= s;
  }
  std::vector<double> b = Multiply(a, xTrue);
  std::vector<double> scale(cols);
  ScaleColumns(rows, cols, a.data(), a.lda, scale.data());
  const Factorised f = Factorise(a);
  EXPECT_EQ(f.rank, cols);
  Solution s = Solve(f, b, true);
  EXPECT_EQ(s.solved, cols);
  UnscaleSolution(cols, s.x.data(), scale.data());
  for (int j = 0; j < cols; ++j) EXPECT_NEAR(s.x[j], xTrue[j], 1e-11 * std::fabs(xTrue[j]));
}

// Progress and cancellation.

TEST(PivotedQRProgress, IncrementsFollowEightySlots) {
  std::mt19937_64 rng(31);
  const struct {
    int cols;
    int increments;
  } cases[] = {{1, 1}, {62, 62}, {80, 80}, {200, 80}, {161, 80}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.cols << " columns");
    const ColumnMatrix a = RandomMatrix(c.cols + 5, c.cols, rng);
    double progress = 0.25;
    testing::LogCapture log;
    const RunContext run(runlog::Stream(), &progress, nullptr);
    QrOwner owner{&run, 0.5};
    EXPECT_EQ(Factorise(a, &owner, true).rank, c.cols);
    EXPECT_NEAR(progress, 0.25 + c.increments * 0.0125 * 0.5, 1e-14);
    EXPECT_EQ(log.text(), std::string(static_cast<std::size_t>(c.increments), '.'));
  }
}

TEST(PivotedQRProgress, DotsOnlyWhenAskedAndNoProgressWithoutOwner) {
  std::mt19937_64 rng(32);
  const ColumnMatrix a = RandomMatrix(120, 100, rng);
  {
    double progress = 0.0;
    testing::LogCapture log;
    const RunContext run(runlog::Stream(), &progress, nullptr);
    QrOwner owner{&run, 1.0};
    EXPECT_EQ(Factorise(a, &owner, false).rank, 100);
    EXPECT_NEAR(progress, 1.0, 1e-14);  // one factorisation advances one step
    EXPECT_EQ(log.text(), "");
  }
  {
    testing::LogCapture log;
    EXPECT_EQ(Factorise(a, nullptr, true).rank, 100);
    EXPECT_EQ(log.text(), std::string(80, '.'));
  }
  {
    // An owner without progress or cancel byte is as good as none.
    QrOwner owner;
    testing::LogCapture log;
    EXPECT_EQ(Factorise(a, &owner, false).rank, 100);
    EXPECT_EQ(log.text(), "");
  }
}

TEST(PivotedQRCancel, SetByteStopsBeforeTheFirstColumn) {
  std::mt19937_64 rng(33);
  const ColumnMatrix a = RandomMatrix(20, 10, rng);
  char cancel = 1;
  double progress = 0.5;
  testing::LogCapture log;
  const RunContext run(runlog::Stream(), &progress, &cancel);
  QrOwner owner{&run, 1.0};
  const Factorised f = Factorise(a, &owner, true);
  EXPECT_EQ(f.rank, 0);
  EXPECT_EQ(progress, 0.5);
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(f.a.v, a.v) << "no column was transformed";

  cancel = 0;
  EXPECT_EQ(Factorise(a, &owner, false).rank, 10);
}

// A log sink that sets the cancel byte when it receives the n-th dot, so the
// factorisation is cancelled at a known column.
class CancelOnDot : public std::streambuf {
 public:
  CancelOnDot(char* flag, int n) : flag_(flag), remaining_(n) {}
  int dots = 0;

 protected:
  int_type overflow(int_type ch) override {
    if (ch == '.') {
      ++dots;
      if (--remaining_ == 0) *flag_ = 1;
    }
    return ch;
  }

 private:
  char* flag_;
  int remaining_;
};

TEST(PivotedQRCancel, ByteSetDuringTheFactorisationStopsAtTheNextColumn) {
  std::mt19937_64 rng(34);
  const ColumnMatrix a = RandomMatrix(40, 20, rng);
  const Factorised full = Factorise(a);

  char cancel = 0;
  double progress = 0.0;
  CancelOnDot sink(&cancel, 5);
  std::ostream stream(&sink);
  std::ostream* previous = runlog::SetSink(&stream);
  const RunContext run(runlog::Stream(), &progress, &cancel);
  QrOwner owner{&run, 1.0};
  const Factorised f = Factorise(a, &owner, true);
  runlog::SetSink(previous);

  EXPECT_EQ(f.rank, 0);
  EXPECT_EQ(sink.dots, 5);
  // 20 columns: every column is one slot of 4; five columns were reported
  // and processed (0..4), the sixth was refused.
  EXPECT_NEAR(progress, 5 * 0.0125, 1e-15);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(f.permutation[k], full.permutation[k]);
    EXPECT_EQ(f.d[k], full.d[k]);
  }
}

TEST(PivotedQRProgress, AnotherThreadMayReadProgressAndSetTheByte) {
  std::mt19937_64 rng(35);
  const ColumnMatrix a = RandomMatrix(600, 160, rng);
  char cancel = 0;
  double progress = 0.0;
  const RunContext run(runlog::Stream(), &progress, &cancel);
  QrOwner owner{&run, 1.0};
  std::atomic<bool> done{false};
  bool monotonic = true;
  std::thread reader([&] {
    double last = 0.0;
    while (!done.load()) {
      const double now = std::atomic_ref<double>(progress).load(std::memory_order_relaxed);
      if (now < last) monotonic = false;
      last = now;
    }
    std::atomic_ref<char>(cancel).store(1, std::memory_order_relaxed);
  });
  const int rank = Factorise(a, &owner, false).rank;
  done.store(true);
  reader.join();
  EXPECT_EQ(rank, 160);
  EXPECT_TRUE(monotonic);
  EXPECT_NEAR(progress, 1.0, 1e-14);
  // The byte the other thread set is seen by the next factorisation.
  EXPECT_EQ(Factorise(a, &owner, false).rank, 0);
}

}  // namespace
}  // namespace cfit
