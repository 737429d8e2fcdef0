#include "fit/residues.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "fit/fit_basis.h"
#include "numeric/householder_qr.h"
#include "numeric/pivoted_qr.h"

namespace cfit {

namespace {

constexpr double kNegligible = 1e-7;
constexpr double kNegligiblePassive = 1e-13;
constexpr double kPlaceholderPole = 1e9;

struct Element {
  int i;
  int j;
};

// The elements whose residues this fit identifies.
std::vector<Element> TargetElements(const FitterState& state) {
  if (state.settings.individualPoles) return {{state.fit.row, state.fit.column}};
  std::vector<Element> targets;
  const int n = state.portCount;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (state.symmetric && j > i) continue;
      targets.push_back({i, j});
    }
  }
  return targets;
}

Complex ElementValue(const FitterState& state, const PortMatrix& point, Element e) {
  return state.settings.individualPoles ? point.Get(e.i, e.j) : point.At(e.i, e.j);
}

// The fixed constant of an element in asymptote mode 0 (0 when unset).
double FixedConstant(const FitterState& state, Element e, int mode) {
  if (mode != kNoAsymptote || state.elements == nullptr) return 0.0;
  const double value = state.elements->ConstantValueAt(e.i, e.j, e.i, e.j);
  return value == kUnset ? 0.0 : value;
}

// The value a DC-constrained element must take at 0 Hz.
double DcValue(const FitterState& state, Element e) {
  const double table =
      state.elements != nullptr ? state.elements->DcValueAt(e.i, e.j, e.i, e.j) : kUnset;
  if (table != kUnset) return table;
  const auto& points = state.data->points();
  if (!points.empty() && points[0].frequency() == 0.0) {
    return ElementValue(state, points[0], e).re;
  }
  return 0.0;
}

// The least-squares problem on fixed poles, column-stored in the working set.
// With a DC constraint its first row is the model's equation at 0 Hz, and
// one unknown (the pivot) is eliminated from the data rows by it.
class ResidueProblem {
 public:
  ResidueProblem(FitterState& state, bool withDc) : state_(state), withDc_(withDc) {}

  bool Build();
  bool Factorise();
  // Solves for one element; x receives cols unknowns in column order.
  void Solve(Element e, std::vector<double>* x);

  int basis() const { return basis_; }
  int mode() const { return mode_; }

 private:
  double* Column(int c) { return state_.work.Column(c); }

