#include "fit/pole_identification.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/fit_basis.h"
#include "io/run_log.h"
#include "numeric/eigen_general.h"
#include "numeric/householder_qr.h"
#include "numeric/pivoted_qr.h"

namespace cfit {

namespace {

// Starting-pole constants, normal and with the passivity option.
struct StartingConstants {
  double turningFactor;  // turning-point threshold as a share of the largest value
  int regularStep;       // regular pole every so many points
  double regularChange;  // ... while the real part moves by more than this
};
constexpr StartingConstants kNormal{0.01, 10, 0.05};
constexpr StartingConstants kPassive{0.005, 3, 0.02};

constexpr double kReactiveTopBound = 1e10;
constexpr double kExtendedPoleLimit = 1e11;
constexpr double kDroppedPoleFallback = -1e9;

double ElementConstant(const FitterState& state, int i, int j) {
  const FittedModel* model = state.model.get();
  if (model == nullptr || model->constant.empty() || i >= model->n || j >= model->n) return 0.0;
  return model->constant[model->Index(i, j)];
}

// The constant term matching the fitted quantity.
double FittedConstant(const FitterState& state) {
  if (state.settings.individualPoles) {
    return ElementConstant(state, state.fit.row, state.fit.column);
  }
  double sum = 0.0;
  const int n = state.portCount;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j)
      sum += ((i + j) % 2 == 0 ? 1.0 : -1.0) * ElementConstant(state, i, j);
  }
  return sum;
}

bool ElementHasDelay(const FitterState& state) {
  const FittedModel* model = state.model.get();
  if (!state.settings.individualPoles || model == nullptr || model->delay.empty()) return false;
  if (state.fit.row >= model->n || state.fit.column >= model->n) return false;
  return model->delay[model->Index(state.fit.row, state.fit.column)] != 0.0;
}

// Records the largest |v - d| as the first value of the maximum-error table:
// the fitted element's own entry, or every element's in a common-pole fit.
void SeedMaximumErrors(FitterState& state) {
  FittedModel* model = state.model.get();
  if (model == nullptr || model->maxError.empty()) return;
  if (state.settings.individualPoles) {
    const int i = state.fit.row, j = state.fit.column;
    if (i >= model->n || j >= model->n) return;
    const double d = ElementConstant(state, i, j);
    double largest = 0.0;
    for (const PortMatrix& p : state.data->points()) {
      largest = std::max(largest, Abs(p.Get(i, j) - d));
    }
    model->maxError[model->Index(i, j)] = largest;
    return;
  }
  for (int i = 0; i < model->n; ++i) {
    for (int j = 0; j < model->n; ++j) {
      const double d = ElementConstant(state, i, j);
      double largest = 0.0;
      for (const PortMatrix& p : state.data->points()) {
        largest = std::max(largest, Abs(p.Get(i, j) - d));
      }
      model->maxError[model->Index(i, j)] = largest;
    }
  }
}

PoleTerm NewWorkingPole(const FitterState& state, double re, double im) {
  PoleTerm term(state.settings.individualPoles ? 1 : state.portCount);
  term.SetPole(re, im);
  return term;
}

}  // namespace

