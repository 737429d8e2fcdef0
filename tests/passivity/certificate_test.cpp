// The exact passivity certificate against closed forms: first- and
// second-order systems whose crossing frequencies solve a quadratic, passive
// systems (one with a constant of exactly 1), and models realised from pole
// terms, among them a rotated two-port whose singular values are those of two
// known one-ports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "core/run_context.h"
#include "fit/model_evaluation.h"
#include "passivity/magnitude_bound.h"
#include "passivity/passivity_certificate.h"
#include "passivity/pole_augmentation.h"
#include "passivity/residue_perturbation.h"

namespace cfit {
namespace {

constexpr double kHz = 0.5 / std::numbers::pi;  // rad/s to hertz
constexpr double kInf = std::numeric_limits<double>::infinity();

struct System {
  int ports = 1;
  int states = 0;
  std::vector<double> a, b, c, d;
  // Symmetric systems may also be certified through the half-size matrix.
  SystemView View(bool halfSize = false) const {
    return {ports, states, a.data(), b.data(), c.data(), d.data(), halfSize};
  }
};

// d + c / (s + a): one real pole at -a.
System FirstOrder(double d, double c, double a) { return {1, 1, {-a}, {1.0}, {c}, {d}}; }

// (c0 + c1 s) / (s^2 + 2 alpha s + alpha^2 + beta^2) as a 2 x 2 block
// [[-alpha, beta], [-beta, -alpha]] fed into its first state.
System SecondOrder(double c0, double c1, double alpha, double beta) {
  // With B = [1, 0]^T the first state is (s + alpha) / den and the second
  // -beta / den; C = [c1, (c1 alpha - c0) / beta] gives the numerator.
  return {1, 2, {-alpha, beta, -beta, -alpha}, {1.0, 0.0}, {c1, (c1 * alpha - c0) / beta}, {0.0}};
}

// Positive roots w of a w^4 + b w^2 + c = 0.
std::vector<double> QuarticRoots(double a, double b, double c) {
  std::vector<double> w;
  const double disc = b * b - 4 * a * c;
  if (disc < 0) return w;
  for (double x : {(-b - std::sqrt(disc)) / (2 * a), (-b + std::sqrt(disc)) / (2 * a)}) {
    if (x > 0) w.push_back(std::sqrt(x));
  }
  std::sort(w.begin(), w.end());
  return w;
}

// Eigenvalues (descending) of H^H H (scattering) or of the Hermitian part
// of H (immittance), H n x n row by row: the squared singular values, or
// what decides the passivity of Y and Z.
std::vector<double> DecidingValues(const std::vector<std::complex<double>>& h, int n,
                                   bool scattering) {
  std::vector<std::complex<double>> p(h.size());
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) {
      std::complex<double> v = 0;
      for (int q = 0; q < n; ++q) v += std::conj(h[q * n + r]) * h[q * n + c];
      p[r * n + c] = scattering ? v : 0.5 * (h[r * n + c] + std::conj(h[c * n + r]));
    }
  }
  std::vector<double> values;
  EXPECT_TRUE(HermitianEigen(n, p, &values, nullptr));
  return values;
}

struct Planted {
  std::string name;
  System system;
  PassivityKind kind;
  std::vector<double> crossings;  // rad/s
  // Expected bands as (from, to) in rad/s.
  std::vector<std::pair<double, double>> bands;
};

