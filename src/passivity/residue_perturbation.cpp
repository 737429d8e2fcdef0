#include "passivity/residue_perturbation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>

#include "fit/model_evaluation.h"
#include "numeric/cholesky.h"
#include "numeric/nonnegative_qp.h"
#include "numeric/singular_value_clip.h"
#include "numeric/symmetric_eigen.h"

namespace cfit {

namespace {

using Cx = std::complex<double>;

// Relative ridge added to each Gram block: directions the data band cannot
// see still cost a little, so the perturbation stays bounded.
constexpr double kRidge = 1e-9;
// Singular values (eigenvalues) within this many margins of the limit are
// constrained too, so that they do not overtake the constrained ones.
constexpr double kNearLimit = 10.0;
// Singular values (eigenvalues) beyond the target paired in the constraints
// at one frequency (see ConstraintsAt).
constexpr std::size_t kPairedValues = 4;
// The shares of the objective's weight put on a log sweep beyond the data
// band, and its points. The light share is tried first: a model fitted on a
// narrow band often has residues whose terms nearly cancel over the band and
// add up to a large response far from it (a large constant, a large value at
// 0 Hz); making such a model passive needs large changes beyond the band,
// and a heavy weight on them would be traded for changes inside it. When
// the light share does not end passive (steps that the objective barely
// sees can overshoot beyond the band at every linearisation), the heavy one
// is taken from the start.
constexpr double kLightOutOfBandWeight = 1e-8;
constexpr double kOutOfBandWeight = 0.01;
constexpr int kOutOfBandPoints = 200;
// Steps and constraints allowed to the light share before the heavy one is
// tried (a step's dual matrix costs the square of its constraints, and
// constraints gather over the steps; a 32-port model near the limit at
// many frequencies needs thousands).
constexpr int kLightIterations = 60;
constexpr std::size_t kLightConstraints = 8000;
// Sampled points beyond the limit by less than this (S: on the largest
// singular value; Y/Z: this part of the response's magnitude) count as
// passive, as rounding at the certificate's own tolerance does: a lossless
// model sits on the limit.
constexpr double kSweepTolerance = 1e-9;
// Points of the log sweep between certificates.
constexpr int kSweepPoints = 2000;
// The shortest part of a step taken when the whole one would end further
// beyond the limit (see StepFraction).
constexpr double kMinStepFraction = 1.0 / 64.0;
// Steps a constraint point stays with no active constraint before it is
// dropped.
constexpr int kIdleSteps = 3;
// Cutting-plane rounds before the steps (see CuttingPlaneRounds), and the
// rounds a constraint stays there with a zero multiplier.
constexpr int kCuttingRounds = 30;
constexpr int kIdleRounds = 5;
// Constraints the rounds may gather (the dual's matrix holds their square).
constexpr std::size_t kCuttingConstraints = 4000;
// The largest excess beyond the limit (S; for Y/Z this part of the
// response's magnitude) left to the steps without rounds.
constexpr double kCuttingSmall = 1e-3;
// The rounds stop when the model is still more than kCuttingFar beyond the
// limit (same units) and their last kCuttingProbe have not brought its
// least excess below kCuttingProgress of the least before them. The last
// round's model is the steps' start unless it ends that far beyond.
constexpr int kCuttingProbe = 5;
constexpr double kCuttingFar = 0.2;
constexpr double kCuttingProgress = 0.5;

// One real unknown: the real or imaginary part of one stored residue, or
// (term kConstantTerm) the element's constant.
constexpr int kConstantTerm = -1;
struct Unknown {
  int term = 0;
  bool imaginary = false;
};

// The frequency that stands for the limit f -> infinity, where the response
// is the constant matrix alone (see Section and Response).
constexpr double kInfinite = std::numeric_limits<double>::infinity();
// The margin kept there, in margins: a constant with a singular value
// (S) or an eigenvalue of its Hermitian part (Y/Z) within 1e-5 of the limit
// makes the certificate's half-size matrix unusable, and the Hamiltonian
// of twice the order costs eight times as much at every certificate after.
constexpr double kInfiniteMargin = 100.0;

double MarginAt(double f, double margin) {
  return std::isinf(f) ? kInfiniteMargin * margin : margin;
}

// The unknowns of one stored matrix element (i >= j with a symmetric
// matrix, whose perturbation then also reaches (j, i)).
struct Group {
  int i = 0;
  int j = 0;
  bool mirrored = false;  // symmetric and off the diagonal
  std::vector<Unknown> unknowns;
  std::vector<double> chol;  // Cholesky factor of the Gram block, m x m
};

const PoleList& TermsOf(const Model& m, const Group& g) {
  return m.individual() ? m.elementPoles[m.Index(g.i, g.j)] : m.commonPoles;
}

// 1 / (1 + j f / p) = p / (p + j f), by hand: the sweeps evaluate the model
// at thousands of points per step, and the library's complex division
// (scaled against overflow) was most of their time.
Cx Section(Cx p, double f) {
  // At infinite frequency every pole's term has died away, except one that
  // stands for the constant (as the realisation counts it).
  if (std::isinf(f)) {
    const bool constant =
        std::fabs(p.real()) > kConstantPoleBound || std::fabs(p.imag()) > kConstantPoleBound;
    return constant ? Cx(1.0, 0.0) : Cx(0.0, 0.0);
  }
  const double re = p.real(), im = p.imag() + f;
  const double d = re * re + im * im;
  // A pole that stands for the constant: 1 at any finite frequency.
  if (!std::isfinite(d)) return {1.0, 0.0};
  return {(p.real() * re + p.imag() * im) / d, (p.imag() * re - p.real() * im) / d};
}

// The change of the element's response per unit of the unknown at f (Hz).
Cx Basis(const PoleTerm& term, bool imaginary, double f) {
  const Complex p = term.GetPole();
  const Cx g1 = Section(Cx(p.re, p.im), f);
  if (term.IsReal()) return g1;
  const Cx g2 = Section(Cx(p.re, -p.im), f);
  return imaginary ? Cx(0.0, 0.5) * (g1 - g2) : 0.5 * (g1 + g2);
}

// The change of the element's response per unit of the unknown at f (Hz).
Cx Basis(const PoleList& terms, const Unknown& u, double f) {
  if (u.term == kConstantTerm) return {1.0, 0.0};
  return Basis(terms[u.term], u.imaginary, f);
}

// Whether the element's constant moves with its residues: a fitted
// constant does (the fit chose it together with the residues, and a large
// one that they cancel inside the band can only come down with them); a
// constant fixed by the caller (no asymptote) does not.
bool FreeConstant(const Model& m, const ElementTable* elements, int i, int j) {
  if (m.constant.size() != static_cast<std::size_t>(m.n) * m.n) return false;
  return elements == nullptr || elements->AsymptoteModeAt(i, j, i, j) != kNoAsymptote;
}

bool AnyFreeConstant(const Model& m, const ElementTable* elements) {
  for (int i = 0; i < m.n; ++i) {
    for (int j = 0; j < m.n; ++j) {
      if (FreeConstant(m, elements, i, j)) return true;
    }
  }
  return false;
}

std::vector<Group> Groups(const Model& m, const ElementTable* elements) {
  std::vector<Group> groups;
  for (int i = 0; i < m.n; ++i) {
    for (int j = 0; j < m.n; ++j) {
      if (m.symmetric && j > i) continue;
      Group g;
      g.i = i;
      g.j = j;
      g.mirrored = m.symmetric && i != j;
      const PoleList& terms = TermsOf(m, g);
      for (int k = 0; k < static_cast<int>(terms.size()); ++k) {
        if (Abs(terms[k].GetPole()) >= kConstantPoleBound) continue;
        g.unknowns.push_back({k, false});
        if (!terms[k].IsReal()) g.unknowns.push_back({k, true});
      }
      if (FreeConstant(m, elements, i, j)) g.unknowns.push_back({kConstantTerm, false});
      if (!g.unknowns.empty()) groups.push_back(std::move(g));
    }
  }
  return groups;
}

// A frequency of the objective with its weight.
struct Weighted {
  double f;
  double weight;
};

// The Gram block of a group over the data frequencies, with the ridge, as
// its Cholesky factor.
bool Factor(const Model& m, Group& g, const std::vector<Weighted>& frequencies) {
  const PoleList& terms = TermsOf(m, g);
  const int size = static_cast<int>(g.unknowns.size());
  std::vector<Cx> phi(static_cast<std::size_t>(size));
  std::vector<double> gram(static_cast<std::size_t>(size) * size, 0.0);
  for (const Weighted& w : frequencies) {
    for (int k = 0; k < size; ++k) {
      phi[k] = Basis(terms, g.unknowns[k], w.f);
    }
    for (int r = 0; r < size; ++r) {
      for (int c = 0; c <= r; ++c) {
        gram[r * size + c] += w.weight * (std::conj(phi[r]) * phi[c]).real();
      }
    }
  }
  double trace = 0.0;
  for (int k = 0; k < size; ++k) trace += gram[k * size + k];
  const double ridge = kRidge * std::max(trace / size, 1e-300);
  const double weight = g.mirrored ? 2.0 : 1.0;
  for (int r = 0; r < size; ++r) {
    gram[r * size + r] += ridge;
    for (int c = 0; c <= r; ++c) {
      gram[r * size + c] *= weight;
      gram[c * size + r] = gram[r * size + c];
    }
  }
  g.chol = std::move(gram);
  return Cholesky(size, g.chol);
}

// The model's response at f, N x N row-major, delays left out (the copy the
// perturbation works on has none). The same sum as EvaluateElement, with
// each pole's sections computed once for all elements of a common-pole
// model.
std::vector<Cx> Response(const Model& m, const ElementTable* elements, double f) {
  const int n = m.n;
  std::vector<Cx> h(static_cast<std::size_t>(n) * n);
  const auto start = [&](int i, int j) {
    const std::size_t own = m.Index(i, j);
    const double d = m.constant.empty() ? 0.0 : m.constant[own];
    // At infinite frequency the proportional term is left out: an S one
    // is dropped before the perturbation starts, and a Y/Z one is made
    // symmetric, so that it adds nothing to the Hermitian part.
    const bool proportional = !m.proportional.empty() && elements != nullptr &&
                              elements->AsymptoteModeAt(i, j, i, j) == kConstantAndProportional &&
                              !std::isinf(f);
    return Cx(d, proportional ? f * m.proportional[own] : 0.0);
  };
  if (!m.individual()) {
    std::vector<Cx> g1, g2;
    for (const PoleTerm& t : m.commonPoles) {
      const Complex p = t.GetPole();
      g1.push_back(0.5 * Section(Cx(p.re, p.im), f));
      g2.push_back(0.5 * Section(Cx(p.re, -p.im), f));
    }
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        Cx v = start(i, j);
        for (std::size_t k = 0; k < g1.size(); ++k) {
          const Complex r = m.commonPoles[k].GetResidue(i, j);
          v += Cx(r.re, r.im) * g1[k] + Cx(r.re, -r.im) * g2[k];
        }
        h[static_cast<std::size_t>(i) * n + j] = v;
      }
    }
    return h;
  }
  const PoleList none;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      // A symmetric matrix keeps its lists in the lower triangle.
      const bool upper = m.symmetric && i < j;
      const PoleList& terms =
          m.elementPoles.empty() ? none : m.elementPoles[upper ? m.Index(j, i) : m.Index(i, j)];
      Cx v = start(i, j);
      for (const PoleTerm& t : terms) {
        const Complex p = t.GetPole();
        const Complex r = t.GetResidue00();
        if (t.IsReal()) {
          v += r.re * Section(Cx(p.re, p.im), f);
        } else {
          v += 0.5 * (Cx(r.re, r.im) * Section(Cx(p.re, p.im), f) +
                      Cx(r.re, -r.im) * Section(Cx(p.re, -p.im), f));
        }
      }
      h[static_cast<std::size_t>(i) * n + j] = v;
    }
  }
  return h;
}

