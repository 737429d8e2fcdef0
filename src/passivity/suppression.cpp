#include "passivity/suppression.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "fit/model_evaluation.h"

namespace cfit {

namespace {

constexpr double kLargeViolation = 1.5;
constexpr double kRestLimit = 0.5;
constexpr double kSafety = 0.0001;
constexpr double kMaxQuality = 200.0;
constexpr int kRowAttempts = 20;
constexpr double kCheckTolerance = 1e-8;

// Estimated row measure at curve point p after the factor: the dominant
// column scaled, or the whole row sum.
double RowEstimate(const PassivityPoint& p, int column, double factor) {
  if (column < 0) return factor * p.measure;
  return p.measure + (factor - 1.0) * p.values[static_cast<std::size_t>(column)];
}

bool BandPasses(const PassivityCurve& curve, int left, int right, int column, const Sp& sp) {
  for (int k = left; k <= right; ++k) {
    const PassivityPoint& p = curve[k];
    if (!(RowEstimate(p, column, SuppressionFactor(sp, p.frequency)) <= 1.0)) return false;
  }
  return true;
}

// Frequency of a band end, or of the next point when that end is at 0 Hz.
double EndOrNext(const PassivityCurve& curve, int index) {
  const double f = curve[index].frequency;
  if (f == 0.0 && index + 1 < static_cast<int>(curve.size())) return curve[index + 1].frequency;
  return f;
}

void WarnLarge(double m, const RunContext& context) {
  if (m > kLargeViolation) {
    context.Write("*** Warning: large non-passivity detected ***\n",
                  "*** To improve accuracy try to set IindividualFit and/or ***\n",
                  "*** define data in wider frequency range [DC and very high freqs] ***\n");
  }
}

// The pieces of each search that differ between the row and global forms.
struct SearchRule {
  const char* name;
  int attemptsType2;
  int attemptsOther;
  double growType2;    // s = 1 + grow (s - 1) after a failed type-2 attempt
  double shrinkType2;  // al = w0 scaled by this after a failed type-2 attempt (1: kept)
  double startType1;   // s = 1 + start (s - 1) before the first type-1 attempt
};

// Chooses the suppression factor for a band of the curve. The measure is a
// squared magnitude, so bringing a peak m down to 1 needs |g| = 1/s at the
// peak with s = sqrt((m + safety - rest) / (1 - rest)); `rest` is the part
// of the row measure outside the dominant column, which g leaves alone.
// The shape follows where the band lies:
//   type 0, band from 0 Hz: C = 1, A1 = 1/s - 1, A2 = -(1 - sqrt(1/s))^2, so
//     g(0) = C + A1 = 1/s and g tends to 1 above the pole pair at al = w0,
//     placed at a quarter of the band's right end;
//   type 1, band inside the curve: a notch. C = 1, A1 = 0, the pole pair at
//     modulus sqrt(al^2 + w0^2) = fP (al = fP / sqrt(q^2 + 1), w0 = q al)
//     and A2 = (2/q)(1/s - 1), so that g(j fP) = 1 + q A2 / 2 = 1/s exactly.
//     The quality q is the one whose notch is still deep enough at the
//     band's edges (ql from the left, qr from the right, their geometric
//     mean when both exist), at most 200;
//   type 2, band reaching the curve's end (infinite frequency): a roll-off.
//     C = 1/s, A1 = 1 - 1/s, so g(0) = 1 and g(inf) = 1/s; with al = w0 and
//     A2 = 2 sqrt(1 - A1) + A1 - 2 the factor is the maximally flat
//     F = ((1 - A1)^2 x + 1) / (1 + x), x = (f / al)^4 / 4, which never rises
//     above 1, so no new violation appears beside the band.
// Each failed attempt (some point of the band still above 1 after the
// factor) deepens the correction and widens or moves it, as the rule says.
void Search(const PassivityCurve& curve, const Band& band, int column, double rest,
            const SearchRule& rule, Sp* sp, const RunContext& context) {
  const double fL = curve[band.left].frequency;
  const double fP = curve[band.peak].frequency;
  const double fR = curve[band.right].frequency;
  const double m = curve[band.peak].measure;
  int type = 1;
  if (fL == 0.0) type = 0;
  if (band.right == static_cast<int>(curve.size()) - 1) type = 2;
  double s = std::sqrt((m + kSafety - rest) / (1.0 - rest));
  *sp = Sp{};
  sp->type = type;
  const int attempts = type == 2 ? rule.attemptsType2 : rule.attemptsOther;

  double q = 0.0;  // quality of the type-1 pair
  if (type == 2) {
    sp->al = sp->w0 = EndOrNext(curve, band.left);
  } else if (type == 1) {
    const double qs = std::min(1.0 / s, 0.95);
    const double v = std::sqrt((s + 1.0 - 2.0 * qs) * (s - 1.0)) / (1.0 - qs);
    const double ql = fL == fP ? 0.0 : v * fL * fP / ((fL + fP) * (fP - fL));
    const double qr = fR == fP ? 0.0 : v * fR * fP / ((fR + fP) * (fR - fP));
    if (ql != 0.0 && qr != 0.0) {
      q = std::sqrt(ql * qr);
    } else if (ql != 0.0 || qr != 0.0) {
      q = ql != 0.0 ? ql : qr;
    } else {
      q = kMaxQuality;
    }
    q = std::min(q, kMaxQuality);
    s = 1.0 + rule.startType1 * (s - 1.0);
  } else {
    sp->al = sp->w0 = 0.25 * EndOrNext(curve, band.right);
  }

  for (int attempt = 1; attempt <= attempts; ++attempt) {
    context.Write(attempt, rule.name, type, "\n");
    if (type == 2) {
      sp->C = 1.0 / s;
      sp->A1 = 1.0 - 1.0 / s;
      sp->A2 = 2.0 * std::sqrt(1.0 - sp->A1) + sp->A1 - 2.0;
    } else if (type == 1) {
      sp->C = 1.0;
      sp->A1 = 0.0;
      sp->al = fP / std::sqrt(q * q + 1.0);
      sp->w0 = sp->al * q;
      sp->A2 = (2.0 / q) * (1.0 / s - 1.0);
    } else {
      sp->C = 1.0;
      sp->A1 = 1.0 / s - 1.0;
      const double root = 1.0 - std::sqrt(1.0 / s);
      sp->A2 = -root * root;
    }
    if (BandPasses(curve, band.left, band.right, column, *sp)) return;
    if (type == 2) {
      s = 1.0 + rule.growType2 * (s - 1.0);
      sp->al *= rule.shrinkType2;
      sp->w0 = sp->al;
    } else if (type == 1) {
      s = 1.0 + 1.1 * (s - 1.0);
      q *= 0.9;
    } else {
      s = 1.0 + 1.05 * (s - 1.0);
      sp->al *= 1.5;
      sp->w0 = sp->al;
    }
  }
}

// g(s) = C + (b1 s + b0) / (s^2 + 2 al s + al^2 + w0^2) with
// b1 = al A1 + w0 A2 and b0 = (al^2 + w0^2) A1; its poles are -al +/- j w0,
// and the residue at -al + j w0 is (b1 p + b0) / (2 j w0).
Complex GResidue(const Sp& sp, Complex pole) {
  const double b1 = sp.al * sp.A1 + sp.w0 * sp.A2;
  const double b0 = (sp.al * sp.al + sp.w0 * sp.w0) * sp.A1;
  return (b1 * pole + b0) / Complex(0.0, 2.0 * sp.w0);
}

// g(s) at a complex s.
Complex GAt(const Sp& sp, Complex s) {
  const double b1 = sp.al * sp.A1 + sp.w0 * sp.A2;
  const double b0 = (sp.al * sp.al + sp.w0 * sp.w0) * sp.A1;
  const Complex d = s * s + 2.0 * sp.al * s + (sp.al * sp.al + sp.w0 * sp.w0);
  return sp.C + (b1 * s + b0) / d;
}

// The rational part (no delay) of a constant and a pole list at s = j f.
Complex RationalValue(double d, const PoleList& terms, double f) {
  const Complex one(1.0, 0.0), jf(0.0, f);
  Complex h(d, 0.0);
  for (const PoleTerm& t : terms) {
    const Complex p = t.GetPole();
    const Complex r = t.GetResidue00();
    if (t.IsReal()) {
      h += Complex(r.re, 0.0) / (one + jf / p);
    } else {
      h += 0.5 * (r / (one + jf / p) + Conj(r) / (one + jf / Conj(p)));
    }
  }
  return h;
}

}  // namespace

Complex SuppressionValue(const Sp& sp, double f) { return GAt(sp, Complex(0.0, f)); }

// F(f) = |g(j f)|^2 in closed form per type (see Search): type 0 with the
// full numerator, type 1 with A1 = 0 and C = 1, type 2 with al = w0.
double SuppressionFactor(const Sp& sp, double f) {
  const double al2 = sp.al * sp.al, w02 = sp.w0 * sp.w0, f2 = f * f;
  switch (sp.type) {
    case 0: {
      const double nr = (al2 + w02) * (sp.A1 + 1.0) - f2;
      const double ni = f * (sp.w0 * sp.A2 + sp.al * (sp.A1 + 2.0));
      const double dr = al2 + w02 - f2;
      return (nr * nr + ni * ni) / (dr * dr + 4.0 * al2 * f2);
    }
    case 1: {
      const double dr = w02 + al2 - f2;
      return 1.0 + sp.A2 * (4.0 + sp.w0 * sp.A2 / sp.al) * sp.w0 * sp.al * f2 /
                       (dr * dr + 4.0 * al2 * f2);
    }
    case 2: {
      const double x = f / sp.al;
      const double q = x * x * x * x / 4.0;
      return ((1.0 - sp.A1) * (1.0 - sp.A1) * q + 1.0) / (1.0 + q);
    }
    default: FatalError(__LINE__);
  }
}

int FindSupParams(const PassivityCurve& curve, const Band& band, Sp* sp,
                  const RunContext& context) {
  WarnLarge(curve[band.peak].measure, context);
  // Dominant column: the largest |S(i, k)|^2 at the peak, unless the rest of
  // the row is large somewhere on the curve.
  const std::vector<double>& atPeak = curve[band.peak].values;
  int column = 0;
  for (int k = 1; k < static_cast<int>(atPeak.size()); ++k) {
    if (atPeak[k] > atPeak[column]) column = k;
  }
  double rest = 0.0;
  for (const PassivityPoint& p : curve) rest = std::max(rest, p.measure - p.values[column]);
  if (rest > kRestLimit) {
    column = -1;
    rest = 0.0;
  }
  const SearchRule rule{
      "-th iteration in FindSupParams; type = ", kRowAttempts, kRowAttempts, 1.1, 1.0, 1.2};
  Search(curve, band, column, rest, rule, sp, context);
  return column;
}

void FindSupParamsGlobal(const PassivityCurve& curve, Band band, bool hasModel, double bandTop,
                         Sp* sp, const RunContext& context) {
  WarnLarge(curve[band.peak].measure, context);
  const bool type2 = band.right == static_cast<int>(curve.size()) - 1;
  if (type2) {
    // Keep the roll-off above the fitted band.
    while (bandTop > curve[band.left].frequency && band.left + 1 < band.right) ++band.left;
  }
  const SearchRule rule{"-th iteration in FindSupParamsGlobal; type = ",
                        hasModel ? 3 : 1,
                        hasModel ? 12 : 4,
                        1.05,
                        0.7,
                        1.1};
  Search(curve, band, -1, 0.0, rule, sp, context);
}

// H g as a pole/residue sum, by partial fractions: every pole p of H keeps
// its place with residue r g(p); the constant becomes C d; and g's own pole
// p_g collects Res_g(p_g) H(p_g) = Res_g (d + sum r / (p_g - p)). The pair
// of g is stored once as (al, -w0), as the model stores pairs.
bool ModifyPoleByMult(FitterState& state, int i, int j, const Sp& sp, const RunContext& context) {
  Model& model = *state.model;
  if (!model.individual() || model.elementPoles.empty()) return false;
  if (!(sp.w0 != 0.0)) return false;  // a double pole of g
  const std::size_t own = model.Index(i, j);
  const std::size_t listIndex = (state.network.symmetric && i < j) ? model.Index(j, i) : own;
  PoleList& terms = model.elementPoles[listIndex];
  const double d = model.constant[own];
  const Complex gPole(-sp.al, sp.w0);  // the pole of g in the upper half plane
  const Complex gResidue = GResidue(sp, gPole);

  // Reference value before the change.
  const double fRef = std::hypot(sp.al, sp.w0);
  const Complex reference = RationalValue(d, terms, fRef) * SuppressionValue(sp, fRef);

  // Residue of H g at g's pole: Res_g * (d + sum over H's poles r / (p_g - p)).
  Complex collected = d * gResidue;
  PoleList updated = terms;
  for (PoleTerm& t : updated) {
    const Complex P = t.GetPole();
    if (P.re == 0.0 && P.im == 0.0) continue;
    const Complex R = t.GetResidue00();
    if (t.IsReal()) {
      const Complex p(-P.re, 0.0);
      const Complex gap = gPole - p;
      if (Abs(gap) == 0.0) return false;
      collected += gResidue * (R.re * P.re) / gap;
      t.SetResidue00({R.re * GAt(sp, p).re, 0.0});
    } else {
      // The pair's poles -P and -conj(P) with residues R P / 2 and conj.
      const Complex p1 = -P, p2 = -Conj(P);
      const Complex r1 = 0.5 * R * P, r2 = Conj(r1);
      const Complex gap1 = gPole - p1, gap2 = gPole - p2;
      if (Abs(gap1) == 0.0 || Abs(gap2) == 0.0) return false;
      collected += gResidue * (r1 / gap1 + r2 / gap2);
      t.SetResidue00(R * GAt(sp, p1));
    }
  }

  // Scale the constant at both places of a symmetric pair.
  model.constant[own] = sp.C * d;
  if (state.network.symmetric && i != j) model.constant[model.Index(j, i)] = sp.C * d;
  if (collected.re != 0.0 || collected.im != 0.0) {
    // Stored as the pair (al, -w0): residue 2 rho / P.
    PoleTerm added(1);
    const Complex P(sp.al, -sp.w0);
    added.SetPole(P);
    added.SetResidue00(2.0 * collected / P);
    updated.push_back(added);
  }
  terms = std::move(updated);
  model.id.Renew();

  const Complex now = RationalValue(model.constant[own], terms, fRef);
  const double deviation = Abs(now - reference);
  if (deviation > kCheckTolerance && deviation > kCheckTolerance * Abs(reference)) {
    context.Write(" Error in ModifyPoleByMult = ", deviation, "\n", " pls alpha= ", sp.al, "\n",
                  " pls omega= ", -sp.w0, "\n", " Sp->C= ", sp.C, "\n", " Sp->A1= ", sp.A1, "\n",
                  " Sp->A2= ", sp.A2, "\n", " Sp->al= ", sp.al, "\n", " Sp->w0= ", sp.w0, "\n");
  }
  return true;
}

namespace {

constexpr double kCoincidence = 1e-3;
constexpr double kCornerStep = 1.01;
constexpr int kMaxCornerSteps = 100;

// The elements a suppression concerns.
std::vector<std::pair<int, int>> Concerned(const FitterState& state, int row, int column) {
  std::vector<std::pair<int, int>> out;
  const int n = state.model->n;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (row >= 0 && (i != row || (column >= 0 && j != column))) continue;
      if (row < 0 && state.network.symmetric && j > i) continue;
      out.emplace_back(i, j);
    }
  }
  return out;
}