bool PlaceStartingPoles(FitterState& state) {
  if (state.data == nullptr || state.data->point_count() < 2) {
    state.error.Record(ErrorCode::kNoData);
    return false;
  }
  const Settings& settings = state.settings;
  const StartingConstants& k = settings.passivity ? kPassive : kNormal;
  const auto& points = state.data->points();
  const double tau = settings.timeStep;
  const bool hasDelay = ElementHasDelay(state);
  const bool dcConstrained = FittedDcConstrained(state);
  const int maxCols = state.work.max_cols();

  // 1. Threshold of a turning point.
  const double d = FittedConstant(state);
  double largest = 0.0;
  for (const PortMatrix& p : points) largest = std::max(largest, Abs(FittedQuantity(state, p) - d));
  SeedMaximumErrors(state);
  const double delta = hasDelay ? k.turningFactor : k.turningFactor * largest;

  // 2. Scan state.
  PoleList& list = state.fit.working;
  list.clear();
  Complex previous = FittedQuantity(state, points[0]);
  double previousFrequency = points[0].frequency();
  double reAnchor = previous.re;
  double imAnchor = previous.im;
  double regAnchor = previous.re;
  double lastPoleFrequency = -1.0;
  int featurePoles = 0;
  double lastExamined = points[0].frequency();

  auto room = [&] { return 4 * static_cast<long long>(list.size()) + 6 < maxCols; };
  auto stopScan = [&](bool leadingNewline, double f) {
    runlog::Write(leadingNewline ? "\n" : "",
                  " *** Warning: cannot add more poles because of the matrix column size ***\n",
                  "\n *** Stopped at frequency: ", f, "\n");
  };

  // 3. Turning points, regular poles.
  for (std::size_t index = 1; index < points.size(); ++index) {
    const long long n = static_cast<long long>(index) + 1;
    const double f = points[index].frequency();
    if (!(f > previousFrequency)) return false;
    lastExamined = f;
    if (NearPulseSpectrumZero(f, tau)) continue;
    const Complex v = FittedQuantity(state, points[index]);

    if ((previous.re - reAnchor) * (v.re - previous.re) < 0.0 &&
        std::fabs(v.re - reAnchor) > delta) {
      if (!room()) {
        stopScan(true, f);
        break;
      }
      reAnchor = previous.re;
      if (lastPoleFrequency <= 0.0 || 100.0 * (f - lastPoleFrequency) >= f) {
        list.push_back(NewWorkingPole(state, -0.01 * f, -f));
      } else {
        list.push_back(NewWorkingPole(state, -(f - lastPoleFrequency), -f));
        double& qLimit = state.fit.workingQLimit;
        qLimit = std::max(qLimit, f / (f - lastPoleFrequency));
        if (qLimit > settings.poleRatioBound) qLimit = settings.poleRatioBound;
      }
      lastPoleFrequency = f;
      ++featurePoles;
    }

    if ((settings.passivity || hasDelay) && (previous.im - imAnchor) * (v.im - previous.im) < 0.0 &&
        std::fabs(v.im - imAnchor) > delta) {
      if (!room()) {
        stopScan(false, f);
        break;
      }
      imAnchor = previous.im;
      list.push_back(NewWorkingPole(state, -0.01 * f, -f));
      ++featurePoles;
    }

    if ((featurePoles == 0 && n % k.regularStep == 0 &&
         std::fabs(v.re - regAnchor) > k.regularChange) ||
        n == 2) {
      if (!room()) {
        stopScan(false, f);
        break;
      }
      regAnchor = v.re;
      list.push_back(NewWorkingPole(state, -f, -0.5 * f));
    }
    previous = v;
    previousFrequency = f;
  }

  // 4.-7. Closing poles.
  const double F = tau > 0.0 ? 0.5 / tau : lastExamined;
  if (list.empty()) list.push_back(NewWorkingPole(state, -F, -0.5 * F));
  const int count = static_cast<int>(list.size());
  if ((!settings.individualPoles || !hasDelay) &&
      ((count < 20 && featurePoles > 0) || (count < 2 && dcConstrained)) && room() &&
      (std::fabs(previous.re - reAnchor) > delta || dcConstrained)) {
    list.push_back(NewWorkingPole(state, -0.01 * F, -F));
  }
  if (FittedAsymptoteMode(state) == kNoAsymptote && state.dataType != kS &&
      state.dataType != kPulse) {
    const Complex last = FittedQuantity(state, points.back());
    if (std::fabs(last.im) > 100.0 * std::fabs(last.re)) {
      state.fit.workingQLimit = kReactiveTopBound;
      state.settings.poleRatioBound = kReactiveTopBound;
      list.push_back(NewWorkingPole(state, -F, -1000.0 * F));
    }
  }
  // 8. The newest pole leads the list.
  std::reverse(list.begin(), list.end());
  return true;
}

bool SolveSigmaSystem(FitterState& state) {
  if (state.data == nullptr || state.data->empty())
    return state.error.Record(ErrorCode::kInconsistentData) != 0;
  const auto& points = state.data->points();
  const PoleList& poles = state.fit.working;
  const int npts = static_cast<int>(points.size());
  const int mode = FittedAsymptoteMode(state);
  const int basis = BasisColumnCount(poles);
  const int cols = 2 * basis + (mode >= 1 ? 1 : 0) + (mode == 2 ? 1 : 0);
  const int rows = 2 * npts;
  WorkingSet& work = state.work;
  if (!work.allocated() || rows > work.max_rows() || cols > work.max_cols() ||
      cols > work.max_rows()) {
    state.error.Record(ErrorCode::kSizeExceedsWorkspace);
    return false;
  }
  const int lda = work.max_rows();
  const double tau = state.settings.timeStep;
  std::vector<Complex> b(static_cast<std::size_t>(basis));
  double* rhs = work.rhs();
  for (int k = 0; k < npts; ++k) {
    const double f = points[k].frequency();
    const Complex v = FittedQuantity(state, points[k]);
    const Complex pulse = tau > 0.0 ? PulseSpectrum(f, tau) : Complex(1.0, 0.0);
    const double w = RowWeight(state, k);
    PoleBasis(poles, f, b.data());
    auto put = [&](int column, Complex value) {
      double* col = work.Column(column);
      col[k] = w * value.re;
      col[npts + k] = w * value.im;
    };
    for (int c = 0; c < basis; ++c) {
      put(c, b[c] * pulse);
      put(basis + c, -(v * b[c]));
    }
    int c = 2 * basis;
    if (mode >= 1) put(c++, pulse);
    if (mode == 2) put(c++, Complex(0.0, f) * pulse);
    rhs[k] = w * v.re;
    rhs[npts + k] = w * v.im;
  }

  double* x = rhs;
  ScaleColumns(rows, cols, work.columns(), lda, work.scale());
  if (state.fit.pivoting) {
    const QrOwner owner{state.cancelFlag, &state.progress, state.fit.progressStep};
    if (PivotedQR(rows, cols, work.columns(), lda, work.c(), work.d(), work.permutation(), &owner,
                  true) == 0) {
      return false;
    }
    SolvePivotedQR(rows, cols, work.columns(), lda, work.c(), work.d(), x, work.permutation(),
                   work.work(), true);
  } else {
    if (HouseholderQR(rows, cols, work.columns(), lda, work.c(), work.d()) == 0) return false;
    SolveQR(rows, cols, work.columns(), lda, work.c(), work.d(), x);
  }
  UnscaleSolution(cols, x, work.scale());

  // Sigma coefficients become the working poles' residue (0, 0).
  int c = basis;
  for (PoleTerm& p : state.fit.working) {
    if (p.IsReal()) {
      p.SetResidue00({x[c], 0.0});
      c += 1;
    } else {
      p.SetResidue00({x[c], x[c + 1]});
      c += 2;
    }
  }
  return true;
}

