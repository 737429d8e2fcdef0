// Dense kernels against reference LAPACK on the same matrices:
// - least squares with column pivoting (PivotedQR + SolvePivotedQR against
//   dgeqp3 + dormqr + dtrtrs) on column-stored 10002 x 62 and 2002 x 42
//   problems, the sizes of one vector-fitting step;
// - eigenvalues of 60 x 60 upper Hessenberg matrices (hqr against dhseqr).
// Each benchmark first checks that both sides agree (solutions to 1e-10
// relative, eigenvalue sets to 1e-9 of the matrix scale) and reports the
// difference as a counter; a disagreement aborts the benchmark with an error.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <limits>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "numeric/eigen_general.h"
#include "numeric/pivoted_qr.h"

extern "C" {
void dgeqp3_(const int* m, const int* n, double* a, const int* lda, int* jpvt, double* tau,
             double* work, const int* lwork, int* info);
void dormqr_(const char* side, const char* trans, const int* m, const int* n, const int* k,
             const double* a, const int* lda, const double* tau, double* c, const int* ldc,
             double* work, const int* lwork, int* info, std::size_t, std::size_t);
void dtrtrs_(const char* uplo, const char* trans, const char* diag, const int* n, const int* nrhs,
             const double* a, const int* lda, double* b, const int* ldb, int* info, std::size_t,
             std::size_t, std::size_t);
void dhseqr_(const char* job, const char* compz, const int* n, const int* ilo, const int* ihi,
             double* h, const int* ldh, double* wr, double* wi, double* z, const int* ldz,
             double* work, const int* lwork, int* info, std::size_t, std::size_t);
}

namespace {

// ---------------------------------------------------------------------------
// Least squares

struct Problem {
  int rows = 0;
  int cols = 0;
  std::vector<double> a;  // column-stored, lda = rows
  std::vector<double> b;
};

const Problem& GetProblem(int rows, int cols) {
  static std::map<std::pair<int, int>, Problem> cache;
  Problem& p = cache[{rows, cols}];
  if (p.rows == 0) {
    std::mt19937_64 rng(static_cast<unsigned>(rows * 131 + cols));
    std::normal_distribution<double> normal;
    p.rows = rows;
    p.cols = cols;
    p.a.resize(static_cast<std::size_t>(rows) * cols);
    p.b.resize(static_cast<std::size_t>(rows));
    for (double& v : p.a) v = normal(rng);
    for (double& v : p.b) v = normal(rng);
  }
  return p;
}

class CfitLeastSquares {
 public:
  explicit CfitLeastSquares(const Problem& p)
      : p_(p),
        a_(p.a.size()),
        b_(p.b.size()),
        c_(static_cast<std::size_t>(p.cols)),
        d_(static_cast<std::size_t>(p.cols)),
        work_(static_cast<std::size_t>(p.cols)),
        permutation_(static_cast<std::size_t>(p.cols)) {}

  // Returns the solution's first entry; the full solution is in solution().
  double Run() {
    std::copy(p_.a.begin(), p_.a.end(), a_.begin());
    std::copy(p_.b.begin(), p_.b.end(), b_.begin());
    cfit::PivotedQR(p_.rows, p_.cols, a_.data(), p_.rows, c_.data(), d_.data(), permutation_.data(),
                    nullptr, false);
    cfit::SolvePivotedQR(p_.rows, p_.cols, a_.data(), p_.rows, c_.data(), d_.data(), b_.data(),
                         permutation_.data(), work_.data(), true);
    return b_[0];
  }
  std::vector<double> solution() const {
    return {b_.begin(), b_.begin() + static_cast<std::ptrdiff_t>(p_.cols)};
  }

 private:
  const Problem& p_;
  std::vector<double> a_, b_, c_, d_, work_;
  std::vector<int> permutation_;
};

class LapackLeastSquares {
 public:
  explicit LapackLeastSquares(const Problem& p)
      : p_(p),
        a_(p.a.size()),
        b_(p.b.size()),
        x_(static_cast<std::size_t>(p.cols)),
        tau_(static_cast<std::size_t>(p.cols)),
        jpvt_(static_cast<std::size_t>(p.cols)) {
    // Workspace queries, once.
    int info = 0;
    int query = -1;
    double size = 0.0;
    a_ = p.a;
    dgeqp3_(&p.rows, &p.cols, a_.data(), &p.rows, jpvt_.data(), tau_.data(), &size, &query, &info);
    int lwork = static_cast<int>(size);
    const int one = 1;
    dormqr_("L", "T", &p.rows, &one, &p.cols, a_.data(), &p.rows, tau_.data(), b_.data(), &p.rows,
            &size, &query, &info, 1, 1);
    lwork = std::max(lwork, static_cast<int>(size));
    work_.resize(static_cast<std::size_t>(lwork));
  }

  double Run() {
    std::copy(p_.a.begin(), p_.a.end(), a_.begin());
    std::copy(p_.b.begin(), p_.b.end(), b_.begin());
    std::fill(jpvt_.begin(), jpvt_.end(), 0);
    const int lwork = static_cast<int>(work_.size());
    const int one = 1;
    int info = 0;
    dgeqp3_(&p_.rows, &p_.cols, a_.data(), &p_.rows, jpvt_.data(), tau_.data(), work_.data(),
            &lwork, &info);
    dormqr_("L", "T", &p_.rows, &one, &p_.cols, a_.data(), &p_.rows, tau_.data(), b_.data(),
            &p_.rows, work_.data(), &lwork, &info, 1, 1);
    dtrtrs_("U", "N", "N", &p_.cols, &one, a_.data(), &p_.rows, b_.data(), &p_.rows, &info, 1, 1,
            1);
    for (int k = 0; k < p_.cols; ++k) x_[static_cast<std::size_t>(jpvt_[k] - 1)] = b_[k];
    return x_[0];
  }
  const std::vector<double>& solution() const { return x_; }