bool Coincides(const FitterState& state, const std::vector<std::pair<int, int>>& elements,
               const Sp& sp) {
  const Model& model = *state.model;
  const Complex gPole(-sp.al, sp.w0);
  for (auto [i, j] : elements) {
    const std::size_t k =
        (state.network.symmetric && i < j) ? model.Index(j, i) : model.Index(i, j);
    for (const PoleTerm& t : model.elementPoles[k]) {
      const Complex p = -t.GetPole();
      if (Abs(gPole - p) < kCoincidence * Abs(gPole) ||
          Abs(gPole - Conj(p)) < kCoincidence * Abs(gPole)) {
        return true;
      }
    }
  }
  return false;
}

void AvoidCoincidentPoles(const FitterState& state,
                          const std::vector<std::pair<int, int>>& elements, Sp& sp) {
  if (!state.model->individual() || state.model->elementPoles.empty()) return;
  for (int step = 0; step < kMaxCornerSteps && Coincides(state, elements, sp); ++step) {
    sp.al *= kCornerStep;
    sp.w0 *= kCornerStep;
  }
}

}  // namespace

bool SuppressModel(FitterState& state, Sp& sp, const RunContext& context) {
  const int n = state.model->n;
  AvoidCoincidentPoles(state, Concerned(state, -1, -1), sp);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (state.network.symmetric && j > i) continue;
      if (!ModifyPoleByMult(state, i, j, sp, context)) return false;
    }
  }
  return true;
}

