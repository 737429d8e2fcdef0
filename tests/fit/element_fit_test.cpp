// The routines of one element's fit on explicit series: the limits of the
// starting poles, delay estimation against linear phase, and the whole
// element fit against a known rational function.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <sstream>

#include "fit/delay.h"
#include "fit/fit_driver.h"
#include "fit/pole_identification.h"

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

struct Engine {
  std::ostringstream log;
  RunContext run{log, nullptr, nullptr};
  WorkingSet work;
  PoleLimits limits;
  PoleList poles;
  Engine() { work.Allocate(2000, 200); }
};

// Room for one pole only: the scan stops with the warning.
TEST(PlaceStartingPoles, TheColumnLimitStopsTheScan) {
  Engine e;
  const FitSeries ramp = Series(60, 1e8, 1e8, [](double f) { return C(1.0 - 1e-10 * f, 0.0); });
  ASSERT_TRUE(PlaceStartingPoles(ramp, {}, 10, e.limits, e.poles, e.run));
  EXPECT_EQ(e.poles.size(), 1u);
  EXPECT_EQ(e.log.str(),
            " *** Warning: cannot add more poles because of the matrix column size ***\n"
            "\n *** Stopped at frequency: 1e+09\n");
}

C Delayed(double f, double tau, double magnitude = 0.5) {
  return magnitude * std::exp(C(0.0, -2.0 * std::numbers::pi * f * tau));
}

TEST(EstimateDelay, LinearPhase) {
  const double fLast = 1e8 + 5e7 * 198;
  FitSeries delayed = Series(199, 1e8, 5e7, [](double f) { return Delayed(f, 2e-9); });
  const Result<double> tau = EstimateDelay(delayed);
  ASSERT_TRUE(tau);
  EXPECT_NEAR(*tau, 2e-9 - 5.0 / fLast, 1e-22);
  // Removing the estimate leaves the short residual delay.
  ApplyDelay(delayed, *tau, true);
  const C residual = Delayed(delayed.frequency[20], 2e-9 - *tau);
  EXPECT_NEAR(delayed.value[20].re, residual.real(), 1e-12);
  EXPECT_NEAR(delayed.value[20].im, residual.imag(), 1e-12);
}

// d + r1 / (s - q1) + a complex pair, s = j f.
C KnownElement(double f) {
  const C s(0.0, f), q1(-1e9, 0.0), q2(-2e8, -3e9), r1(3e8, 0.0), r2(1e8, 5e7);
  return 0.1 + r1 / (s - q1) + r2 / (s - q2) + std::conj(r2) / (s - std::conj(q2));
}

TEST(FitElementSeries, RecoversTheTermsOfAKnownRationalFunction) {
  Engine e;
  const FitSeries series = Series(301, 1e7, 3.33e7, KnownElement);
  ResidueTarget target;
  target.value = series.value;
  const Result<ResidueFit> fit =
      FitElementSeries(series, {}, target, e.work, e.limits, e.poles, e.run);
  ASSERT_TRUE(fit);
  EXPECT_NEAR(fit->constant, 0.1, 1e-9);
  EXPECT_EQ(fit->proportional, 0.0);
  EXPECT_LT(fit->maxError, 1e-8);
  PoleList kept;
  CommitPoles(e.poles, kept, e.limits.workingQLimit, {});
  // Stored form: real P = -q, R = r / P; pair P = (-Re q, Im q), R = 2 conj(r / -q).
  ASSERT_EQ(kept.size(), 2u);
  bool realSeen = false, pairSeen = false;
  for (const PoleTerm& t : kept) {
    const C p(t.GetPole().re, t.GetPole().im), r(t.GetResidue00().re, t.GetResidue00().im);
    const C want = t.IsReal() ? C(3e8 / 1e9) : 2.0 * std::conj(C(1e8, 5e7) / C(2e8, 3e9));
    EXPECT_LT(std::abs(p - (t.IsReal() ? C(1e9) : C(2e8, -3e9))), 1e-3 * std::abs(p));
    EXPECT_LT(std::abs(r - want), 1e-6 * std::abs(want));
    (t.IsReal() ? realSeen : pairSeen) = true;
  }
  EXPECT_TRUE(realSeen && pairSeen);
  // The same element with a prescribed value at 0 Hz meets it exactly.
  FitOptions dc;
  dc.dcConstrained = true;
  target.dcValue = 0.5;
  const Result<ResidueFit> constrained =
      FitElementSeries(series, dc, target, e.work, e.limits, e.poles, e.run);
  ASSERT_TRUE(constrained);
  C atDc = constrained->constant;
  for (const PoleTerm& t : e.poles) atDc += t.GetResidue00().re;
  EXPECT_NEAR(atDc.real(), 0.5, 1e-12);
}

}  // namespace
}  // namespace cfit