// A linearised constraint at frequency f: sign * Re(a^H dH(f) b) <= rhs,
// where dH is the change of the response the unknowns make.
struct Constraint {
  double f = 0.0;
  std::vector<Cx> a, b;
  double sign = 1.0;
  double rhs = 0.0;

  // The constraint reads Re(Weight(g) * dH_ij) over the groups.
  Cx Weight(const Group& g) const {
    Cx w = std::conj(a[g.i]) * b[g.j];
    if (g.mirrored) w += std::conj(a[g.j]) * b[g.i];
    return sign * w;
  }
};

// The constraint's row in the unknowns of group g.
void Row(const Model& m, const Group& g, const Constraint& c, double* row) {
  const PoleList& terms = TermsOf(m, g);
  const Cx weight = c.Weight(g);
  for (std::size_t k = 0; k < g.unknowns.size(); ++k) {
    row[k] = (weight * Basis(terms, g.unknowns[k], c.f)).real();
  }
}

// The constraints at one frequency: every singular value of H above
// 1 - kNearLimit margin (S), every eigenvalue of the Hermitian part below
// kNearLimit margins (Y/Z).
bool ConstraintsAt(const Model& m, const ElementTable* elements, double f, bool scattering,
                   double margin, std::vector<Constraint>* out) {
  margin = MarginAt(f, margin);
  const int n = m.n;
  const std::vector<Cx> h = Response(m, elements, f);
  const std::vector<Cx> p = PassivityMatrix(n, h, scattering);
  std::vector<double> values;
  std::vector<std::vector<Cx>> vectors;
  if (!HermitianEigen(n, p, &values, &vectors)) return false;
  // The left and right vectors and the value of each constrained singular
  // value (eigenvalue), and those beyond the target.
  std::vector<std::vector<Cx>> left, right;
  std::vector<double> value;
  std::vector<std::size_t> beyond;
  for (int k = 0; k < n; ++k) {
    if (scattering) {
      const double sigma = std::sqrt(std::max(values[k], 0.0));
      if (sigma < 1.0 - kNearLimit * margin || sigma == 0.0) continue;
      std::vector<Cx> u(n);
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) u[i] += h[i * n + j] * vectors[k][j];
        u[i] /= sigma;
      }
      if (sigma > 1.0 - margin) beyond.push_back(value.size());
      left.push_back(std::move(u));
      right.push_back(vectors[k]);
      value.push_back(sigma);
    } else {
      const double lambda = values[k];
      if (lambda > kNearLimit * margin) continue;
      if (lambda < margin) beyond.push_back(value.size());
      left.push_back(vectors[k]);
      right.push_back(vectors[k]);
      value.push_back(lambda);
    }
  }
  const double sign = scattering ? 1.0 : -1.0;
  const auto add = [&](const std::vector<Cx>& a, const std::vector<Cx>& b, double now) {
    out->push_back({f, a, b, sign, scattering ? 1.0 - margin - now : now - margin});
  };
  for (std::size_t k = 0; k < value.size(); ++k) add(left[k], right[k], value[k]);
  // Singular values beyond the target that lie close together turn into
  // each other under a change: the change's off-diagonal part between
  // them, which the constraints above do not see, moves the largest of
  // them to first order. Unit combinations of each pair bound it: with
  // a = (u_k + p u_l) / sqrt 2 and b = (v_k + p v_l) / sqrt 2 for p = +-1,
  // +-j, Re(a^H H b) = (sigma_k + sigma_l) / 2 now and never exceeds
  // sigma_max (the same with w for the eigenvalues). The worst few only.
  if (beyond.size() > kPairedValues) {
    if (!scattering) beyond.erase(beyond.begin(), beyond.end() - kPairedValues);
    beyond.resize(kPairedValues);
  }
  const double half = std::sqrt(0.5);
  for (std::size_t x = 0; x < beyond.size(); ++x) {
    for (std::size_t y = x + 1; y < beyond.size(); ++y) {
      const std::size_t k = beyond[x], l = beyond[y];
      for (const Cx phase : {Cx(1.0, 0.0), Cx(-1.0, 0.0), Cx(0.0, 1.0), Cx(0.0, -1.0)}) {
        std::vector<Cx> a(n), b(n);
        for (int i = 0; i < n; ++i) {
          a[i] = half * (left[k][i] + phase * left[l][i]);
          b[i] = half * (right[k][i] + phase * right[l][i]);
        }
        add(a, b, 0.5 * (value[k] + value[l]));
      }
    }
  }
  return true;
}