std::vector<Planted> PlantedCases() {
  constexpr PassivityKind kS = PassivityKind::kScattering, kYZ = PassivityKind::kImmittance;
  std::vector<Planted> cases;
  {
    // Above 1 from 0 Hz: 0.2 + 1.5e9 / (s + 1e9) is 1.7 at 0 Hz.
    const double w = std::sqrt(((0.2e9 + 1.5e9) * (0.2e9 + 1.5e9) - 1e18) / 0.96);
    cases.push_back({"s_first_order_dc", FirstOrder(0.2, 1.5e9, 1e9), kS, {w}, {{0.0, w}}});
  }
  {
    // Constant 1.2 above 1 at infinite frequency, 0.3 at 0 Hz.
    const double a = 3e8, c = -1.5 * a, d = 1.2;
    const double w = std::sqrt(((d * a + c) * (d * a + c) - a * a) / (1 - d * d));
    cases.push_back({"s_constant_above_one", FirstOrder(d, c, a), kS, {w}, {{w, kInf}}});
  }
  {
    // A resonance poking above 1 in a band: |N|^2 = |den|^2 is quadratic in
    // w^2.
    const double alpha = 2e8, beta = 6e9, c0 = 0.0, c1 = 2.6 * alpha;
    const double k = alpha * alpha + beta * beta;
    const auto w = QuarticRoots(1.0, 4 * alpha * alpha - 2 * k - c1 * c1, k * k - c0 * c0);
    cases.push_back({"s_resonance_band", SecondOrder(c0, c1, alpha, beta), kS, w, {{w[0], w[1]}}});
  }
  {
    // Y: Re(d + c / (j w + a)) = d + c a / (a^2 + w^2) < 0 below
    // w^2 = -c a / d - a^2.
    const double d = 0.01, c = -0.05 * 4e9, a = 4e9;
    const double w = std::sqrt(-c * a / d - a * a);
    cases.push_back({"y_first_order_dc", FirstOrder(d, c, a), kYZ, {w}, {{0.0, w}}});
  }
  {
    // Z: a lossy resonance with a negative real part in a band:
    // Re H = d + Re N(jw) conj(den) / |den|^2, with N = c1 s, den as above:
    // d |den|^2 + 2 alpha c1 w^2 = 0.
    const double alpha = 1e8, beta = 2e10, c1 = -40.0 * alpha, d = 1.0;
    const double k = alpha * alpha + beta * beta;
    const auto w = QuarticRoots(d, d * (4 * alpha * alpha - 2 * k) + 2 * alpha * c1, d * k * k);
    System s = SecondOrder(0.0, c1, alpha, beta);
    s.d = {d};
    cases.push_back({"z_resonance_band", s, kYZ, w, {{w[0], w[1]}}});
  }
  return cases;
}

// Every case once through the Hamiltonian and once through the half-size
// matrix (all the systems here are one-ports, so symmetric).
template <class T>
std::vector<std::pair<T, bool>> Both(const std::vector<T>& cases) {
  std::vector<std::pair<T, bool>> both;
  for (const T& c : cases) {
    both.emplace_back(c, false);
    both.emplace_back(c, true);
  }
  return both;
}

TEST(Certificate, FindsPlantedCrossingsAndBands) {
  for (const auto& [c, halfSize] : Both(PlantedCases())) {
    SCOPED_TRACE(c.name + (halfSize ? " half-size" : " Hamiltonian"));
    const auto cert = CertifySystem(c.system.View(halfSize), c.kind, kHz);
    ASSERT_TRUE(cert.ok());
    EXPECT_EQ(cert->hamiltonianOrder, (halfSize ? 1 : 2) * c.system.states);
    EXPECT_FALSE(cert->passive);
    ASSERT_EQ(cert->crossings.size(), c.crossings.size());
    for (std::size_t k = 0; k < c.crossings.size(); ++k) {
      EXPECT_NEAR(cert->crossings[k], c.crossings[k] * kHz, 1e-9 * c.crossings[k] * kHz);
    }
    ASSERT_EQ(cert->bands.size(), c.bands.size());
    for (std::size_t k = 0; k < c.bands.size(); ++k) {
      const CertifiedBand& band = cert->bands[k];
      EXPECT_NEAR(band.from, c.bands[k].first * kHz, 1e-9 * c.bands[k].first * kHz);
      if (std::isinf(c.bands[k].second)) {
        EXPECT_TRUE(std::isinf(band.to));
      } else {
        EXPECT_NEAR(band.to, c.bands[k].second * kHz, 1e-9 * c.bands[k].second * kHz);
      }
      // The worst point lies in the band, violates, and no point of a fine
      // sweep across the band is worse.
      EXPECT_GE(band.worstAt, band.from);
      EXPECT_LE(band.worstAt, band.to);
      const bool s = c.kind == PassivityKind::kScattering;
      EXPECT_TRUE(s ? band.worst > 1.0 : band.worst < 0.0);
      const double lo = band.from > 0 ? band.from : 1e-3 * band.to;
      const double hi = std::isinf(band.to) ? 1e4 * lo : band.to;
      for (int i = 0; i <= 2000; ++i) {
        const double f = lo * std::pow(hi / lo, i / 2000.0);
        const std::vector<double> values =
            DecidingValues(SystemResponse(c.system.View(), f / kHz), c.system.ports, s);
        if (s) {
          EXPECT_LE(std::sqrt(values.front()), band.worst * (1 + 1e-9)) << f;
        } else {
          EXPECT_GE(values.back(), band.worst - 1e-9 * std::abs(band.worst)) << f;
        }
      }
    }
  }
}

