#include "passivity/yz_correction.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "fit/model_evaluation.h"
#include "fit/sweeps.h"
#include "numeric/symmetric_eigen.h"
#include "passivity/passivity_sweeps.h"

namespace cfit {

namespace {

constexpr double kBandTypeLimit = 5.0;
constexpr double kSmallestWideRatio = 6.0;
constexpr double kGrowth = 1.1;
constexpr double kBandAmplitude = 1.05;
constexpr double kSmallWeight = 0.07;

// Response parameters from amplitude a and band ratio g, each chosen so that
// the real part d(f) of the response lifts the band by a where it is needed:
//   type 0 (band from 0 Hz): d(0) = A1 = a; the pole at g fR lets the lift
//     fade beyond the band's right end;
//   type 3 (band up to infinite frequency): A1 = -a, so d(inf) = -A1 = a; the
//     pole at fL / g lets it fade below the band's left end;
//   type 1 (narrow band, g < 5): a pole pair of modulus fP, al = fP /
//     sqrt(k + 1), w0 = sqrt(k) al with k = 4 g / (g - 1)^2 - 1, which puts
//     the half-height points of d at the band's edges; A2 = 2 a / sqrt(k)
//     gives d(fP) = A2 sqrt(k) / 2 = a;
//   type 2 (wide band): two real poles al = fP y, w0 = fP / y (al w0 = fP^2)
//     with y from the ratio, and A1 = (al + w0) a / (al - w0), which gives
//     d(fP) = A1 (al - w0) / (al + w0) = a.
void SetParameters(Sp* sp, int shape, double a, double* g, double fL, double fP, double fR) {
  if (shape == 0) {
    *sp = Sp{0.0, a, 0.0, *g * fR, 0.0, 0};
  } else if (shape == 3) {
    *sp = Sp{a, -a, 0.0, fL / *g, 0.0, 3};
  } else if (*g < kBandTypeLimit) {
    const double k = 4.0 * *g / ((*g - 1.0) * (*g - 1.0)) - 1.0;
    const double al = fP / std::sqrt(k + 1.0);
    *sp = Sp{0.0, 0.0, 2.0 * a / std::sqrt(k), al, al * std::sqrt(k), 1};
  } else {
    *g = std::max(*g, kSmallestWideRatio);
    const double x = *g + 1.0 / *g - 4.0;
    const double y = std::sqrt((x + std::sqrt(x * x - 4.0)) / 2.0);
    const double al = fP * y, w0 = fP / y;
    const double amplitude = (al + w0) * a / (al - w0);
    *sp = Sp{0.0, amplitude, amplitude, al, w0, 2};
  }
}

// The eigenvector of the smallest eigenvalue of sym(Re H): adding d u u^T
// lifts that eigenvalue by d and leaves the others' directions alone, the
// cheapest change that lowers the measure 1 - lambda_min.
bool WeakestDirection(ConstMatrixView h, std::vector<double>* u) {
  const int n = h.order();
  std::vector<double> g(static_cast<std::size_t>(n) * n), eig(n), work(n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) g[i * n + j] = 0.5 * (h.At(i, j).re + h.At(j, i).re);
  }
  if (SymmetricEigen(n, g.data(), n, eig.data(), work.data(), true) == 0) return false;
  int k = 0;
  for (int t = 1; t < n; ++t) {
    if (eig[t] < eig[k]) k = t;
  }
  u->resize(n);
  for (int i = 0; i < n; ++i) (*u)[i] = g[i * n + k];
  return true;
}

PoleTerm RealTerm(double pole, double residue) {
  PoleTerm t(1);
  t.SetPole(pole, 0.0);
  t.SetResidue00({residue, 0.0});
  return t;
}

}  // namespace

double YZCorrectionReal(const Sp& sp, double f) {
  const double f2 = f * f, al2 = sp.al * sp.al, w02 = sp.w0 * sp.w0;
  switch (sp.type) {
    case 0: return sp.A1 * al2 / (al2 + f2);
    case 1:
      return 2.0 * sp.A2 * sp.al * sp.w0 * f2 /
             (f2 * f2 + 2.0 * f2 * (al2 - w02) + (al2 + w02) * (al2 + w02));
    case 2: return sp.A1 * f2 * (al2 - w02) / ((al2 + f2) * (w02 + f2));
    default: return -sp.A1 * f2 / (al2 + f2);
  }
}