// Calls put(a, b, z_a . z_b) for the rows a <= b of z (`count` rows of `len`
// values each, contiguous). Four sums at a time keep the pipeline busy.
template <class Put>
void RowDots(const double* z, std::size_t count, std::size_t len, Put put) {
  for (std::size_t a = 0; a < count; ++a) {
    const double* za = z + a * len;
    std::size_t b = a;
    for (; b + 4 <= count; b += 4) {
      const double* w0 = z + b * len;
      const double* w1 = w0 + len;
      const double* w2 = w1 + len;
      const double* w3 = w2 + len;
      double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
      for (std::size_t r = 0; r < len; ++r) {
        s0 += za[r] * w0[r];
        s1 += za[r] * w1[r];
        s2 += za[r] * w2[r];
        s3 += za[r] * w3[r];
      }
      put(a, b, s0), put(a, b + 1, s1), put(a, b + 2, s2), put(a, b + 3, s3);
    }
    for (; b < count; ++b) {
      const double* wb = z + b * len;
      double s = 0.0;
      for (std::size_t r = 0; r < len; ++r) s += za[r] * wb[r];
      put(a, b, s);
    }
  }
}

// The dual's matrix M = sum_e Y_e^T Y_e, Y_e = L_e^-1 A_e^T (m_e x K) for
// the constraints' rows A_e in group e's unknowns, group by group; keeps
// each Y_e (row-major) for the step.
std::vector<double> PerGroupDual(const Model& m, const std::vector<Group>& groups,
                                 const std::vector<Constraint>& constraints,
                                 std::vector<std::vector<double>>* y) {
  const std::size_t k = constraints.size();
  std::vector<double> mm(k * k, 0.0);
  y->assign(groups.size(), {});
  for (std::size_t e = 0; e < groups.size(); ++e) {
    const int size = static_cast<int>(groups[e].unknowns.size());
    std::vector<double>& ye = (*y)[e];
    ye.assign(static_cast<std::size_t>(size) * k, 0.0);
    // The constraints that reach the group (one at a frequency where the
    // group's ports carry no part of the singular vectors has a zero row),
    // their columns of Y_e side by side in z: each entry of M is then
    // touched once per group rather than once per unknown.
    std::vector<std::size_t> reach;
    std::vector<double> z, col(static_cast<std::size_t>(size));
    for (std::size_t c = 0; c < k; ++c) {
      if (constraints[c].Weight(groups[e]) == 0.0) continue;
      Row(m, groups[e], constraints[c], col.data());
      ForwardSolve(size, groups[e].chol, col.data());
      for (int r = 0; r < size; ++r) ye[static_cast<std::size_t>(r) * k + c] = col[r];
      reach.push_back(c);
      z.insert(z.end(), col.begin(), col.end());
    }
    RowDots(z.data(), reach.size(), static_cast<std::size_t>(size),
            [&](std::size_t a, std::size_t b, double s) { mm[reach[a] * k + reach[b]] += s; });
  }
  return mm;
}

// Constraints per run in the shared-pole dual (see SharedPoleDual).
constexpr std::size_t kDualRun = 64;

// rr += xr yr, ii += xi yi, ri += xr yi, ir += xi yr over one run (a fixed
// length lets the compiler use vector instructions without a remainder).
void CrossRun(double xr, double xi, const double* __restrict yr, const double* __restrict yi,
              double* __restrict rr, double* __restrict ii, double* __restrict ri,
              double* __restrict ir) {
  for (std::size_t t = 0; t < kDualRun; ++t) {
    rr[t] += xr * yr[t];
    ii[t] += xi * yi[t];
    ri[t] += xr * yi[t];
    ir[t] += xi * yr[t];
  }
}

