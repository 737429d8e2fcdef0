#include "fit/residues.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "numeric/householder_qr.h"
#include "numeric/pivoted_qr.h"

namespace cfit {

namespace {

// Terms whose residues are this small (weighted by their quality) add
// nothing a writer or a passivity check would notice; a model that is to be
// made passive keeps smaller ones, since its corrections are small too.
constexpr double kNegligible = 1e-7;
constexpr double kNegligiblePassive = 1e-13;
constexpr double kPlaceholderPole = 1e9;

// The least-squares problem on fixed poles, column-stored in the working set.
// With a DC constraint its first row is the model's equation at 0 Hz, and
// one unknown (the pivot) is eliminated from the data rows by it.
class ResidueProblem {
 public:
  ResidueProblem(const FitSeries& series, const FitOptions& options, WorkingSet& work,
                 const PoleList& poles)
      : series_(series), options_(options), work_(work), poles_(poles) {}

  Status Build();
  bool Factorise(const RunContext& run);
  // Solves for one target; x receives cols unknowns in column order.
  void Solve(const ResidueTarget& target, std::vector<double>* x);

  int basis() const { return basis_; }

 private:
  double* Column(int c) { return work_.Column(c); }

  const FitSeries& series_;
  const FitOptions& options_;
  WorkingSet& work_;
  const PoleList& poles_;
  bool withDc_ = false;
  int mode_ = kConstant;
  int basis_ = 0;
  int cols_ = 0;
  int dataRows_ = 0;           // 2 * number of points in the rows
  int offset_ = 0;             // 1 when the constraint row leads
  std::vector<int> rowPoint_;  // point index of each data row pair
  std::vector<double> weight_;
  int pivot_ = -1;                  // eliminated unknown (constraint only)
  double pivotValue_ = 1.0;         // its scaled coefficient in the constraint row
  std::vector<int> order_;          // storage position -> unknown
  std::vector<double> constraint_;  // normalised constraint row, by unknown
  std::vector<double> pivotColumn_;
};

Status ResidueProblem::Build() {
  withDc_ = options_.dcConstrained;
  mode_ = options_.asymptoteMode;
  basis_ = BasisColumnCount(poles_);
  cols_ = basis_ + (mode_ >= 1 ? 1 : 0) + (mode_ == 2 ? 1 : 0);
  offset_ = withDc_ ? 1 : 0;
  for (int k = 0; k < series_.size(); ++k) {
    // The constraint row takes the place of a 0 Hz sample.
    if (withDc_ && series_.frequency[k] == 0.0) continue;
    rowPoint_.push_back(k);
  }
  const int npts = static_cast<int>(rowPoint_.size());
  dataRows_ = 2 * npts;
  if (!work_.allocated() || offset_ + dataRows_ > work_.max_rows() || cols_ > work_.max_cols() ||
      cols_ > work_.max_rows() || cols_ == 0) {
    return ErrorCode::kSizeExceedsWorkspace;
  }
  const double tau = options_.timeStep;
  std::vector<Complex> b(static_cast<std::size_t>(basis_));
  weight_.resize(static_cast<std::size_t>(npts));
  for (int r = 0; r < npts; ++r) {
    const int k = rowPoint_[r];
    const double f = series_.frequency[k];
    const Complex pulse = tau > 0.0 ? PulseSpectrum(f, tau) : Complex(1.0, 0.0);
    const double w = RowWeight(series_, options_, k);
    weight_[r] = w;
    PoleBasis(poles_, f, b.data());
    auto put = [&](int column, Complex value) {
      double* col = Column(column);
      col[offset_ + r] = w * value.re;
      col[offset_ + npts + r] = w * value.im;
    };
    for (int c = 0; c < basis_; ++c) put(c, b[c] * pulse);
    int c = basis_;
    if (mode_ >= 1) put(c++, pulse);
    if (mode_ == 2) put(c++, Complex(0.0, f) * pulse);
  }
  if (withDc_) {
    // The rational model at 0 Hz: the basis at s = 0 (real by construction),
    // the constant 1, the proportional term 0.
    PoleBasis(poles_, 0.0, b.data());
    for (int c = 0; c < basis_; ++c) Column(c)[0] = b[c].re;
    int c = basis_;
    if (mode_ >= 1) Column(c++)[0] = 1.0;
    if (mode_ == 2) Column(c++)[0] = 0.0;
  }
  return Success();
}

bool ResidueProblem::Factorise(const RunContext& run) {
  const int lda = work_.max_rows();
  ScaleColumns(offset_ + dataRows_, cols_, work_.columns(), lda, work_.scale());
  order_.resize(static_cast<std::size_t>(cols_));
  for (int c = 0; c < cols_; ++c) order_[c] = c;
  int solveCols = cols_;
  if (withDc_) {
    // Impose the constraint row exactly: eliminate the unknown with the
    // largest coefficient (the best-conditioned choice) from the data rows.
    pivot_ = 0;
    for (int c = 1; c < cols_; ++c) {
      if (std::fabs(Column(c)[0]) > std::fabs(Column(pivot_)[0])) pivot_ = c;
    }
    const double p = Column(pivot_)[0];
    if (p == 0.0) return false;
    pivotValue_ = p;
    constraint_.assign(static_cast<std::size_t>(cols_), 0.0);
    for (int c = 0; c < cols_; ++c) constraint_[c] = Column(c)[0] / p;
    const double* pc = Column(pivot_);
    pivotColumn_.assign(pc + 1, pc + 1 + dataRows_);
    for (int c = 0; c < cols_; ++c) {
      double* col = Column(c);
      for (int r = 0; r < dataRows_; ++r) col[1 + r] -= pivotColumn_[r] * constraint_[c];
    }
    // Move the eliminated column to the end, out of the solved problem.
    const int last = cols_ - 1;
    if (pivot_ != last) {
      std::swap_ranges(Column(pivot_), Column(pivot_) + lda, Column(last));
      std::swap(order_[pivot_], order_[last]);
    }
    solveCols = cols_ - 1;
  }
  if (solveCols == 0) return true;
  double* a = work_.columns() + offset_;
  if (options_.pivoting) {
    const QrOwner owner{&run, options_.progressStep};
    return PivotedQR(dataRows_, solveCols, a, lda, work_.c(), work_.d(), work_.permutation(),
                     &owner, true) != 0;
  }
  return HouseholderQR(dataRows_, solveCols, a, lda, work_.c(), work_.d()) != 0;
}

void ResidueProblem::Solve(const ResidueTarget& target, std::vector<double>* x) {
  const int lda = work_.max_rows();
  const int npts = dataRows_ / 2;
  const double d0 = mode_ == kNoAsymptote ? target.fixedConstant : 0.0;
  double* rhs = work_.rhs();
  for (int r = 0; r < npts; ++r) {
    const Complex v = target.value[rowPoint_[r]] - d0;
    rhs[r] = weight_[r] * v.re;
    rhs[npts + r] = weight_[r] * v.im;
  }
  double beta = 0.0;
  int solveCols = cols_;
  if (withDc_) {
    // The constraint row was normalised by its pivot coefficient.
    beta = (target.dcValue - d0) / pivotValue_;
    for (int r = 0; r < dataRows_; ++r) rhs[r] -= pivotColumn_[r] * beta;
    solveCols = cols_ - 1;
  }
  x->assign(static_cast<std::size_t>(cols_), 0.0);
  if (solveCols > 0) {
    const double* a = work_.columns() + offset_;
    if (options_.pivoting) {
      SolvePivotedQR(dataRows_, solveCols, a, lda, work_.c(), work_.d(), rhs, work_.permutation(),
                     work_.work(), true);
    } else {
      SolveQR(dataRows_, solveCols, a, lda, work_.c(), work_.d(), rhs);
    }
  }
  std::vector<double>& out = *x;
  for (int t = 0; t < solveCols; ++t) out[order_[t]] = rhs[t];
  if (withDc_) {
    double value = beta;
    for (int c = 0; c < cols_; ++c) {
      if (c != pivot_) value -= constraint_[c] * out[c];
    }
    out[pivot_] = value;
  }
  UnscaleSolution(cols_, out.data(), work_.scale());
}

// Value of the least-squares model with solution x at f, plus the fixed
// constant d0; b holds the poles' basis values at f.
Complex FittedValue(const std::vector<double>& x, int basis, int mode, double tau, double f,
                    double d0, const Complex* b) {
  Complex sum;
  for (int c = 0; c < basis; ++c) sum += b[c] * x[c];
  int c = basis;
  if (mode >= 1) sum += Complex(x[c++], 0.0);
  if (mode == 2) sum += Complex(0.0, f * x[c]);
  if (tau > 0.0) sum = sum * PulseSpectrum(f, tau);
  return sum + d0;
}

// Stored form of the working terms: pole P = conj(-q); residue r / P for a
// real pole and 2 conj(r / -q) for a pair.
void ConvertToStoredForm(PoleList& poles) {
  for (PoleTerm& term : poles) {
    const Complex m = -term.GetPole();
    const bool real = term.IsReal();
    for (int i = 0; i < term.n(); ++i) {
      for (int j = 0; j < term.n(); ++j) {
        const Complex r = term.GetResidue(i, j);
        if (real) {
          term.SetResidue(i, j, {r.re / m.re, 0.0});
        } else {
          term.SetResidue(i, j, 2.0 * Conj(r / m));
        }
      }
    }
    term.SetPole(m.re, real ? 0.0 : -m.im);
  }
}

}  // namespace

Result<std::vector<ResidueFit>> IdentifyResidues(const FitSeries& series,
                                                 std::span<const ResidueTarget> targets,
                                                 const FitOptions& options, WorkingSet& work,
                                                 PoleList& poles, const RunContext& run) {
  if (series.size() == 0) return ErrorCode::kInconsistentData;
  ResidueProblem problem(series, options, work, poles);
  if (Status built = problem.Build(); !built) return built.failure();
  if (!problem.Factorise(run)) return Failure::Silent();

  const int mode = options.asymptoteMode;
  const int basis = problem.basis();
  const int sampled = series.sampled;
  std::vector<ResidueFit> fits;
  fits.reserve(targets.size());
  std::vector<double> x;
  // The basis values at the sampled points, the same for every target.
  std::vector<Complex> b(static_cast<std::size_t>(std::max(sampled, 0)) * basis);
  for (int k = 0; k < sampled; ++k) PoleBasis(poles, series.frequency[k], b.data() + k * basis);
  for (const ResidueTarget& target : targets) {
    problem.Solve(target, &x);
    const double d0 = mode == kNoAsymptote ? target.fixedConstant : 0.0;
    ResidueFit fit;
    int c = basis;
    fit.constant = mode == kNoAsymptote ? d0 : x[c++];
    fit.proportional = mode == kConstantAndProportional ? x[c] : 0.0;

    double sumSquares = 0.0;
    for (int k = 0; k < sampled; ++k) {
      const double f = series.frequency[k];
      const double err =
          Abs(target.value[k] - FittedValue(x, basis, mode, options.timeStep, f, d0,
                                            b.data() + static_cast<std::size_t>(k) * basis));
      sumSquares += err * err;
      fit.maxError = std::max(fit.maxError, err);
    }
    fit.rmsError = sampled > 0 ? std::sqrt(sumSquares / sampled) : 0.0;
    fits.push_back(fit);

    int column = 0;
    for (PoleTerm& term : poles) {
      const Complex r = term.IsReal() ? Complex(x[column], 0.0) : Complex(x[column], x[column + 1]);
      column += term.IsReal() ? 1 : 2;
      term.SetResidue(target.row, target.column, r);
      if (target.mirror) term.SetResidue(target.column, target.row, r);
    }
  }
  ConvertToStoredForm(poles);
  return fits;
}

int CommitPoles(PoleList& working, PoleList& target, double workingQLimit,
                const FitOptions& options) {
  const double threshold =
      options.passivity || options.keepSmallTerms ? kNegligiblePassive : kNegligible;
  // Terms far sharper than any starting pole was made are artefacts of the
  // relocation.
  const double qualityLimit = 10.0 * workingQLimit;
  int kept = 0;
  for (PoleTerm& term : working) {
    if (term.QualityRatio() >= qualityLimit || term.IsNegligible(threshold)) continue;
    target.push_back(std::move(term));
    ++kept;
  }
  if (kept == 0) {
    PoleTerm placeholder(options.residueOrder);
    placeholder.SetPole(kPlaceholderPole, 0.0);
    target.push_back(std::move(placeholder));
    kept = 1;
  }
  working.clear();
  return kept;
}

}  // namespace cfit