Complex YZCorrectionValue(const Sp& sp, double f) {
  const Complex one(1.0, 0.0), jf(0.0, f);
  switch (sp.type) {
    case 0: return sp.A1 / (one + jf / sp.al);
    case 1: {
      const Complex p(sp.al, -sp.w0), r(0.0, sp.A2);
      return 0.5 * (r / (one + jf / p) + Conj(r) / (one + jf / Conj(p)));
    }
    case 2: return sp.A1 / (one + jf / sp.al) - sp.A1 / (one + jf / sp.w0);
    default: return sp.A1 / (one + jf / sp.al) - sp.A1;
  }
}

void FindYZParams(const PassivityCurve& curve, const Band& band, bool hasModel, Sp* sp) {
  const double fL = curve[band.left].frequency;
  const double fP = curve[band.peak].frequency;
  const double fR = curve[band.right].frequency;
  const double m = curve[band.peak].measure;
  int shape = 1;  // the band type: 1 or 2 by its ratio
  double g = 1.0;
  if (fL == 0.0 || band.left == 0) {
    shape = 0;
  } else if (fR >= kInfiniteFrequency) {
    shape = 3;
  } else {
    const double r = std::max(fP / fL, fR / fP);
    g = r * r;
  }
  double a = shape == 1 ? kBandAmplitude * (m - 1.0) : m - 1.0;
  const int attempts = hasModel ? 12 : 4;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    SetParameters(sp, shape, a, &g, fL, fP, fR);
    bool ok = true;
    for (int k = band.left; k <= band.right && ok; ++k) {
      ok = curve[k].measure - YZCorrectionReal(*sp, curve[k].frequency) <= 1.0;
    }
    if (ok) return;
    a *= kGrowth;
    g *= kGrowth;
  }
}

bool ApplyYZToModel(FitterState& state, const Sp& sp, double peakFrequency) {
  Model& model = *state.model;
  const int n = model.n;
  std::vector<double> u;
  if (!WeakestDirection(EvaluatePoint(state, peakFrequency), &u)) return false;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (state.network.symmetric && j > i) continue;
      const double w = u[i] * u[j];
      if (n > 2 && std::fabs(w) < kSmallWeight) continue;
      PoleList& list = model.elementPoles[model.Index(i, j)];
      switch (sp.type) {
        case 0: list.push_back(RealTerm(sp.al, w * sp.A1)); break;
        case 1: {
          PoleTerm t(1);
          t.SetPole(sp.al, -sp.w0);
          t.SetResidue00({0.0, w * sp.A2});
          list.push_back(t);
          break;
        }
        case 2:
          list.push_back(RealTerm(sp.al, w * sp.A1));
          list.push_back(RealTerm(sp.w0, -w * sp.A1));
          break;
        default:
          list.push_back(RealTerm(sp.al, w * sp.A1));
          model.constant[model.Index(i, j)] -= w * sp.A1;
          if (state.network.symmetric && i != j) model.constant[model.Index(j, i)] -= w * sp.A1;
          break;
      }
    }
  }
  model.id.Renew();
  return true;
}

bool ApplyYZToData(FitterState& state, const Sp& sp, double peakFrequency) {
  const SampledData& read = *state.network.data;
  const int n = read.port_count();
  std::optional<ConstMatrixView> at;
  for (ConstMatrixView p : read.points()) {
    if (p.frequency() == peakFrequency) at = p;
  }
  std::vector<double> u;
  if (!at.has_value() || !WeakestDirection(*at, &u)) return false;
  for (MatrixView p : state.network.data->MutablePoints()) {
    const Complex term = YZCorrectionValue(sp, p.frequency());
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) p.At(i, j) += (u[i] * u[j]) * term;
    }
  }
  return true;
}

}  // namespace cfit