// The same matrix for a common-pole model, without a sum over the groups.
// Every group has the same unknowns, Gram matrix omega_e G (omega_e = 2 for
// a mirrored group, else 1, see Factor) and row Re(w_ae phi_a) for a
// constraint a, with phi_a the unknowns' basis at its frequency and w_ae its
// weight on the group. With p_a + j q_a = L^-1 phi_a (G = L L^T):
//   M_ab = (p_a.p_b) R - (p_a.q_b) X1 - (q_a.p_b) X2 + (q_a.q_b) I,
// R = sum_e Re w_ae Re w_be / omega_e, I the same of the imaginary parts,
// X1 = sum Re w_ae Im w_be / omega_e, X2 = sum Im w_ae Re w_be / omega_e.
// These follow from c1 = sum_e w_ae conj(w_be) / omega_e = R + I + j (X2 -
// X1) and c2 = sum_e w_ae w_be / omega_e = R - I + j (X1 + X2), and with
// w_ae = s_a conj(a_i) b_j over all elements (i, j) the sums factor into
// sums over the ports:
//   c1 = s_a s_b (sum conj(a_a) a_b) (sum b_a conj(b_b)),
//   c2 = s_a s_b (sum conj(a_a) conj(a_b)) (sum b_a b_b);
// over the lower triangle of a symmetric matrix (w = s (conj(a_i) b_j +
// conj(a_j) b_i) off the diagonal, omega = 2) each is the mean of that and
// of the same with the roles of a_i and b_i swapped in the second factor:
//   c1' = s_a s_b (sum conj(a_a) conj(b_b)) (sum b_a a_b),
//   c2' = s_a s_b (sum conj(a_a) b_b) (sum b_a conj(a_b)).
// Keeps p and q (K x m, row-major) for the step.
std::vector<double> SharedPoleDual(const Model& m, const Group& g, bool symmetric,
                                   const std::vector<Constraint>& constraints,
                                   std::vector<double>* p, std::vector<double>* q) {
  const std::size_t k = constraints.size();
  const std::size_t size = g.unknowns.size();
  const std::size_t n = static_cast<std::size_t>(m.n);
  const PoleList& terms = TermsOf(m, g);
  p->assign(k * size, 0.0);
  q->assign(k * size, 0.0);
  for (std::size_t c = 0; c < k; ++c) {
    for (std::size_t r = 0; r < size; ++r) {
      const Cx phi = Basis(terms, g.unknowns[r], constraints[c].f);
      (*p)[c * size + r] = phi.real();
      (*q)[c * size + r] = phi.imag();
    }
    ForwardSolve(static_cast<int>(size), g.chol, p->data() + c * size);
    ForwardSolve(static_cast<int>(size), g.chol, q->data() + c * size);
  }
  // Every entry needs the products of one constraint's vectors (and basis
  // values) with another's, summed over the ports (and unknowns). They are
  // formed for one constraint against a run of others at a time, from
  // copies stored by component (row i: component i of every constraint), so
  // that each sum is a loop along rows that the compiler turns into vector
  // operations; the run's partial sums stay in cache.
  // Rows are padded with a run of zeros, so that every loop has the run's
  // fixed length: a run starts at any constraint (the diagonal's) and may
  // reach kDualRun - 1 past the last.
  const std::size_t stride = k + kDualRun;
  std::vector<double> are(n * stride), aim(n * stride), bre(n * stride), bim(n * stride);
  for (std::size_t c = 0; c < k; ++c) {
    for (std::size_t i = 0; i < n; ++i) {
      are[i * stride + c] = constraints[c].a[i].real();
      aim[i * stride + c] = constraints[c].a[i].imag();
      bre[i * stride + c] = constraints[c].b[i].real();
      bim[i * stride + c] = constraints[c].b[i].imag();
    }
  }
  std::vector<double> pt(size * stride), qt(size * stride);
  for (std::size_t c = 0; c < k; ++c) {
    for (std::size_t r = 0; r < size; ++r) {
      pt[r * stride + c] = (*p)[c * size + r];
      qt[r * stride + c] = (*q)[c * size + r];
    }
  }
  // Partial sums over a run: for x of constraint a and y of constraint b
  // (x, y each a vector or a basis row), the sums of xr yr, xi yi, xr yi
  // and xi yr.
  enum Sum { kAA, kBB, kAB, kBA, kPQ, kSums };
  std::vector<double> sums(static_cast<std::size_t>(kSums) * 4 * kDualRun);
  const auto part = [&](Sum which, int component) {
    return sums.data() + (static_cast<std::size_t>(which) * 4 + component) * kDualRun;
  };
  const auto run = [&](Sum which, double xr, double xi, const double* yr, const double* yi) {
    CrossRun(xr, xi, yr, yi, part(which, 0), part(which, 1), part(which, 2), part(which, 3));
  };
  std::vector<double> mm(k * k, 0.0);
  for (std::size_t a = 0; a < k; ++a) {
    for (std::size_t b0 = a; b0 < k; b0 += kDualRun) {
      const std::size_t len = std::min(kDualRun, k - b0);
      std::fill(sums.begin(), sums.end(), 0.0);
      for (std::size_t i = 0; i < n; ++i) {
        const std::size_t row = i * stride;
        run(kAA, are[row + a], aim[row + a], &are[row + b0], &aim[row + b0]);
        run(kBB, bre[row + a], bim[row + a], &bre[row + b0], &bim[row + b0]);
        if (symmetric) {
          run(kAB, are[row + a], aim[row + a], &bre[row + b0], &bim[row + b0]);
          run(kBA, bre[row + a], bim[row + a], &are[row + b0], &aim[row + b0]);
        }
      }
      for (std::size_t r = 0; r < size; ++r) {
        const std::size_t row = r * stride;
        run(kPQ, pt[row + a], qt[row + a], &pt[row + b0], &qt[row + b0]);
      }
      const Constraint& ca = constraints[a];
      for (std::size_t t = 0; t < len; ++t) {
        const auto at = [&](Sum which, int component) { return part(which, component)[t]; };
        // conj(x) y, x conj(y) and x y from the four real sums.
        const auto conjFirst = [&](Sum w) { return Cx(at(w, 0) + at(w, 1), at(w, 2) - at(w, 3)); };
        const auto conjSecond = [&](Sum w) { return Cx(at(w, 0) + at(w, 1), at(w, 3) - at(w, 2)); };
        const auto plain = [&](Sum w) { return Cx(at(w, 0) - at(w, 1), at(w, 2) + at(w, 3)); };
        // a_a^H a_b, a_a^T a_b, b_a^T conj(b_b), b_a^T b_b; when symmetric
        // also a_a^T b_b, a_a^H b_b, b_a^T a_b and b_a^T conj(a_b).
        Cx c1 = conjFirst(kAA) * conjSecond(kBB);
        Cx c2 = std::conj(plain(kAA)) * plain(kBB);
        if (symmetric) {
          c1 = 0.5 * (c1 + std::conj(plain(kAB)) * plain(kBA));
          c2 = 0.5 * (c2 + conjFirst(kAB) * conjSecond(kBA));
        }
        const double sign = ca.sign * constraints[b0 + t].sign;
        c1 *= sign, c2 *= sign;
        const double re = 0.5 * (c1 + c2).real(), im = 0.5 * (c1 - c2).real();
        const double x1 = 0.5 * (c2 - c1).imag(), x2 = 0.5 * (c1 + c2).imag();
        const double pp = at(kPQ, 0), qq = at(kPQ, 1), pq = at(kPQ, 2), qp = at(kPQ, 3);
        mm[a * k + b0 + t] = pp * re - pq * x1 - qp * x2 + qq * im;
      }
    }
  }
  return mm;
}