// A constant just below 1 makes (D - I)^-1 large: the half-size matrix's
// factors grow far beyond A, its rounding would swamp the crossing, and the
// Hamiltonian is built instead (0.99999 + 0.5 a / (s + a) crosses 1 near
// 250 a).
TEST(Certificate, HalfSizeGivesWayWhenItsFactorsGrow) {
  const double a = 1e9, c = 0.5 * a, d = 0.99999;
  const double w = std::sqrt(((d * a + c) * (d * a + c) - a * a) / (1 - d * d));
  const auto cert = CertifySystem(FirstOrder(d, c, a).View(true), PassivityKind::kScattering, kHz);
  ASSERT_TRUE(cert.ok());
  EXPECT_FALSE(cert->halfSize);
  EXPECT_EQ(cert->hamiltonianOrder, 2);
  ASSERT_EQ(cert->crossings.size(), 1u);
  EXPECT_NEAR(cert->crossings[0], w * kHz, 1e-9 * w * kHz);
}

TEST(Certificate, CertifiesPassiveSystems) {
  struct Case {
    std::string name;
    System system;
    PassivityKind kind;
    bool shifted;
  };
  // A matched line section (0.5 / (1 + s / a)), a constant of exactly 1
  // pulled down at low frequencies (|1 - c / (jw + a)| < 1 for 0 < c < 2a),
  // an all-positive Y (a resistor beside an RC branch), and a lossy Z
  // resonance.
  const std::vector<Case> cases = {
      {"s_lowpass", FirstOrder(0.0, 0.5e9, 1e9), PassivityKind::kScattering, false},
      {"s_constant_one", FirstOrder(1.0, -1.2e9, 1e9), PassivityKind::kScattering, true},
      {"y_rc", FirstOrder(0.02, 0.01 * 5e9, 5e9), PassivityKind::kImmittance, false},
      {"z_resonance",
       [] {
         System s = SecondOrder(0.0, 10.0 * 1e8, 1e8, 2e10);
         s.d = {0.5};
         return s;
       }(),
       PassivityKind::kImmittance, false},
  };
  for (const auto& [c, halfSize] : Both(cases)) {
    SCOPED_TRACE(c.name + (halfSize ? " half-size" : " Hamiltonian"));
    const auto cert = CertifySystem(c.system.View(halfSize), c.kind, kHz);
    ASSERT_TRUE(cert.ok());
    EXPECT_TRUE(cert->passive);
    EXPECT_TRUE(cert->bands.empty());
    EXPECT_EQ(cert->shiftedLimit, c.shifted);
  }
}

// Models in the stored convention, f in hertz: a term R / (1 + j f / P) is
// R P / (s + P) with s = j f, and a pair term with real R and P = alpha -
// j beta is (R alpha s + R |P|^2) / (s^2 + 2 alpha s + |P|^2).
PoleTerm Term(int n, double re, double im) {
  PoleTerm t(n);
  t.SetPole(re, im);
  return t;
}

// A one-port S model 0.2 + R / (1 + j f / P) above 1 from 0 Hz (an individual
// list), and a two-port common-pole model Q diag(h1, h2) Q^T with h1 that
// one-port and h2 a pair term rising above 1 in a band.
Model OnePort(int type, double d, std::vector<PoleTerm> terms) {
  Model m = Model::Empty(1);
  m.dataType = type;
  m.constant = {d};
  m.elementPoles[0] = std::move(terms);
  return m;
}