 private:
  const Problem& p_;
  std::vector<double> a_, b_, x_, tau_, work_;
  std::vector<int> jpvt_;
};

double RelativeDifference(const std::vector<double>& x, const std::vector<double>& y) {
  double diff = 0.0, scale = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    diff = std::max(diff, std::fabs(x[i] - y[i]));
    scale = std::max(scale, std::fabs(y[i]));
  }
  return diff / scale;
}

// Agreement of the two solvers on one problem, computed once.
double SolutionDifference(const Problem& p) {
  CfitLeastSquares ours(p);
  LapackLeastSquares reference(p);
  ours.Run();
  reference.Run();
  return RelativeDifference(ours.solution(), reference.solution());
}

template <class Solver>
void LeastSquares(benchmark::State& state) {
  const Problem& p = GetProblem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const double difference = SolutionDifference(p);
  if (!(difference <= 1e-10)) {
    state.SkipWithError("solutions differ by more than 1e-10 relative");
    return;
  }
  Solver solver(p);
  for (auto _ : state) benchmark::DoNotOptimize(solver.Run());
  state.counters["rel_diff"] = difference;
}

void BM_LeastSquares_Cfit(benchmark::State& state) { LeastSquares<CfitLeastSquares>(state); }
void BM_LeastSquares_Lapack(benchmark::State& state) { LeastSquares<LapackLeastSquares>(state); }

BENCHMARK(BM_LeastSquares_Cfit)->Args({10002, 62})->Args({2002, 42})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LeastSquares_Lapack)
    ->Args({10002, 62})
    ->Args({2002, 42})
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Hessenberg eigenvalues

constexpr int kOrder = 60;

// A random 60 x 60 upper Hessenberg matrix, row-stored.
const std::vector<double>& Hessenberg() {
  static const std::vector<double> h = [] {
    std::mt19937_64 rng(60);
    std::normal_distribution<double> normal;
    std::vector<double> m(kOrder * kOrder, 0.0);
    for (int i = 0; i < kOrder; ++i) {
      for (int j = std::max(i - 1, 0); j < kOrder; ++j) m[i * kOrder + j] = normal(rng);
    }
    return m;
  }();
  return h;
}

struct Spectrum {
  std::vector<double> wr = std::vector<double>(kOrder), wi = std::vector<double>(kOrder);
};

int RunHqr(std::vector<double>& a, Spectrum& s) {
  a = Hessenberg();
  return cfit::hqr(kOrder, a.data(), kOrder, s.wr.data(), s.wi.data());
}

int RunDhseqr(std::vector<double>& a, std::vector<double>& work, Spectrum& s) {
  const std::vector<double>& h = Hessenberg();
  for (int i = 0; i < kOrder; ++i) {  // to column-major
    for (int j = 0; j < kOrder; ++j) a[j * kOrder + i] = h[i * kOrder + j];
  }
  const int n = kOrder, one = 1, lwork = static_cast<int>(work.size());
  int info = 0;
  double z = 0.0;
  dhseqr_("E", "N", &n, &one, &n, a.data(), &n, s.wr.data(), s.wi.data(), &z, &one, work.data(),
          &lwork, &info, 1, 1);
  return info;
}

// Largest distance from an eigenvalue of `b` to the nearest one of `a`.
double SpectrumDifference(const Spectrum& a, const Spectrum& b) {
  double worst = 0.0;
  for (int k = 0; k < kOrder; ++k) {
    double best = std::numeric_limits<double>::infinity();
    for (int l = 0; l < kOrder; ++l) {
      best = std::min(best, std::abs(std::complex<double>(a.wr[l] - b.wr[k], a.wi[l] - b.wi[k])));
    }
    worst = std::max(worst, best);
  }
  return worst;
}

bool SpectraAgree(double& difference) {
  std::vector<double> a(kOrder * kOrder), work(4 * kOrder);
  Spectrum ours, reference;
  if (RunHqr(a, ours) != 1 || RunDhseqr(a, work, reference) != 0) return false;
  difference = std::max(SpectrumDifference(ours, reference), SpectrumDifference(reference, ours));
  return difference <= 1e-9;
}

void BM_Hessenberg_hqr(benchmark::State& state) {
  double difference = 0.0;
  if (!SpectraAgree(difference)) {
    state.SkipWithError("hqr and dhseqr disagree");
    return;
  }
  std::vector<double> a(kOrder * kOrder);
  Spectrum s;
  for (auto _ : state) benchmark::DoNotOptimize(RunHqr(a, s));
  state.counters["eig_diff"] = difference;
}

void BM_Hessenberg_dhseqr(benchmark::State& state) {
  double difference = 0.0;
  if (!SpectraAgree(difference)) {
    state.SkipWithError("hqr and dhseqr disagree");
    return;
  }
  std::vector<double> a(kOrder * kOrder), work(4 * kOrder);
  Spectrum s;
  for (auto _ : state) benchmark::DoNotOptimize(RunDhseqr(a, work, s));
  state.counters["eig_diff"] = difference;
}

BENCHMARK(BM_Hessenberg_hqr)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Hessenberg_dhseqr)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