// Solves min 1/2 x^T G x subject to the constraints through the dual (see
// SolveNonnegativeQp); returns x per group, and the constraints'
// multipliers in `multipliers`.
std::vector<std::vector<double>> SolveStep(const Model& m, const std::vector<Group>& groups,
                                           const std::vector<Constraint>& constraints,
                                           double tolerance, std::vector<double>* multipliers) {
  const std::size_t k = constraints.size();
  // A common-pole model whose every element is a group (all of them, or the
  // lower triangle of a symmetric one) takes the shared form; the first
  // group, the element (0, 0), is never mirrored and holds L.
  const std::size_t n = static_cast<std::size_t>(m.n);
  bool shared = !m.individual() && !groups.empty() &&
                groups.size() == (m.symmetric ? n * (n + 1) / 2 : n * n);
  for (const Group& g : groups) shared = shared && g.unknowns.size() == groups[0].unknowns.size();
  std::vector<std::vector<double>> y;
  std::vector<double> p, q;
  std::vector<double> mm = shared ? SharedPoleDual(m, groups[0], m.symmetric, constraints, &p, &q)
                                  : PerGroupDual(m, groups, constraints, &y);
  for (std::size_t a = 0; a < k; ++a) {
    for (std::size_t b = a + 1; b < k; ++b) mm[b * k + a] = mm[a * k + b];
  }
  // Dual: min 1/2 mu^T M mu + mu^T b, mu >= 0; M mu + b is the slack
  // b - A x of each constraint.
  std::vector<double> rhs(k);
  for (std::size_t c = 0; c < k; ++c) rhs[c] = constraints[c].rhs;
  const std::vector<double> mu = SolveNonnegativeQp(mm, rhs, tolerance);
  *multipliers = mu;
  // x_e = -L_e^-T Y_e mu; in the shared form Y_e mu = sum_c mu_c (Re w_ce
  // p_c - Im w_ce q_c) / sqrt(omega_e) and L_e = sqrt(omega_e) L.
  std::vector<std::vector<double>> x(groups.size());
  for (std::size_t e = 0; e < groups.size(); ++e) {
    const int size = static_cast<int>(groups[e].unknowns.size());
    x[e].assign(static_cast<std::size_t>(size), 0.0);
    if (shared) {
      for (std::size_t c = 0; c < k; ++c) {
        if (mu[c] == 0.0) continue;
        const Cx w = -mu[c] * constraints[c].Weight(groups[e]);
        const double* pc = p.data() + c * size;
        const double* qc = q.data() + c * size;
        for (int r = 0; r < size; ++r) x[e][r] += w.real() * pc[r] - w.imag() * qc[r];
      }
      if (groups[e].mirrored) {
        for (double& v : x[e]) v *= 0.5;
      }
      BackSolve(size, groups[0].chol, x[e].data());
      continue;
    }
    for (int r = 0; r < size; ++r) {
      double s = 0.0;
      for (std::size_t c = 0; c < k; ++c) s += y[e][static_cast<std::size_t>(r) * k + c] * mu[c];
      x[e][r] = -s;
    }
    BackSolve(size, groups[e].chol, x[e].data());
  }
  return x;
}

// The residues that best restore, over the data band, the response the
// constant's change `delta` (N x N) took away: per group, the least-squares
// fit of -delta(i, j) by the group's basis (its Gram factor is at hand).
std::vector<std::vector<double>> Compensation(const Model& m, const std::vector<Group>& groups,
                                              const std::vector<double>& delta,
                                              const std::vector<Weighted>& frequencies) {
  std::vector<std::vector<double>> x(groups.size());
  for (std::size_t e = 0; e < groups.size(); ++e) {
    const Group& g = groups[e];
    const PoleList& terms = TermsOf(m, g);
    const int size = static_cast<int>(g.unknowns.size());
    x[e].assign(static_cast<std::size_t>(size), 0.0);
    const double target = -delta[static_cast<std::size_t>(g.i) * m.n + g.j];
    if (target == 0.0) continue;
    for (const Weighted& w : frequencies) {
      for (int k = 0; k < size; ++k) {
        x[e][k] += w.weight * std::conj(Basis(terms, g.unknowns[k], w.f)).real() * target *
                   (g.mirrored ? 2.0 : 1.0);
      }
    }
    ForwardSolve(size, g.chol, x[e].data());
    BackSolve(size, g.chol, x[e].data());
  }
  return x;
}

void Apply(Model& m, const std::vector<Group>& groups, const std::vector<std::vector<double>>& x) {
  for (std::size_t e = 0; e < groups.size(); ++e) {
    const Group& g = groups[e];
    for (std::size_t k = 0; k < g.unknowns.size(); ++k) {
      const Unknown& u = g.unknowns[k];
      if (u.term == kConstantTerm) {
        m.constant[m.Index(g.i, g.j)] += x[e][k];
        if (g.mirrored) m.constant[m.Index(g.j, g.i)] += x[e][k];
        continue;
      }
      const Complex step = u.imaginary ? Complex(0.0, x[e][k]) : Complex(x[e][k], 0.0);
      if (m.individual()) {
        PoleTerm& t = m.elementPoles[m.Index(g.i, g.j)][u.term];
        t.SetResidue00(t.GetResidue00() + step);
      } else {
        PoleTerm& t = m.commonPoles[u.term];
        t.SetResidue(g.i, g.j, t.GetResidue(g.i, g.j) + step);
        if (g.mirrored) t.SetResidue(g.j, g.i, t.GetResidue(g.j, g.i) + step);
      }
    }
  }
  m.id.Renew();
}

// Makes the proportional term harmless and, with `clip`, the constant matrix
// passive on its own; true when the constant changed.
bool FixConstant(Model& m, bool scattering, double margin, bool clip, bool* proportionalChanged) {
  const int n = m.n;
  if (m.constant.size() != static_cast<std::size_t>(n) * n) return false;
  bool changed = false;
  if (!m.proportional.empty()) {
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double& e = m.proportional[i * n + j];
        const double keep = scattering ? 0.0 : 0.5 * (e + m.proportional[j * n + i]);
        if (e != keep) {
          // Symmetrising in place: set both of the pair at once.
          if (!scattering) m.proportional[j * n + i] = keep;
          e = keep;
          *proportionalChanged = true;
        }
      }
    }
  }
  if (!clip) return false;
  std::vector<double>& d = m.constant;
  if (scattering) {
    const int clipped = ClipSingularValues(d, n, 1.0, 1.0 - margin);
    if (clipped < 0) return false;
    changed = clipped > 0;
    if (changed) m.id.Renew();
    return changed;
  }
  // Y/Z: the Hermitian part's negative eigenvalues raised to the margin.
  std::vector<double> a(static_cast<std::size_t>(n) * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) a[i * n + j] = 0.5 * (d[i * n + j] + d[j * n + i]);
  }
  std::vector<double> values(n);
  std::vector<double> work(n);
  if (SymmetricEigen(n, a.data(), n, values.data(), work.data(), true) == 0) return false;
  std::vector<double> update(static_cast<std::size_t>(n) * n, 0.0);
  for (int k = 0; k < n; ++k) {
    if (values[k] >= 0.0) continue;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j <= i; ++j) {
        update[i * n + j] += (margin - values[k]) * a[i * n + k] * a[j * n + k];
        update[j * n + i] = update[i * n + j];  // the same number: symmetry stays exact
      }
    }
    changed = true;
  }
  for (std::size_t k = 0; k < d.size(); ++k) d[k] += update[k];
  if (changed) m.id.Renew();
  return changed;
}

// The relative half-power width Re P / |P| of the sharpest pole near f
// (|P| within a factor 2), between 1e-4 and 0.05: the scale on which the
// response can change around f.
double LocalWidth(const Model& m, double f) {
  double width = 0.05;
  const auto take = [&](const PoleList& list) {
    for (const PoleTerm& t : list) {
      const double mag = Abs(t.GetPole());
      if (mag > 0.5 * f && mag < 2.0 * f) width = std::min(width, t.GetPole().re / mag);
    }
  };
  take(m.commonPoles);
  for (const PoleList& list : m.elementPoles) take(list);
  return std::max(width, 1e-4);
}