Model RotatedTwoPort(double p1, double r1, double alpha, double beta, double r2,
                     double rightAngle = 0.5) {
  Model m = Model::Empty(2);
  m.dataType = 1;
  m.shape = PoleShape::kCommon;
  m.symmetric = true;
  m.elementPoles.clear();
  const double cs = std::cos(0.5), sn = std::sin(0.5);
  const double q1[2] = {cs, sn}, q2[2] = {-sn, cs};
  // Q diag(h1, h2) V^T with V another rotation has the same singular
  // values, and is not symmetric.
  const double cv = std::cos(rightAngle), sv = std::sin(rightAngle);
  const double v1[2] = {cv, sv}, v2[2] = {-sv, cv};
  PoleTerm t1 = Term(2, p1, 0.0), t2 = Term(2, alpha, -beta);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      t1.SetResidue(i, j, Complex(r1 * q1[i] * v1[j], 0.0));
      t2.SetResidue(i, j, Complex(r2 * q2[i] * v2[j], 0.0));
      m.constant[i * 2 + j] = 0.2 * q1[i] * v1[j];
    }
  }
  m.commonPoles = {t1, t2};
  return m;
}

// Crossing frequencies of |h| = 1 for h1 = 0.2 + r1 p1 / (s + p1) and for the
// pair (c1 s + c0) / den with c1 = r2 alpha, c0 = r2 (alpha^2 + beta^2).
std::vector<double> RotatedCrossings(double p1, double r1, double alpha, double beta, double r2) {
  const double c = r1 * p1;
  std::vector<double> w = {std::sqrt(((0.2 * p1 + c) * (0.2 * p1 + c) - p1 * p1) / 0.96)};
  const double k = alpha * alpha + beta * beta, c1 = r2 * alpha, c0 = r2 * k;
  for (double x : QuarticRoots(1.0, 4 * alpha * alpha - 2 * k - c1 * c1, k * k - c0 * c0)) {
    w.push_back(x);
  }
  std::sort(w.begin(), w.end());
  return w;
}

// Largest singular value (S) or smallest Hermitian-part eigenvalue (Y/Z) of
// the model over a dense log sweep, delays removed.
double DenseWorst(const Model& model, double lo, double hi, bool scattering) {
  Model m = model;
  std::fill(m.delay.begin(), m.delay.end(), 0.0);
  const ModelView view{&m, nullptr, m.individual(), m.symmetric};
  double worst = scattering ? 0.0 : 1e300;
  const int n = m.n;
  for (int k = 0; k <= 20000; ++k) {
    const double f = lo * std::pow(hi / lo, k / 20000.0);
    std::vector<std::complex<double>> h(n * n);
    for (int e = 0; e < n * n; ++e) {
      const Complex v = EvaluateElement(view, e / n, e % n, f);
      h[e] = {v.re, v.im};
    }
    const std::vector<double> values = DecidingValues(h, n, scattering);
    worst =
        scattering ? std::max(worst, std::sqrt(values.front())) : std::min(worst, values.back());
  }
  return worst;
}

struct ModelCase {
  std::string name;
  Model model;
  std::vector<double> crossings;  // hertz
};