bool FindCPols(FitterState& state) {
  PoleList& poles = state.fit.working;
  if (poles.empty()) {
    state.error.Record(ErrorCode::kFitFailed);
    return false;
  }
  const int m = BasisColumnCount(poles);
  WorkingSet& work = state.work;
  if (!work.allocated() || m > work.max_rows() || m > work.max_cols()) {
    state.error.Record(ErrorCode::kSizeExceedsWorkspace);
    return false;
  }
  // H = A - b c^T, row-stored in the working columns.
  const int lda = work.max_rows();
  double* h = work.columns();
  for (int r = 0; r < m; ++r)
    std::fill(h + static_cast<std::size_t>(r) * lda, h + static_cast<std::size_t>(r) * lda + m,
              0.0);
  auto at = [&](int r, int c) -> double& { return h[static_cast<std::size_t>(r) * lda + c]; };
  std::vector<double> bvec(static_cast<std::size_t>(m)), cvec(static_cast<std::size_t>(m));
  int k = 0;
  for (const PoleTerm& p : poles) {
    const Complex q = p.GetPole();
    const Complex c = p.GetResidue00();
    if (p.IsReal()) {
      at(k, k) = q.re;
      bvec[k] = 1.0;
      cvec[k] = c.re;
      k += 1;
    } else {
      at(k, k) = q.re;
      at(k, k + 1) = q.im;
      at(k + 1, k) = -q.im;
      at(k + 1, k + 1) = q.re;
      bvec[k] = 2.0;
      bvec[k + 1] = 0.0;
      cvec[k] = c.re;
      cvec[k + 1] = c.im;
      k += 2;
    }
  }
  for (int r = 0; r < m; ++r) {
    if (bvec[r] == 0.0) continue;
    for (int c = 0; c < m; ++c) at(r, c) -= bvec[r] * cvec[c];
  }

  double* wr = work.c();
  double* wi = work.d();
  BalanceMatrix(m, h, lda);
  ReduceToHessenberg(m, h, lda);
  if (hqr(m, h, lda, wr, wi) == 0) {
    runlog::Write("In FindCPols: eigen value finder hqr failed\n");
    state.error.Record(ErrorCode::kFitFailed);
    return false;
  }

  const Settings& s = state.settings;
  const auto& points = state.data->points();
  double f0 = points.empty() ? 0.0 : points[0].frequency();
  if (f0 == 0.0 && points.size() > 1) f0 = points[1].frequency();
  const double smallest = 1e-8 * f0 * f0;

  PoleList kept;
  for (int e = 0; e < m; ++e) {
    const double re = wr[e];
    const double im = wi[e];
    const bool pair = im != 0.0;
    const double modulus2 = re * re + im * im;
    const bool drop = std::fabs(im / re) > s.poleRatioBound ||
                      (s.callerBand && (modulus2 > s.upperBandFrequency * s.upperBandFrequency ||
                                        modulus2 < s.lowerBandFrequency * s.lowerBandFrequency)) ||
                      (s.extendedFit && modulus2 > kExtendedPoleLimit * kExtendedPoleLimit) ||
                      modulus2 < smallest;
    if (!drop) {
      const double stableRe = re > 0.0 ? -re : re;
      kept.push_back(NewWorkingPole(state, stableRe, pair ? -std::fabs(im) : 0.0));
    }
    if (pair) ++e;  // the partner is implied
  }
  if (kept.empty()) kept.push_back(NewWorkingPole(state, kDroppedPoleFallback, 0.0));
  poles = std::move(kept);
  return true;
}

}  // namespace cfit