// How far the model at f is beyond the target: sigma_max - (1 - margin)
// (S), margin - lambda_min (Y/Z); NaN when the eigensolver fails.
double LeftOver(const Model& m, const ElementTable* elements, double f, bool scattering,
                double margin) {
  margin = MarginAt(f, margin);
  const int n = m.n;
  const std::vector<Cx> h = Response(m, elements, f);
  const std::vector<Cx> p = PassivityMatrix(n, h, scattering);
  std::vector<double> values;
  if (!HermitianEigen(n, p, &values, nullptr)) return std::nan("");
  return scattering ? std::sqrt(std::max(values.front(), 0.0)) - (1.0 - margin)
                    : margin - values.back();
}

// The bands of a sweep of the delay-free model over `grid` (rising): runs of
// violating points, from the first to the last, with the worst point.
// Points beyond the limit by no more than `tolerance` are taken as passive.
bool SampledBands(const Model& m, const ElementTable* elements, const std::vector<double>& grid,
                  bool scattering, double tolerance, std::vector<CertifiedBand>* bands) {
  bool inside = false;
  for (double f : grid) {
    const double left = LeftOver(m, elements, f, scattering, 0.0);
    if (std::isnan(left)) return false;
    if (left > tolerance) {
      if (!inside) bands->push_back({f, f, f, left, 0.0});
      CertifiedBand& b = bands->back();
      b.to = f;
      if (left > b.worst) {
        b.worst = left;
        b.worstAt = f;
      }
    }
    inside = left > tolerance;
  }
  return true;
}

double BandScale(const Model& m, const ElementTable* elements, const std::vector<double>& freqs) {
  double scale = 0.0;
  const std::size_t step = std::max<std::size_t>(1, freqs.size() / 64);
  for (std::size_t k = 0; k < freqs.size(); k += step) {
    for (const Cx& v : Response(m, elements, freqs[k])) scale = std::max(scale, std::abs(v));
  }
  return scale;
}

double RelativeChange(const Model& before, const Model& after, const ElementTable* elements,
                      const std::vector<double>& freqs) {
  double change = 0.0;
  double total = 0.0;
  for (double f : freqs) {
    const std::vector<Cx> a = Response(before, elements, f);
    const std::vector<Cx> b = Response(after, elements, f);
    for (std::size_t k = 0; k < a.size(); ++k) {
      change += std::norm(b[k] - a[k]);
      total += std::norm(a[k]);
    }
  }
  return total > 0.0 ? std::sqrt(change / total) : std::sqrt(change);
}

// The worst excess beyond the target over `points` of `m` changed by
// `fraction` of `step`.
Result<double> WorstExcess(const Model& m, const ElementTable* elements,
                           const std::vector<Group>& groups,
                           const std::vector<std::vector<double>>& step, double fraction,
                           const std::vector<double>& points, bool scattering, double margin) {
  Model trial = m;
  if (fraction != 0.0) {
    std::vector<std::vector<double>> scaled = step;
    for (std::vector<double>& x : scaled) {
      for (double& v : x) v *= fraction;
    }
    Apply(trial, groups, scaled);
  }
  double worst = -std::numeric_limits<double>::infinity();
  for (double f : points) {
    const double left = LeftOver(trial, elements, f, scattering, margin);
    if (std::isnan(left)) return Failure::Silent();
    worst = std::max(worst, left);
  }
  return worst;
}

// The part of `step` to take: 1 when the whole step lowers the worst excess
// over the constraint points, else the halving (down to kMinStepFraction)
// that lowers it most.
Result<double> StepFraction(const Model& m, const ElementTable* elements,
                            const std::vector<Group>& groups,
                            const std::vector<std::vector<double>>& step,
                            const std::vector<double>& points, bool scattering, double margin) {
  Result<double> now = WorstExcess(m, elements, groups, step, 0.0, points, scattering, margin);
  if (!now) return now;
  Result<double> full = WorstExcess(m, elements, groups, step, 1.0, points, scattering, margin);
  if (!full) return full;
  if (*full < *now || *full <= 0.0) return 1.0;
  double best = 1.0, bestExcess = *full;
  for (double t = 0.5; t >= kMinStepFraction; t *= 0.5) {
    Result<double> excess = WorstExcess(m, elements, groups, step, t, points, scattering, margin);
    if (!excess) return excess;
    if (*excess < bestExcess) {
      best = t;
      bestExcess = *excess;
    } else if (best < 1.0) {
      break;  // convex along the step: past the best
    }
  }
  return best;
}

// New constraint frequencies for the bands: each band's worst point and
// points spread across it.
void AddConstraintPoints(const Model& m, const std::vector<CertifiedBand>& bands,
                         std::vector<double>* points) {
  for (const CertifiedBand& band : bands) {
    if (std::isfinite(band.worstAt)) {
      // The worst point and its neighbours on the scale of the nearest
      // sharp pole, so that a resonance cannot slip between constraints.
      points->push_back(band.worstAt);
      const double w = LocalWidth(m, band.worstAt);
      for (double t : {-2.0, -1.0, -0.5, 0.5, 1.0, 2.0}) {
        const double f = band.worstAt * (1.0 + t * w);
        if (f > band.from && f < band.to) points->push_back(f);
      }
    }
    const double hi = std::isinf(band.to) ? 4.0 * std::max(band.from, band.worstAt) : band.to;
    for (double t : {0.1, 0.3, 0.5, 0.7, 0.9}) {
      const double f = band.from > 0.0 ? band.from * std::pow(hi / band.from, t) : hi * t;
      if (std::isfinite(f)) points->push_back(f);
    }
  }
}