std::vector<ModelCase> ModelCases() {
  std::vector<ModelCase> cases;
  {
    const double p = 1e9, r = 1.5;  // 0.2 + 1.5e9 / (s + 1e9)
    cases.push_back({"s_individual_one_port",
                     OnePort(1, 0.2, {Term(1, p, 0.0)}),
                     {std::sqrt(((0.2 * p + r * p) * (0.2 * p + r * p) - p * p) / 0.96)}});
    cases.back().model.elementPoles[0][0].SetResidue00(Complex(r, 0.0));
  }
  cases.push_back({"s_common_rotated_two_port", RotatedTwoPort(1e9, 1.5, 2e8, 6e9, 0.5),
                   RotatedCrossings(1e9, 1.5, 2e8, 6e9, 0.5)});
  cases.push_back({"s_common_rotated_two_port_unsymmetric",
                   RotatedTwoPort(1e9, 1.5, 2e8, 6e9, 0.5, 0.9),
                   RotatedCrossings(1e9, 1.5, 2e8, 6e9, 0.5)});
  cases.back().model.symmetric = false;
  {
    // Y: 0.01 + R / (1 + j f / P) with R = -0.05: Re < 0 below
    // f^2 = -R P^2 / d - P^2.
    const double p = 4e9, r = -0.05, d = 0.01;
    cases.push_back({"y_individual_one_port",
                     OnePort(2, d, {Term(1, p, 0.0)}),
                     {std::sqrt(-r * p * p / d - p * p)}});
    cases.back().model.elementPoles[0][0].SetResidue00(Complex(r, 0.0));
  }
  return cases;
}

TEST(ModelCertificate, FindsPlantedCrossingsThroughTheRealisation) {
  for (const ModelCase& c : ModelCases()) {
    SCOPED_TRACE(c.name);
    const auto cert = CertifyModel(c.model, nullptr);
    ASSERT_TRUE(cert.ok());
    EXPECT_FALSE(cert->passive);
    // Symmetric models go through the half-size matrix.
    const bool symmetric = c.name.find("unsymmetric") == std::string::npos;
    EXPECT_EQ(cert->halfSize, symmetric);
    EXPECT_EQ(cert->hamiltonianOrder, CertificateOrder(c.model, nullptr));
    ASSERT_EQ(cert->crossings.size(), c.crossings.size());
    for (std::size_t k = 0; k < c.crossings.size(); ++k) {
      EXPECT_NEAR(cert->crossings[k], c.crossings[k], 1e-9 * c.crossings[k]);
    }
    for (const CertifiedBand& band : cert->bands)
      EXPECT_TRUE(band.from <= band.worstAt && band.worstAt <= band.to) << band.worstAt;
  }
}

// Poles added with zero residues change neither the crossings nor the
// matrix the certificate takes: the half-size one stays usable however far
// the new poles sit from the old ones.
TEST(ModelCertificate, PolesWithZeroResiduesLeaveItUnchanged) {
  for (const ModelCase& c : ModelCases()) {
    SCOPED_TRACE(c.name);
    const auto before = CertifyModel(c.model, nullptr);
    ASSERT_TRUE(before.ok());
    Model m = c.model;
    const CertifiedBand above{1e12, 1e13, 3e12, 2.0, 2.0};
    const std::vector<Complex> added = AddPolesForBands(m, {above}, 1e6, 1e11);
    ASSERT_FALSE(added.empty());
    const auto after = CertifyModel(m, nullptr);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(after->halfSize, before->halfSize);
    int states = 0;  // a pair takes two states, a real pole one, per port when common
    for (const Complex& p : added) states += (p.im == 0.0 ? 1 : 2) * (m.individual() ? 1 : m.n);
    if (!before->halfSize) states *= 2;
    EXPECT_EQ(CertificateOrder(m, nullptr), before->hamiltonianOrder + states);
    ASSERT_EQ(after->crossings.size(), c.crossings.size());
    for (std::size_t k = 0; k < c.crossings.size(); ++k) {
      EXPECT_NEAR(after->crossings[k], c.crossings[k], 1e-9 * c.crossings[k]);
    }
  }
}

TEST(ModelCertificate, SaysHowDelaysEntered) {
  Model m = Model::Empty(2);
  m.dataType = 1;
  for (int e : {0, 3}) {
    m.elementPoles[e] = {Term(1, 1e9, 0.0)};
    m.elementPoles[e][0].SetResidue00(Complex(0.5, 0.0));
  }
  EXPECT_EQ(CertifyModel(m, nullptr)->delays, DelayHandling::kNone);
  m.delay = {1e-9, 3e-9, 2e-9, 4e-9};  // 1 and 3 ns per input, 0 and 1 ns per output
  EXPECT_EQ(CertifyModel(m, nullptr)->delays, DelayHandling::kFactored);
  m.delay = {1e-9, 3e-9, 3e-9, 1e-9};
  EXPECT_EQ(CertifyModel(m, nullptr)->delays, DelayHandling::kIgnored);
  m.dataType = 2;
  m.delay = {1e-9, 1e-9, 1e-9, 1e-9};  // a Y matrix's Hermitian part feels any delay
  EXPECT_EQ(CertifyModel(m, nullptr)->delays, DelayHandling::kIgnored);
  m.dataType = 4;
  EXPECT_FALSE(CertifyModel(m, nullptr).ok());
}

