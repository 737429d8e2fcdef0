// The routines of one element's fit on explicit series: delay estimation against linear phase, and
// the whole element fit against a known rational function; then the evaluation and the sweeps of a
// model set up term by term.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <numbers>
#include <sstream>

#include "api/cfit_impl.h"
#include "fit/delay.h"
#include "fit/fit_driver.h"
#include "fit/model_evaluation.h"
#include "fit/pole_identification.h"
#include "fit/sweeps.h"

namespace cfit {
namespace {

using C = std::complex<double>;

FitSeries Series(int count, double start, double step, const std::function<C(double)>& value) {
  FitSeries s;
  for (int k = 0; k < count; ++k) {
    const double f = start + step * k;
    const C v = value(f);
    s.frequency.push_back(f);
    s.value.push_back({v.real(), v.imag()});
  }
  s.sampled = count;
  return s;
}

C Delayed(double f, double tau, double magnitude = 0.5) {
  return magnitude * std::exp(C(0.0, -2.0 * std::numbers::pi * f * tau));
}

// The estimate stays short of the delay by 5 / (last frequency); removing it
// leaves the short residual delay.
TEST(EstimateDelay, LinearPhase) {
  FitSeries delayed = Series(199, 1e8, 5e7, [](double f) { return Delayed(f, 2e-9); });
  const Result<double> tau = EstimateDelay(delayed);
  ASSERT_TRUE(tau);
  EXPECT_NEAR(*tau, 2e-9 - 5.0 / (1e8 + 5e7 * 198), 1e-22);
  ApplyDelay(delayed, *tau, true);
  EXPECT_LT(std::abs(C(delayed.value[20].re, delayed.value[20].im) -
                     Delayed(delayed.frequency[20], 2e-9 - *tau)),
            1e-12);
}

// d + r1 / (s - q1) + a complex pair, s = j f.
C KnownElement(double f) {
  const C s(0.0, f), q1(-1e9, 0.0), q2(-2e8, -3e9), r1(3e8, 0.0), r2(1e8, 5e7);
  return 0.1 + r1 / (s - q1) + r2 / (s - q2) + std::conj(r2) / (s - std::conj(q2));
}

TEST(FitElementSeries, RecoversTheTermsOfAKnownRationalFunction) {
  std::ostringstream log;
  const RunContext run{log, nullptr, nullptr};
  WorkingSet work;
  work.Allocate(2000, 200);
  PoleLimits limits;
  PoleList poles;
  const FitSeries series = Series(301, 1e7, 3.33e7, KnownElement);
  ResidueTarget target{series.value};
  const Result<ResidueFit> fit = FitElementSeries(series, {}, target, work, limits, poles, run);
  ASSERT_TRUE(fit);
  EXPECT_NEAR(fit->constant, 0.1, 1e-9);
  EXPECT_EQ(fit->proportional, 0.0);
  EXPECT_LT(fit->maxError, 1e-8);
  PoleList kept;
  CommitPoles(poles, kept, limits.workingQLimit, {});
  // Stored form: real P = -q, R = r / P; pair P = (-Re q, Im q), R = 2 conj(r / -q).
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_NE(kept[0].IsReal(), kept[1].IsReal());
  for (const PoleTerm& t : kept) {
    const C p(t.GetPole().re, t.GetPole().im), r(t.GetResidue00().re, t.GetResidue00().im);
    const C want = t.IsReal() ? C(3e8 / 1e9) : 2.0 * std::conj(C(1e8, 5e7) / C(2e8, 3e9));
    EXPECT_LT(std::abs(p - (t.IsReal() ? C(1e9) : C(2e8, -3e9))), 1e-3 * std::abs(p));
    EXPECT_LT(std::abs(r - want), 1e-6 * std::abs(want));
  }
  // The same element with a prescribed value at 0 Hz meets it exactly.
  FitOptions dc;
  dc.dcConstrained = true;
  target.dcValue = 0.5;
  const Result<ResidueFit> constrained =
      FitElementSeries(series, dc, target, work, limits, poles, run);
  ASSERT_TRUE(constrained);
  C atDc = constrained->constant;
  for (const PoleTerm& t : poles) atDc += t.GetResidue00().re;
  EXPECT_NEAR(atDc.real(), 0.5, 1e-12);
}

// ---------------------------------------------------------------------------
// Model evaluation where it differs from the caller-defined closed forms
// (common poles, the symmetric lower triangle, the asymptote mode), and the
// model sweeps.

// A fitter with an individual-pole model of n ports with one real term per
// element (pole 1e9, residue 0.5 + element index), not symmetric.
std::unique_ptr<cCfit> DefinedFitter(int n, int dataType = 1) {
  std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
  EXPECT_EQ(f->DefineModel(n, dataType, nullptr, false), 1);
  for (int k = 0; k < n * n; ++k) {
    const double pole[2] = {1e9, 0.0}, residue[2] = {0.5 + k, 0.0};
    EXPECT_EQ(f->SetElementModel(k / n, k % n, 1, 0.0, 0.0, 0.0, pole, residue), 1);
  }
  return f;
}

void ExpectNear(Complex got, C want, double tol = 1e-13) {
  EXPECT_LE(std::abs(C(got.re, got.im) - want), tol * std::max(1.0, std::abs(want))) << want;
}

TEST(EvaluateElement, CommonPolesSymmetryAndTheAsymptoteMode) {
  auto f = DefinedFitter(2);
  Model& m = *f->state().model;
  m.shape = PoleShape::kCommon;  // the residue matrix, no delay
  m.commonPoles.assign(2, PoleTerm(2));
  m.commonPoles[0].SetPole(1e9, -4e9);
  m.commonPoles[0].SetResidue(0, 1, {0.2, 0.1});
  m.commonPoles[1].SetPole(5e8, 0.0);
  m.commonPoles[1].SetResidue(0, 1, {0.3, 0.0});
  m.delay.assign(4, 1e-9);
  const C one(1.0, 0.0), jf(0.0, 1e9), p(1e9, -4e9), r(0.2, 0.1);
  ExpectNear(EvaluateElement(f->state(), 0, 1, 0.0), 0.5);
  ExpectNear(EvaluateElement(f->state(), 0, 1, 1e9),
             0.5 * (r / (one + jf / p) + std::conj(r) / (one + jf / std::conj(p))) +
                 0.3 / (one + jf / 5e8));
  ExpectNear(EvaluateElement(f->state(), 1, 0, 1e9), 0.0);
  m.shape = PoleShape::kIndividual;  // a symmetric model reads (1, 0) for (0, 1)
  f->state().network.symmetric = true;
  EXPECT_EQ(EvaluateElement(f->state(), 0, 1, 2e9), EvaluateElement(f->state(), 1, 0, 2e9));
  auto g = DefinedFitter(1, 2);
  Model& y = *g->state().model;  // Y data: e counts in asymptote mode 2, not in mode 1
  y.constant[0] = 1.0, y.proportional[0] = 1e-10, y.delay[0] = 1e-9;
  y.elementPoles[0][0].SetResidue00({0.0, 0.0});
  ExpectNear(EvaluateElement(g->state(), 0, 0, 0.0), 1.0);  // no delay, no e at DC
  ExpectNear(EvaluateElement(g->state(), 0, 0, 250e6), C(1.0, 0.025) * C(0.0, -1.0), 1e-12);
  g->SetElementAsymptote(1, 0, 0, 0.0);
  ExpectNear(EvaluateElement(g->state(), 0, 0, 250e6), C(0.0, -1.0), 1e-12);
}

// A linear grid up to the first value not below stop; another fitter's
// frequencies; a symmetric model fills the upper triangle. The adaptive grid
// starts at a quarter of the smallest pole (or at 0 Hz when asked), reaches
// the stop frequency, and a step above the smallest never changes the model
// by more than t.
TEST(Sweeps, LinearAdaptiveAndAnotherFittersGrids) {
  auto f = DefinedFitter(2);
  EXPECT_EQ(f->SweepModelLinear(3e6, 0.0, 1e7), 1);
  ASSERT_EQ(f->state().network.data->point_count(), 5);  // 0, 3, 6, 9, 12 MHz
  ExpectNear(f->state().network.data->points()[1].At(1, 0), 2.5 / C(1.0, 3e6 / 1e9));
  auto other = DefinedFitter(1);
  ASSERT_EQ(other->SweepModelLinear(1.0, 1.0, 4.0), 1);
  f->state().network.symmetric = true;
  EXPECT_EQ(f->SweepModelAtDataOf(other.get()), 1);
  ASSERT_EQ(f->state().network.data->point_count(), 4);
  EXPECT_EQ(f->state().network.data->back().frequency(), 4.0);
  for (ConstMatrixView p : f->state().network.data->points())
    EXPECT_TRUE(p.At(0, 1) == p.At(1, 0) && p.At(0, 1).re != 0.0);
  f->state().network.symmetric = false;
  const double t = 0.2, h0 = t * 0.25 * 1e9;
  ASSERT_EQ(f->SweepModelAdaptive(t, 1e11), 1);
  const ConstPointRange p = f->state().network.data->points();
  ASSERT_GT(p.size(), 10u);
  EXPECT_DOUBLE_EQ(p[0].frequency(), h0);
  EXPECT_GE(p.back().frequency(), 1e11);
  for (std::size_t k = 1; k < p.size(); ++k) {
    const double h = p[k].frequency() - p[k - 1].frequency();
    double sum = 0.0;
    for (int e = 0; e < 4; ++e)
      sum += std::pow(Abs(p[k].At(e / 2, e % 2) - p[k - 1].At(e / 2, e % 2)), 2);
    EXPECT_TRUE(h <= h0 * 1.000001 || std::sqrt(sum) <= t * 1.000001) << k;
  }
  f->state().settings.addZeroHzPoint = true;
  ASSERT_EQ(f->SweepModelAdaptive(0.5, 1e10), 1);
  EXPECT_EQ(f->state().network.data->front().frequency(), 0.0);
  ExpectNear(f->state().network.data->front().At(1, 1), 3.5);
  ASSERT_EQ(f->SweepModelAdaptive(0.5, -1.0), 1);  // stop below the first point
  EXPECT_EQ(f->state().network.data->point_count(), 1);
}

}  // namespace
}  // namespace cfit