bool SuppressRow(FitterState& state, int row, int column, Sp& sp, const RunContext& context) {
  AvoidCoincidentPoles(state, Concerned(state, row, column), sp);
  if (column >= 0) return ModifyPoleByMult(state, row, column, sp, context);
  for (int k = 0; k < state.model->n; ++k) {
    if (!ModifyPoleByMult(state, row, k, sp, context)) return false;
  }
  return true;
}

void SuppressData(SampledData& data, const Sp& sp) {
  for (MatrixView p : data.MutablePoints()) {
    const Complex g = SuppressionValue(sp, p.frequency());
    const int n = p.order();
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) p.At(i, j) = p.At(i, j) * g;
    }
  }
}

bool HighFrequencyRollOff(FitterState& state, PassivityCurve& curve, double threshold,
                          bool* passive, const RunContext& context) {
  const double fH = 100.0 * state.settings.upperBandFrequency;
  std::size_t start = 0;
  while (start < curve.size() && curve[start].frequency < fH) ++start;
  if (start >= curve.size()) return false;
  bool excess = false;
  int maxima = 0;
  for (std::size_t k = start + 1; k < curve.size(); ++k) {
    const double m = curve[k].measure;
    if (m > threshold) excess = true;
    if (k + 1 < curve.size() && m > threshold && m > curve[k - 1].measure &&
        m > curve[k + 1].measure) {
      ++maxima;
    }
  }
  if (!excess || maxima < 3) return false;
  Sp sp;
  sp.type = 2;
  sp.C = 0.0;
  sp.A1 = 1.0;
  sp.A2 = -1.0;
  sp.al = sp.w0 = fH * std::pow(48.99999999999996, 0.25) / std::numbers::sqrt2;
  const bool ok = SuppressModel(state, sp, context);
  *passive = true;
  for (PassivityPoint& p : curve) {
    p.measure *= SuppressionFactor(sp, p.frequency);
    if (p.measure > threshold) *passive = false;
  }
  context.Write(" Global correction done at: ", std::hypot(sp.al, sp.w0), " rc=", ok ? 1 : 0, "\n");
  return true;
}

}  // namespace cfit