// A common-pole model as per-element lists of the same terms.
Model PerElementCopy(const Model& common) {
  Model m = common;
  m.shape = PoleShape::kIndividual;
  m.commonPoles.clear();
  m.elementPoles.assign(static_cast<std::size_t>(m.n) * m.n, {});
  for (int e = 0; e < m.n * m.n; ++e) {
    for (const PoleTerm& t : common.commonPoles) {
      m.elementPoles[e].push_back(Term(1, t.GetPole().re, t.GetPole().im));
      m.elementPoles[e].back().SetResidue00(t.GetResidue(e / m.n, e % m.n));
    }
  }
  return m;
}

// RMS over the band of the difference of two models' responses.
double RmsDifference(const Model& x, const Model& y, const std::vector<double>& band) {
  const ModelView a{&x, nullptr, x.individual(), x.symmetric};
  const ModelView b{&y, nullptr, y.individual(), y.symmetric};
  const int n = x.n;
  double change = 0.0;
  for (double f : band) {
    for (int e = 0; e < n * n; ++e) {
      change += std::pow(
          Abs(EvaluateElement(a, e / n, e % n, f) - EvaluateElement(b, e / n, e % n, f)), 2);
    }
  }
  return std::sqrt(change / (band.size() * n * n));
}

TEST(ResiduePerturbation, MakesPlantedViolationsPassiveWithASmallChange) {
  std::vector<double> band;
  for (int k = 0; k < 300; ++k) band.push_back(1e7 * std::pow(1e4, k / 299.0));
  for (ModelCase& c : ModelCases()) {
    SCOPED_TRACE(c.name);
    const bool scattering = c.model.dataType == 1;
    const double before = DenseWorst(c.model, 1e6, 1e12, scattering);
    const Model original = c.model;
    std::ostringstream log;
    const auto report =
        EnforceByResiduePerturbation(c.model, nullptr, band, {}, RunContext(log, nullptr, nullptr));
    ASSERT_TRUE(report.ok()) << log.str();
    EXPECT_TRUE(report->passive);
    EXPECT_TRUE(CertifyModel(c.model, nullptr)->passive);
    const double after = DenseWorst(c.model, 1e6, 1e12, scattering);
    if (scattering) {
      EXPECT_LE(after, 1.0);
    } else {
      EXPECT_GE(after, 0.0);
    }
    // No change smaller than the excess can remove it (Weyl), and the
    // smallest change over the band stays of that order: its RMS over the
    // band is at most twice the excess.
    const double excess = scattering ? before - 1.0 : -before;
    const double change = RmsDifference(original, c.model, band);
    EXPECT_GT(report->relativeChange, 0.0);
    EXPECT_LT(change, 2.0 * excess) << excess;
    EXPECT_EQ(c.model.elementPoles.size(), original.elementPoles.size());
    EXPECT_EQ(c.model.commonPoles.size(), original.commonPoles.size());
    // Allowed less change than the rounds' bound, it gives up and leaves
    // the model alone; allowed plenty, it ends where it ends without.
    for (const double allowed : {1e-3, 10.0}) {
      Model again = original;
      PerturbationOptions options;
      options.giveUpChange = allowed * report->relativeChange;
      const auto given = EnforceByResiduePerturbation(again, nullptr, band, options,
                                                      RunContext(log, nullptr, nullptr));
      ASSERT_TRUE(given.ok());
      EXPECT_EQ(given->gaveUp, allowed < 1.0);
      EXPECT_EQ(given->passive, allowed > 1.0);
      EXPECT_EQ(RmsDifference(again, allowed < 1.0 ? original : c.model, band), 0.0);
    }
    if (original.individual()) continue;
    // A common-pole model takes a shortcut through the dual that never
    // forms the elements' constraint rows; its per-element copy takes the
    // general route and must end at the same model.
    Model copy = PerElementCopy(original);
    ASSERT_TRUE(
        EnforceByResiduePerturbation(copy, nullptr, band, {}, RunContext(log, nullptr, nullptr))
            .ok());
    EXPECT_LT(RmsDifference(copy, c.model, band), 1e-6 * change);
  }
}

