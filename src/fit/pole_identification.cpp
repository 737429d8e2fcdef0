#include "fit/pole_identification.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/eigen_general.h"
#include "numeric/householder_qr.h"
#include "numeric/pivoted_qr.h"

namespace cfit {

namespace {

// Starting-pole constants, normal and with the passivity option. A passive
// model needs its resonances caught more closely, so the passivity option
// lowers the turning-point threshold and adds regular poles more often.
struct StartingConstants {
  double turningFactor;  // turning-point threshold as a share of the largest value
  int regularStep;       // regular pole every so many points
  double regularChange;  // ... while the real part moves by more than this
};
constexpr StartingConstants kNormal{0.01, 10, 0.05};
constexpr StartingConstants kPassive{0.005, 3, 0.02};

// A reactive top (a Y or Z element growing like j f without a proportional
// term) needs a pole of very high quality far above the band; both limits are
// lifted so that it survives relocation and pruning.
constexpr double kReactiveTopBound = 1e10;
// Poles far above the band of an extended fit only model the added roll-off.
constexpr double kExtendedPoleLimit = 1e11;
// The one pole a fit keeps when every relocated pole was dropped.
constexpr double kDroppedPoleFallback = -1e9;

constexpr int kDataTypeS = 1;
constexpr int kDataTypePulse = 5;

PoleTerm NewWorkingPole(const FitOptions& options, double re, double im) {
  PoleTerm term(options.residueOrder);
  term.SetPole(re, im);
  return term;
}

}  // namespace

Status PlaceStartingPoles(const FitSeries& series, const FitOptions& options, int maxCols,
                          PoleLimits& limits, PoleList& poles, const RunContext& run) {
  poles.clear();
  if (series.size() < 2) return ErrorCode::kNoData;
  const StartingConstants& k = options.passivity ? kPassive : kNormal;
  const std::vector<double>& freq = series.frequency;
  const std::vector<Complex>& values = series.value;
  const double tau = options.timeStep;
  const bool delayRemoved = options.delayRemoved;
  const bool dcConstrained = options.dcConstrained;

  // A turning point counts when the curve has moved by a share of its
  // largest value since the last one, so that noise does not place poles.
  // After delay removal the magnitude says little about the ripple of the
  // rotated curve, and the threshold is absolute.
  const double largest = LargestMagnitude(values);
  const double delta = delayRemoved ? k.turningFactor : k.turningFactor * largest;

  Complex previous = values[0];
  double previousFrequency = freq[0];
  double reAnchor = previous.re;
  double imAnchor = previous.im;
  double regAnchor = previous.re;
  double lastPoleFrequency = -1.0;
  int featurePoles = 0;
  double lastExamined = freq[0];

  // Each pole takes up to two numerator and two sigma columns; the constant
  // and proportional terms and a closing pole need the rest.
  auto room = [&] { return 4 * static_cast<long long>(poles.size()) + 6 < maxCols; };
  auto stopScan = [&](bool leadingNewline, double f) {
    run.Write(leadingNewline ? "\n" : "",
              " *** Warning: cannot add more poles because of the matrix column size ***\n",
              "\n *** Stopped at frequency: ", f, "\n");
  };

  for (int index = 1; index < series.size(); ++index) {
    const long long n = static_cast<long long>(index) + 1;
    const double f = freq[index];
    if (!(f > previousFrequency)) return Failure::Silent();
    lastExamined = f;
    if (NearPulseSpectrumZero(f, tau)) continue;
    const Complex v = values[index];

    // A turning point of the real part marks a resonance just passed: a pole
    // of quality 100 at this frequency. When it follows the previous one
    // within 1 % in frequency the two resonances are close, and the pole is
    // made as sharp as their spacing; the working quality limit follows so
    // that the pruning keeps it.
    if ((previous.re - reAnchor) * (v.re - previous.re) < 0.0 &&
        std::fabs(v.re - reAnchor) > delta) {
      if (!room()) {
        stopScan(true, f);
        break;
      }
      reAnchor = previous.re;
      if (lastPoleFrequency <= 0.0 || 100.0 * (f - lastPoleFrequency) >= f) {
        poles.push_back(NewWorkingPole(options, -0.01 * f, -f));
      } else {
        poles.push_back(NewWorkingPole(options, -(f - lastPoleFrequency), -f));
        double& qLimit = limits.workingQLimit;
        qLimit = std::max(qLimit, f / (f - lastPoleFrequency));
        if (qLimit > limits.poleRatioBound) qLimit = limits.poleRatioBound;
      }
      lastPoleFrequency = f;
      ++featurePoles;
    }

    // The imaginary part's turning points carry resonances the real part
    // hides once a delay rotated the curve, and passive models need them.
    if ((options.passivity || delayRemoved) &&
        (previous.im - imAnchor) * (v.im - previous.im) < 0.0 &&
        std::fabs(v.im - imAnchor) > delta) {
      if (!room()) {
        stopScan(false, f);
        break;
      }
      imAnchor = previous.im;
      poles.push_back(NewWorkingPole(options, -0.01 * f, -f));
      ++featurePoles;
    }

    // A smooth curve without features still needs poles to follow its
    // slope: a broad one at the second point, and one every K points while
    // the real part keeps moving.
    if ((featurePoles == 0 && n % k.regularStep == 0 &&
         std::fabs(v.re - regAnchor) > k.regularChange) ||
        n == 2) {
      if (!room()) {
        stopScan(false, f);
        break;
      }
      regAnchor = v.re;
      poles.push_back(NewWorkingPole(options, -f, -0.5 * f));
    }
    previous = v;
    previousFrequency = f;
  }

  // The top of the band: half the sampling rate of a pulse model, otherwise
  // the last frequency examined.
  const double F = tau > 0.0 ? 0.5 / tau : lastExamined;
  if (poles.empty()) poles.push_back(NewWorkingPole(options, -F, -0.5 * F));
  const int count = static_cast<int>(poles.size());
  // A closing pole at the top of the band lets the model follow the curve
  // from its last turning point (or, for a DC-constrained element with few
  // poles, gives the constraint a free term). An element with a delay
  // removed would only see it as an artificial resonance.
  if (!delayRemoved && ((count < 20 && featurePoles > 0) || (count < 2 && dcConstrained)) &&
      room() && (std::fabs(previous.re - reAnchor) > delta || dcConstrained)) {
    poles.push_back(NewWorkingPole(options, -0.01 * F, -F));
  }
  if (options.asymptoteMode == kNoAsymptote && options.dataType != kDataTypeS &&
      options.dataType != kDataTypePulse) {
    const Complex last = values.back();
    if (std::fabs(last.im) > 100.0 * std::fabs(last.re)) {
      limits.workingQLimit = kReactiveTopBound;
      limits.poleRatioBound = kReactiveTopBound;
      poles.push_back(NewWorkingPole(options, -F, -1000.0 * F));
    }
  }
  // The newest pole leads the list.
  std::reverse(poles.begin(), poles.end());
  return Success();
}

Status SolveSigmaSystem(const FitSeries& series, const FitOptions& options, WorkingSet& work,
                        PoleList& poles, const RunContext& run) {
  if (series.size() == 0) return ErrorCode::kInconsistentData;
  const int npts = series.size();
  const int mode = options.asymptoteMode;
  const int basis = BasisColumnCount(poles);
  const int cols = 2 * basis + (mode >= 1 ? 1 : 0) + (mode == 2 ? 1 : 0);
  const int rows = 2 * npts;
  if (!work.allocated() || rows > work.max_rows() || cols > work.max_cols() ||
      cols > work.max_rows()) {
    return ErrorCode::kSizeExceedsWorkspace;
  }
  const int lda = work.max_rows();
  const double tau = options.timeStep;
  std::vector<Complex> b(static_cast<std::size_t>(basis));
  double* rhs = work.rhs();
  for (int k = 0; k < npts; ++k) {
    const double f = series.frequency[k];
    const Complex v = series.value[k];
    const Complex pulse = tau > 0.0 ? PulseSpectrum(f, tau) : Complex(1.0, 0.0);
    const double w = RowWeight(series, options, k);
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
  if (options.pivoting) {
    const QrOwner owner{&run, options.progressStep};
    if (PivotedQR(rows, cols, work.columns(), lda, work.c(), work.d(), work.permutation(), &owner,
                  true) == 0) {
      return Failure::Silent();
    }
    SolvePivotedQR(rows, cols, work.columns(), lda, work.c(), work.d(), x, work.permutation(),
                   work.work(), true);
  } else {
    if (HouseholderQR(rows, cols, work.columns(), lda, work.c(), work.d()) == 0) {
      return Failure::Silent();
    }
    SolveQR(rows, cols, work.columns(), lda, work.c(), work.d(), x);
  }
  UnscaleSolution(cols, x, work.scale());

  // Sigma coefficients become the poles' residue (0, 0).
  int c = basis;
  for (PoleTerm& p : poles) {
    if (p.IsReal()) {
      p.SetResidue00({x[c], 0.0});
      c += 1;
    } else {
      p.SetResidue00({x[c], x[c + 1]});
      c += 2;
    }
  }
  return Success();
}

Status FindCPols(const FitSeries& series, const FitOptions& options, const PoleLimits& limits,
                 WorkingSet& work, PoleList& poles, const RunContext& run) {
  if (poles.empty()) return ErrorCode::kFitFailed;
  const int m = BasisColumnCount(poles);
  if (!work.allocated() || m > work.max_rows() || m > work.max_cols()) {
    return ErrorCode::kSizeExceedsWorkspace;
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
    run.Write("In FindCPols: eigen value finder hqr failed\n");
    return ErrorCode::kFitFailed;
  }

  // Poles far below the band (the first non-zero frequency) are numerical
  // debris of the relocation, not features of the data.
  const std::vector<double>& freq = series.frequency;
  double f0 = freq.empty() ? 0.0 : freq[0];
  if (f0 == 0.0 && freq.size() > 1) f0 = freq[1];
  const double smallest = 1e-8 * f0 * f0;

  const FitOptions& s = options;
  PoleList kept;
  for (int e = 0; e < m; ++e) {
    const double re = wr[e];
    const double im = wi[e];
    const bool pair = im != 0.0;
    const double modulus2 = re * re + im * im;
    const bool drop = std::fabs(im / re) > limits.poleRatioBound ||
                      (s.callerBand && (modulus2 > s.upperBandFrequency * s.upperBandFrequency ||
                                        modulus2 < s.lowerBandFrequency * s.lowerBandFrequency)) ||
                      (s.extendedFit && modulus2 > kExtendedPoleLimit * kExtendedPoleLimit) ||
                      modulus2 < smallest;
    if (!drop) {
      // An unstable zero of sigma is mirrored into the stable half-plane.
      const double stableRe = re > 0.0 ? -re : re;
      kept.push_back(NewWorkingPole(options, stableRe, pair ? -std::fabs(im) : 0.0));
    }
    if (pair) ++e;  // the partner is implied
  }
  if (kept.empty()) kept.push_back(NewWorkingPole(options, kDroppedPoleFallback, 0.0));
  poles = std::move(kept);
  return Success();
}

}  // namespace cfit