// Cutting planes from `work` as it is on entry (the start). sigma_max is
// convex in the residues, and each linearised constraint,
// sign Re(a^H H b) <= 1 - margin with unit a and b (the same with the
// Hermitian part for Y/Z), holds for every passive model, wherever it was
// linearised: it is a supporting half-space of the passive set. So the
// change from the start of least objective that meets every constraint
// gathered so far is a lower bound on that of any passive model with these
// poles, and the violations of the model it gives add constraints that
// raise the bound towards the smallest passive change. The greedy steps
// (each the least change from where the last one ended) reach a passive
// model sooner but can wander far from the nearest one; they finish from
// where these rounds end, which is passive only in the limit but close to
// the nearest passive model. Rounds stop when the sweep finds no violation,
// after kCuttingRounds, when they stay far beyond the limit without closing
// in (kCuttingProbe), or when the constraints outgrow kCuttingConstraints;
// a model still far beyond the limit then is not kept.
Result<int> CuttingPlaneRounds(Model& work, const ElementTable* elements,
                               const std::vector<Group>& groups, const std::vector<double>& grid,
                               const std::vector<double>& frequencies, bool scattering,
                               double margin, double tolerance, double scale, double giveUpChange,
                               const RunContext& context, bool* gaveUp) {
  const Model start = work;
  const int n = work.n;
  std::vector<Constraint> cuts;
  std::vector<int> idle;      // per constraint: rounds without a positive multiplier
  std::vector<double> least;  // per round: the least excess met up to its start
  int rounds = 0;
  for (;;) {
    std::vector<CertifiedBand> bands;
    if (!SampledBands(work, elements, grid, scattering, tolerance, &bands)) {
      return Failure::Silent();
    }
    if (bands.empty()) break;
    double worst = 0.0;
    for (const CertifiedBand& band : bands) worst = std::max(worst, band.worst);
    const double unit = scattering ? 1.0 : scale;
    // A small violation is left to the steps, whose changes are as small;
    // on a nearly lossless model the first round's cuts can only add to it.
    if (rounds == 0 && worst <= kCuttingSmall * unit) break;
    // Rounds that stay far outside and have stopped closing in converge too
    // slowly to be worth their cost.
    least.push_back(least.empty() ? worst : std::min(least.back(), worst));
    const bool slow = rounds >= kCuttingProbe && worst > kCuttingFar * unit &&
                      least.back() > kCuttingProgress * least[least.size() - 1 - kCuttingProbe];
    if (slow || rounds == kCuttingRounds || cuts.size() > kCuttingConstraints) {
      // Still far beyond the limit: the steps start from the start instead.
      if (worst > kCuttingFar * unit) {
        context.log() << "Residue perturbation: the rounds end " << worst
                      << " beyond the limit; the steps start from the model as it was\n";
        work = start;
      }
      break;
    }
    std::vector<double> points;
    AddConstraintPoints(work, bands, &points);
    if (AnyFreeConstant(work, elements)) points.push_back(kInfinite);
    for (double f : points) {
      std::vector<Constraint> fresh;
      if (!ConstraintsAt(work, elements, f, scattering, margin, &fresh)) return Failure::Silent();
      // Linearised at `work`; moved to the start by the change made so far.
      const std::vector<Cx> now = Response(work, elements, f);
      const std::vector<Cx> then = Response(start, elements, f);
      for (Constraint& c : fresh) {
        Cx made = 0.0;
        for (int i = 0; i < n; ++i) {
          for (int j = 0; j < n; ++j) {
            made += std::conj(c.a[i]) * (now[i * n + j] - then[i * n + j]) * c.b[j];
          }
        }
        c.rhs += c.sign * made.real();
        cuts.push_back(std::move(c));
        idle.push_back(0);
      }
    }
    std::vector<double> mu;
    const std::vector<std::vector<double>> x = SolveStep(start, groups, cuts, 0.01 * margin, &mu);
    work = start;
    Apply(work, groups, x);
    ++rounds;
    std::size_t kept = 0;
    for (std::size_t c = 0; c < cuts.size(); ++c) {
      idle[c] = mu[c] > 0.0 ? 0 : idle[c] + 1;
      if (idle[c] >= kIdleRounds) continue;
      if (kept != c) cuts[kept] = std::move(cuts[c]);
      idle[kept] = idle[c];
      ++kept;
    }
    cuts.resize(kept);
    idle.resize(kept);
    const double change = RelativeChange(start, work, elements, frequencies);
    context.log() << "Residue perturbation round " << rounds << ": from " << bands.size()
                  << " violation band(s), worst " << worst << " beyond the limit; " << cuts.size()
                  << " constraints, change " << change << "\n";
    if (giveUpChange > 0.0 && change > giveUpChange) {
      context.log() << "Residue perturbation: a passive model with these poles needs a change "
                       "of at least about "
                    << change << ", more than " << giveUpChange << " allowed; given up\n";
      work = start;
      *gaveUp = true;
      break;
    }
  }
  return rounds;
}