// A fitted constant far above 1 that a term above the band cancels inside
// it (1.3 - 1 / (1 + j f / P), 0.3 over the band): the constant comes down
// with the term's residue, a margin inside the limit (which keeps the
// certificate on the half-size matrix), and the band keeps its 0.3.
TEST(ResiduePerturbation, BringsACancelledConstantDownWithItsTerm) {
  std::vector<double> band;
  for (int k = 0; k < 300; ++k) band.push_back(1e7 * std::pow(1e3, k / 299.0));
  Model m = OnePort(1, 1.3, {Term(1, 1e12, 0.0)});
  m.elementPoles[0][0].SetResidue00(Complex(-1.0, 0.0));
  const Model original = m;
  std::ostringstream log;
  const auto report =
      EnforceByResiduePerturbation(m, nullptr, band, {}, RunContext(log, nullptr, nullptr));
  ASSERT_TRUE(report.ok()) << log.str();
  EXPECT_TRUE(report->passive);
  EXPECT_TRUE(report->constantChanged);
  EXPECT_LE(std::abs(m.constant[0]), 1.0 - 1e-3 + 1e-9);
  const auto cert = CertifyModel(m, nullptr);
  EXPECT_TRUE(cert->passive);
  EXPECT_TRUE(cert->halfSize);
  EXPECT_LE(DenseWorst(m, 1e6, 1e16, true), 1.0);
  // Over the band the term is within 1e-2 of 1, so the change there is of
  // that order, not the constant's 0.3.
  EXPECT_LT(RmsDifference(original, m, band), 3e-3) << log.str();
}

// The magnitude bound holds at every frequency (a sharp pair's peak
// included); below 1 it certifies without a Hamiltonian, delays and all, and
// at or above 1 the Hamiltonian decides; an unstable pole or a counted
// proportional term leaves the response unbounded.
TEST(MagnitudeBound, BoundsTheResponseAndCertifiesBelowOne) {
  for (ModelCase& c : ModelCases()) {
    if (c.model.dataType != 1) {
      EXPECT_TRUE(std::isinf(ScatteringMagnitudeBound(c.model, nullptr)));
      continue;
    }
    SCOPED_TRACE(c.name);
    const double bound = ScatteringMagnitudeBound(c.model, nullptr);
    EXPECT_LE(DenseWorst(c.model, 1e6, 1e12, true), bound * (1 + 1e-12));
    EXPECT_GE(bound, 1.0);
    EXPECT_GT(CertifyModel(c.model, nullptr)->hamiltonianOrder, 0);
    // Scaled below the bound's 1, with a delay: passive by the bound alone.
    Model small = c.model;
    for (double& d : small.constant) d *= 0.9 / bound;
    const auto scale = [&](PoleList& list, int n) {
      for (PoleTerm& t : list) {
        for (int e = 0; e < n * n; ++e) {
          t.SetResidue(e / n, e % n, t.GetResidue(e / n, e % n) * (0.9 / bound));
        }
      }
    };
    scale(small.commonPoles, small.n);
    for (PoleList& list : small.elementPoles) scale(list, 1);
    small.delay.assign(small.delay.size(), 1e-9);
    EXPECT_NEAR(ScatteringMagnitudeBound(small, nullptr), 0.9, 1e-12);
    const auto cert = CertifyModel(small, nullptr);
    ASSERT_TRUE(cert.ok());
    EXPECT_TRUE(cert->passive && cert->byMagnitudeBound && cert->bands.empty());
    EXPECT_EQ(cert->hamiltonianOrder, 0);
    Model unstable = small;
    PoleTerm& first = unstable.individual() ? unstable.elementPoles[0][0] : unstable.commonPoles[0];
    first.SetPole(-first.GetPole().re, first.GetPole().im);
    EXPECT_TRUE(std::isinf(ScatteringMagnitudeBound(unstable, nullptr)));
    Model proportional = small;
    proportional.proportional.assign(proportional.n * proportional.n, 1e-12);
    EXPECT_TRUE(std::isinf(ScatteringMagnitudeBound(proportional, nullptr)));
  }
}