  FitterState& state_;
  bool withDc_;
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

bool ResidueProblem::Build() {
  const auto& points = state_.data->points();
  const PoleList& poles = state_.fit.working;
  mode_ = FittedAsymptoteMode(state_);
  basis_ = BasisColumnCount(poles);
  cols_ = basis_ + (mode_ >= 1 ? 1 : 0) + (mode_ == 2 ? 1 : 0);
  offset_ = withDc_ ? 1 : 0;
  for (int k = 0; k < static_cast<int>(points.size()); ++k) {
    if (withDc_ && points[k].frequency() == 0.0) continue;
    rowPoint_.push_back(k);
  }
  const int npts = static_cast<int>(rowPoint_.size());
  dataRows_ = 2 * npts;
  WorkingSet& work = state_.work;
  if (!work.allocated() || offset_ + dataRows_ > work.max_rows() || cols_ > work.max_cols() ||
      cols_ > work.max_rows() || cols_ == 0) {
    state_.error.Record(ErrorCode::kSizeExceedsWorkspace);
    return false;
  }
  const double tau = state_.settings.timeStep;
  std::vector<Complex> b(static_cast<std::size_t>(basis_));
  weight_.resize(static_cast<std::size_t>(npts));
  for (int r = 0; r < npts; ++r) {
    const int k = rowPoint_[r];
    const double f = points[k].frequency();
    const Complex pulse = tau > 0.0 ? PulseSpectrum(f, tau) : Complex(1.0, 0.0);
    const double w = RowWeight(state_, k);
    weight_[r] = w;
    PoleBasis(poles, f, b.data());
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
    PoleBasis(poles, 0.0, b.data());
    for (int c = 0; c < basis_; ++c) Column(c)[0] = b[c].re;
    int c = basis_;
    if (mode_ >= 1) Column(c++)[0] = 1.0;
    if (mode_ == 2) Column(c++)[0] = 0.0;
  }
  return true;
}

bool ResidueProblem::Factorise() {
  WorkingSet& work = state_.work;
  const int lda = work.max_rows();
  ScaleColumns(offset_ + dataRows_, cols_, work.columns(), lda, work.scale());
  order_.resize(static_cast<std::size_t>(cols_));
  for (int c = 0; c < cols_; ++c) order_[c] = c;
  int solveCols = cols_;
  if (withDc_) {
    // Impose the constraint row exactly: eliminate the unknown with the
    // largest coefficient from the data rows.
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
  double* a = work.columns() + offset_;
  if (state_.fit.pivoting) {
    const QrOwner owner{state_.cancelFlag, &state_.progress, state_.fit.progressStep};
    return PivotedQR(dataRows_, solveCols, a, lda, work.c(), work.d(), work.permutation(), &owner,
                     true) != 0;
  }
  return HouseholderQR(dataRows_, solveCols, a, lda, work.c(), work.d()) != 0;
}

void ResidueProblem::Solve(Element e, std::vector<double>* x) {
  WorkingSet& work = state_.work;
  const int lda = work.max_rows();
  const auto& points = state_.data->points();
  const int npts = dataRows_ / 2;
  const double d0 = FixedConstant(state_, e, mode_);
  double* rhs = work.rhs();
  for (int r = 0; r < npts; ++r) {
    const Complex v = ElementValue(state_, points[rowPoint_[r]], e) - d0;
    rhs[r] = weight_[r] * v.re;
    rhs[npts + r] = weight_[r] * v.im;
  }
  double beta = 0.0;
  int solveCols = cols_;
  if (withDc_) {
    // The constraint row was normalised by its pivot coefficient.
    beta = (DcValue(state_, e) - d0) / pivotValue_;
    for (int r = 0; r < dataRows_; ++r) rhs[r] -= pivotColumn_[r] * beta;
    solveCols = cols_ - 1;
  }
  x->assign(static_cast<std::size_t>(cols_), 0.0);
  if (solveCols > 0) {
    const double* a = work.columns() + offset_;
    if (state_.fit.pivoting) {
      SolvePivotedQR(dataRows_, solveCols, a, lda, work.c(), work.d(), rhs, work.permutation(),
                     work.work(), true);
    } else {
      SolveQR(dataRows_, solveCols, a, lda, work.c(), work.d(), rhs);
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
  UnscaleSolution(cols_, out.data(), work.scale());
}

// Value of the least-squares model with solution x at f, plus the fixed
// constant d0.
Complex FittedValue(const FitterState& state, const std::vector<double>& x, int basis, int mode,
                    double f, double d0, std::vector<Complex>& b) {
  PoleBasis(state.fit.working, f, b.data());
  Complex sum;
  for (int c = 0; c < basis; ++c) sum += b[c] * x[c];
  int c = basis;
  if (mode >= 1) sum += Complex(x[c++], 0.0);
  if (mode == 2) sum += Complex(0.0, f * x[c]);
  const double tau = state.settings.timeStep;
  if (tau > 0.0) sum = sum * PulseSpectrum(f, tau);
  return sum + d0;
}

// Writes value at (i, j), and at (j, i) for a symmetric matrix.
void StorePair(const FitterState& state, std::vector<double>& table, Element e, double value,
               bool add) {
  const FittedModel& model = *state.model;
  auto store = [&](int i, int j) {
    double& slot = table[model.Index(i, j)];
    slot = add ? slot + value : value;
  };
  store(e.i, e.j);
  if (state.symmetric && e.i != e.j) store(e.j, e.i);
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

bool RunResidueFit(FitterState& state, bool withDc) {
  if (state.data == nullptr || state.data->empty() || state.model == nullptr ||
      state.model->constant.empty()) {
    state.error.Record(ErrorCode::kInconsistentData);
    return false;
  }
  ResidueProblem problem(state, withDc);
  if (!problem.Build() || !problem.Factorise()) return false;

  FittedModel& model = *state.model;
  const auto& points = state.data->points();
  const int sampled = FirstAddedPoint(*state.data);
  const int basis = problem.basis();
  const int mode = problem.mode();
  std::vector<double> x;
  std::vector<Complex> b(static_cast<std::size_t>(basis));
  for (Element e : TargetElements(state)) {
    problem.Solve(e, &x);
    const double d0 = FixedConstant(state, e, mode);
    int c = basis;
    const double d = mode == kNoAsymptote ? d0 : x[c++];
    const double prop = mode == kConstantAndProportional ? x[c] : 0.0;
    StorePair(state, model.constant, e, d, true);
    StorePair(state, model.proportional, e, prop, true);

    // Accuracy over the sampled points, added points excluded.
    double sumSquares = 0.0;
    double largest = 0.0;
    for (int k = 0; k < sampled; ++k) {
      const double f = points[k].frequency();
      const double err =
          Abs(ElementValue(state, points[k], e) - FittedValue(state, x, basis, mode, f, d0, b));
      sumSquares += err * err;
      largest = std::max(largest, err);
    }
    const double rms = sampled > 0 ? std::sqrt(sumSquares / sampled) : 0.0;
    StorePair(state, model.rmsError, e, rms, false);
    StorePair(state, model.maxError, e, largest, false);

    // Residues into the working terms.
    int column = 0;
    for (PoleTerm& term : state.fit.working) {
      const Complex r = term.IsReal() ? Complex(x[column], 0.0) : Complex(x[column], x[column + 1]);
      column += term.IsReal() ? 1 : 2;
      if (state.settings.individualPoles) {
        term.SetResidue00(r);
      } else {
        term.SetResidue(e.i, e.j, r);
        if (state.symmetric && e.i != e.j) term.SetResidue(e.j, e.i, r);
      }
    }
  }
  ConvertToStoredForm(state.fit.working);
  return true;
}

}  // namespace

bool FitResidues(FitterState& state) { return RunResidueFit(state, false); }

bool FitResiduesWithDC(FitterState& state) { return RunResidueFit(state, true); }

bool IdentifyResidues(FitterState& state) {
  return FittedDcConstrained(state) ? FitResiduesWithDC(state) : FitResidues(state);
}

int CommitPoles(FitterState& state) {
  if (state.model == nullptr) return 0;
  FittedModel& model = *state.model;
  const bool individual = state.settings.individualPoles;
  if (individual &&
      (model.elementPoles.empty() || state.fit.row >= model.n || state.fit.column >= model.n)) {
    return 0;
  }
  const double threshold = state.settings.passivity ? kNegligiblePassive : kNegligible;
  const double qualityLimit = 10.0 * state.fit.workingQLimit;
  PoleList& target = individual ? model.elementPoles[model.Index(state.fit.row, state.fit.column)]
                                : model.commonPoles;
  int kept = 0;
  for (PoleTerm& term : state.fit.working) {
    if (term.QualityRatio() >= qualityLimit || term.IsNegligible(threshold)) continue;
    target.push_back(std::move(term));
    ++kept;
  }
  if (kept == 0) {
    PoleTerm placeholder(individual ? 1 : state.portCount);
    placeholder.SetPole(kPlaceholderPole, 0.0);
    target.push_back(std::move(placeholder));
    kept = 1;
  }
  state.fit.working.clear();
  return kept;
}

}  // namespace cfit