// One run of the perturbation steps on `work` (delay-free, its constant
// already passive) with the given share of the objective beyond the band;
// `original` is the model before any change. Fills the report's iterations,
// constraints and certificate; a failure means the eigensolver or the
// certificate failed.
Result<bool> PerturbationSteps(Model& work, const Model& original, const ElementTable* elements,
                               const std::vector<double>& frequencies, bool scattering,
                               double margin, double tolerance, double outOfBandWeight,
                               int maxIterations, std::size_t maxConstraints, double giveUpChange,
                               const RunContext& context, PerturbationReport& report) {
  // The objective: the data frequencies, and beyond them a light weight on
  // a log sweep over the poles' span, so that residues whose poles lie
  // outside the band do not move further than the constraints need (a
  // change the objective cannot see would overshoot at the next
  // linearisation).
  std::vector<Weighted> objective;
  for (double f : frequencies) objective.push_back({f, 1.0});
  {
    double lo = 1e300, hi = 0.0;
    for (double f : frequencies) {
      if (f > 0.0) lo = std::min(lo, f);
      hi = std::max(hi, f);
    }
    const auto take = [&](const PoleList& list) {
      for (const PoleTerm& t : list) {
        const double mag = Abs(t.GetPole());
        if (mag > 0.0 && mag < kConstantPoleBound) {
          lo = std::min(lo, mag);
          hi = std::max(hi, mag);
        }
      }
    };
    take(work.commonPoles);
    for (const PoleList& list : work.elementPoles) take(list);
    if (hi > 0.0 && lo < hi) {
      const double w = outOfBandWeight * static_cast<double>(frequencies.size()) / kOutOfBandPoints;
      for (int k = 0; k < kOutOfBandPoints; ++k) {
        objective.push_back(
            {0.1 * lo * std::pow(100.0 * hi / lo, k / (kOutOfBandPoints - 1.0)), w});
      }
      // A sharp resonance beyond the band can fall between the sweep's
      // points: its residues would then move almost for free, by far more
      // than the constraints need. Its peak and half-power points weigh it
      // in.
      double bandLo = 1e300, bandHi = 0.0;
      for (double f : frequencies) {
        bandLo = std::min(bandLo, f);
        bandHi = std::max(bandHi, f);
      }
      const auto peaks = [&](const PoleList& list) {
        for (const PoleTerm& t : list) {
          const Complex p = t.GetPole();
          const double mag = Abs(p);
          if (t.IsReal() || mag >= kConstantPoleBound || (mag >= bandLo && mag <= bandHi)) continue;
          const double width = std::abs(p.re) / mag;
          for (double s : {-1.0, 0.0, 1.0})
            objective.push_back({std::abs(p.im) * (1.0 + s * width), w});
        }
      };
      peaks(work.commonPoles);
      for (const PoleList& list : work.elementPoles) peaks(list);
    }
  }
  std::vector<Group> groups = Groups(work, elements);
  for (Group& g : groups) {
    if (!Factor(work, g, objective)) return Failure::Silent();
  }
  if (report.constantChanged) {
    // A constant change moves the response at every frequency; the residues
    // give back over the data band what they can of it (poles above the
    // band look constant there), and the steps below correct what that
    // brings back beyond the band.
    std::vector<double> delta(work.constant.size());
    for (std::size_t k = 0; k < delta.size(); ++k)
      delta[k] = work.constant[k] - original.constant[k];
    Apply(work, groups, Compensation(work, groups, delta, objective));
  }
  std::vector<double> points;
  std::vector<int> idle;  // per point: steps since one of its constraints was active
  // A log grid over the poles' span and the data: a sweep on it finds most
  // violations at a fraction of the certificate's cost, so the certificate
  // is asked only when the sweep finds none.
  std::vector<double> grid = frequencies;
  {
    const bool span = objective.size() > frequencies.size();
    const double lo = span ? objective[frequencies.size()].f : 0.0;
    const double hi = span ? objective[frequencies.size() + kOutOfBandPoints - 1].f : 0.0;
    for (int k = 0; lo > 0.0 && k < kSweepPoints; ++k) {
      grid.push_back(lo * std::pow(hi / lo, k / (kSweepPoints - 1.0)));
    }
    std::sort(grid.begin(), grid.end());
  }
  report.iterations = 0;
  report.constraints = 0;
  const Model beforeRounds = work;
  Result<int> rounds =
      CuttingPlaneRounds(work, elements, groups, grid, frequencies, scattering, margin, tolerance,
                         tolerance / kSweepTolerance, giveUpChange, context, &report.gaveUp);
  if (!rounds) return rounds.failure();
  report.rounds = *rounds;
  if (report.gaveUp) return false;
  const auto steps = [&]() -> Result<bool> {
    for (;;) {
      std::vector<CertifiedBand> bands;
      if (!SampledBands(work, elements, grid, scattering, tolerance, &bands)) {
        return Failure::Silent();
      }
      bool certified = false;
      if (bands.empty() || report.iterations >= maxIterations) {
        Result<PassivityCertificate> cert = CertifyModel(work, elements);
        if (!cert) return cert.failure();
        report.certificate = *cert;
        bands = cert->bands;
        certified = true;
      }
      if (bands.empty() || report.iterations >= maxIterations || groups.empty()) break;
      // For the log: the largest excess beyond the limit (the certificate's
      // bands hold the singular value or eigenvalue itself).
      double worst = 0.0, worstAt = 0.0;
      for (const CertifiedBand& band : bands) {
        const double excess = !certified ? band.worst : scattering ? band.worst - 1.0 : -band.worst;
        if (excess > worst) {
          worst = excess;
          worstAt = band.worstAt;
        }
      }
      AddConstraintPoints(work, bands, &points);
      // A constant that moves is held passive at infinite frequency.
      if (AnyFreeConstant(work, elements) &&
          std::find(points.begin(), points.end(), kInfinite) == points.end()) {
        points.push_back(kInfinite);
      }
      std::vector<Constraint> constraints;
      std::vector<std::size_t> from;  // the point of each constraint
      for (std::size_t p = 0; p < points.size(); ++p) {
        if (!ConstraintsAt(work, elements, points[p], scattering, margin, &constraints)) {
          return Failure::Silent();
        }
        from.resize(constraints.size(), p);
      }
      report.constraints = static_cast<int>(constraints.size());
      if (constraints.size() > maxConstraints) {
        context.log() << "Residue perturbation: " << constraints.size()
                      << " constraints are more than this weight is allowed\n";
        return false;
      }
      std::vector<double> mu;
      std::vector<std::vector<double>> step =
          SolveStep(work, groups, constraints, 0.01 * margin, &mu);
      // The step meets the linearised constraints, but where it is large
      // (beyond the band, where the objective weighs little) the singular
      // vectors turn under it and the model can end further beyond the limit
      // than it started, swinging from step to step. sigma_max is convex in
      // the residues, so along the step the worst excess over the constraint
      // points is convex too: the whole step is taken when it lowers that,
      // else the best of shorter ones.
      Result<double> fraction =
          StepFraction(work, elements, groups, step, points, scattering, margin);
      if (!fraction) return fraction.failure();
      if (*fraction < 1.0) {
        for (std::vector<double>& x : step) {
          for (double& v : x) v *= *fraction;
        }
      }
      Apply(work, groups, step);
      // Points none of whose constraints shaped the last kIdleSteps steps
      // go: every step re-linearises all points, and the count of them would
      // otherwise only grow (the dual costs the square of the constraints). A
      // point that goes beyond the limit again is found again by the sweep.
      idle.resize(points.size(), 0);
      std::vector<bool> active(points.size(), false);
      for (std::size_t c = 0; c < constraints.size(); ++c) {
        if (mu[c] > 0.0) active[from[c]] = true;
      }
      std::size_t kept = 0;
      for (std::size_t p = 0; p < points.size(); ++p) {
        idle[p] = active[p] ? 0 : idle[p] + 1;
        if (idle[p] >= kIdleSteps) continue;
        points[kept] = points[p];
        idle[kept] = idle[p];
        ++kept;
      }
      points.resize(kept);
      idle.resize(kept);
      ++report.iterations;
      context.log() << "Residue perturbation step " << report.iterations << ": " << bands.size()
                    << " violation band(s), worst " << worst << " beyond the limit at " << worstAt
                    << " Hz, " << constraints.size() << " constraints, step " << *fraction << "\n";
    }
    return report.certificate.passive;
  };
  Result<bool> passive = steps();
  if (!passive && report.rounds > 0) {
    // The certificate or an eigensolver failed on where the rounds ended:
    // the steps again from the model as it was.
    context.log() << "Residue perturbation: again without the rounds\n";
    work = beforeRounds;
    report.rounds = 0;
    report.iterations = 0;
    report.constraints = 0;
    points.clear();
    idle.clear();
    passive = steps();
  }
  return passive;
}

}  // namespace

Result<PerturbationReport> EnforceByResiduePerturbation(Model& model, const ElementTable* elements,
                                                        const std::vector<double>& frequencies,
                                                        const PerturbationOptions& options,
                                                        const RunContext& context) {
  const bool scattering = model.dataType == 1;
  if (!scattering && model.dataType != 2 && model.dataType != 3) {
    return ErrorCode::kUnsupportedParameters;
  }
  if (frequencies.empty()) return Failure::Silent();
  PerturbationReport report;
  // The delay-free copy the certificate and the constraints read.
  Model work = model;
  std::fill(work.delay.begin(), work.delay.end(), 0.0);
  const Model original = work;
  const double scale = scattering ? 1.0 : BandScale(work, elements, frequencies);
  const double margin = options.margin * scale;
  // A constant that moves with the residues is constrained with them (at
  // infinite frequency); one that does not is made passive first.
  report.constantChanged = FixConstant(work, scattering, margin, !AnyFreeConstant(work, elements),
                                       &report.proportionalChanged);

  // The light share beyond the band first, the heavy one when that fails.
  const Model start = work;
  const int lightIterations = std::min(options.maxIterations, kLightIterations);
  Result<bool> passive =
      PerturbationSteps(work, original, elements, frequencies, scattering, margin,
                        kSweepTolerance * scale, kLightOutOfBandWeight, lightIterations,
                        kLightConstraints, options.giveUpChange, context, report);
  if (!passive) return passive.failure();
  // The heavy weight beyond the band costs more inside it than the light
  // one: when the light one's rounds gave up, so would its.
  if (report.gaveUp) return report;
  if (!*passive) {
    context.log() << "Residue perturbation: the light weight beyond the data band did not end "
                     "passive; again with the heavy one\n";
    work = start;
    passive = PerturbationSteps(work, original, elements, frequencies, scattering, margin,
                                kSweepTolerance * scale, kOutOfBandWeight, options.maxIterations,
                                std::numeric_limits<std::size_t>::max(), options.giveUpChange,
                                context, report);
    if (!passive) return passive.failure();
    if (report.gaveUp) return report;
  }
  report.relativeChange = RelativeChange(original, work, elements, frequencies);
  report.constantChanged = work.constant != original.constant;
  // Back into the model, delays as they were.
  model.commonPoles = work.commonPoles;
  model.elementPoles = work.elementPoles;
  model.constant = work.constant;
  model.proportional = work.proportional;
  model.id.Renew();
  report.passive = report.certificate.passive;
  report.certificate.delays = ClassifyDelays(model);
  if (!report.passive) return Failure::Silent();
  return report;
}

}  // namespace cfit