// Added poles go where the bands leave the data band (here 10 to 100 Hz):
// three pairs of rising damping at the worst point, or at the outside part's
// geometric middle when the worst point is not there, a real pole too above
// the band; none for a band inside the data band. Their residues are zero, so
// the response is unchanged, and they sit before the constant's term.
TEST(PoleAugmentation, PlacesDampedPolesWhereTheBandsLeaveTheDataBand) {
  const double inf = HUGE_VAL;
  struct Case {
    CertifiedBand band;
    std::vector<double> at;  // |p| of the added terms, pairs then real poles
    int far = 0;             // real poles far above the band asked for
  } cases[] = {
      {{1.0, 5.0, 3.0, 2.0, 2.0}, {3, 3, 3}},
      {{50.0, 200.0, 80.0, 2.0, 2.0},
       {std::sqrt(100.0 * 200.0), std::sqrt(100.0 * 200.0), std::sqrt(100.0 * 200.0),
        std::sqrt(100.0 * 200.0)}},
      {{0.0, inf, inf, 2.0, 2.0}, {5, 5, 5, 200, 200, 200, 200}},
      // Far real poles come only where the band reaches infinity.
      {{0.0, inf, inf, 2.0, 2.0}, {5, 5, 5, 200, 200, 200, 200, 200, 400, 800}, 3},
      {{150.0, 200.0, 180.0, 2.0, 2.0}, {180, 180, 180, 180}, 3},
      {{20.0, 30.0, 25.0, 2.0, 2.0}, {}},
  };
  for (bool common : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.band.from) + (common ? " common" : " individual"));
      Model m = common ? RotatedTwoPort(40.0, 0.3, 5.0, 60.0, 0.4)
                       : OnePort(1, 0.2, {Term(1, 40.0, 0.0), Term(1, 1e25, 0.0)});
      const Model before = m;
      const std::vector<Complex> added =
          AddPolesForBands(m, {c.band}, 10.0, 100.0, kAddedPairDampings, c.far);
      ASSERT_EQ(added.size(), c.at.size());
      for (std::size_t k = 0; k < added.size(); ++k) {
        EXPECT_NEAR(Abs(added[k]), c.at[k], 1e-9 * c.at[k]);
        EXPECT_GT(added[k].re, 0.0);
        EXPECT_LE(added[k].im, 0.0);  // a pair is stored by its lower pole
        if (k < 3) {
          EXPECT_NEAR(added[k].re / Abs(added[k]), 0.2 + 0.3 * k, 1e-12);
        }
      }
      const PoleList& list = common ? m.commonPoles : m.elementPoles[0];
      const PoleList& old = common ? before.commonPoles : before.elementPoles[0];
      ASSERT_EQ(list.size(), old.size() + added.size());
      if (!common) {
        EXPECT_EQ(Abs(list.back().GetPole()), 1e25);
      }
      const ModelView a{&before, nullptr, before.individual(), before.symmetric};
      const ModelView b{&m, nullptr, m.individual(), m.symmetric};
      for (double f : {0.0, 3.0, 70.0, 1e4}) {
        for (int e = 0; e < m.n * m.n; ++e) {
          EXPECT_EQ(EvaluateElement(a, e / m.n, e % m.n, f),
                    EvaluateElement(b, e / m.n, e % m.n, f));
        }
      }
    }
  }
}

}  // namespace
}  // namespace cfit
