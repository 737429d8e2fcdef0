// The routines of one element's fit on explicit series: starting poles,
// relocation, delay estimation, and the whole element fit against closed
// forms.
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

TEST(PlaceStartingPoles, RegularPolesResonancesAndCloseTurningPoints) {
  Engine e;
  // Monotone: point 2, then every 10 points while the real part moves by
  // more than 0.05; no closing pole without a feature. Newest first.
  const FitSeries ramp = Series(60, 1e8, 1e8, [](double f) { return C(1.0 - 1e-10 * f, 0.0); });
  ASSERT_TRUE(PlaceStartingPoles(ramp, {}, 200, e.limits, e.poles, e.run));
  ASSERT_EQ(e.poles.size(), 7u);
  for (std::size_t k = 0; k < 7; ++k) {
    const double fk = k == 6 ? 2e8 : (60 - 10.0 * k) * 1e8;
    EXPECT_EQ(e.poles[k].GetPole(), Complex(-fk, -0.5 * fk)) << k;
  }
  // One narrow peak at 4.6 GHz: a pole of quality 100 just after it, the
  // closing pole at the top and the regular pole of point 2.
  const FitSeries peak = Series(101, 1e8, 1e8, [](double f) {
    const double x = f / 1e8 - 46.0;
    return C(1.0 / (1.0 + x * x), 0.0);
  });
  ASSERT_TRUE(PlaceStartingPoles(peak, {}, 200, e.limits, e.poles, e.run));
  ASSERT_EQ(e.poles.size(), 3u);
  EXPECT_EQ(e.poles[0].GetPole(), Complex(-0.01 * 1.01e10, -1.01e10));
  EXPECT_EQ(e.poles[1].GetPole(), Complex(-0.01 * 4.7e9, -4.7e9));
  // Turning points within 1 % of each other: the later pole is as sharp as
  // their spacing and the working quality limit follows, up to the bound.
  const double values[] = {0.0, 1.0, -2.0, 3.0, -4.0};
  FitSeries close = Series(5, 1e9, 5e6, [&](double f) {
    return C(values[static_cast<int>(std::lround((f - 1e9) / 5e6))], 0.0);
  });
  ASSERT_TRUE(PlaceStartingPoles(close, {}, 200, e.limits, e.poles, e.run));
  EXPECT_DOUBLE_EQ(e.poles[e.poles.size() - 3].GetPole().re, -5e6);
  EXPECT_NEAR(e.limits.workingQLimit, 1.02e9 / 5e6, 1e-6);
  PoleLimits tight{100.0, 150.0};
  ASSERT_TRUE(PlaceStartingPoles(close, {}, 200, tight, e.poles, e.run));
  EXPECT_EQ(tight.workingQLimit, 150.0);
  // Too few points: error 6; falling frequencies: a silent failure.
  EXPECT_EQ(PlaceStartingPoles(Series(1, 1e9, 1e9, [](double) { return C(0.5); }), {}, 200,
                               e.limits, e.poles, e.run)
                .failure()
                .code,
            ErrorCode::kNoData);
  close.frequency[3] = close.frequency[1];
  const Status falling = PlaceStartingPoles(close, {}, 200, e.limits, e.poles, e.run);
  EXPECT_FALSE(falling.ok());
  EXPECT_FALSE(falling.failure().code.has_value());
  // Room for one pole only: the scan stops with the warning.
  ASSERT_TRUE(PlaceStartingPoles(ramp, {}, 10, e.limits, e.poles, e.run));
  EXPECT_EQ(e.poles.size(), 1u);
  EXPECT_EQ(e.log.str(),
            " *** Warning: cannot add more poles because of the matrix column size ***\n"
            "\n *** Stopped at frequency: 1e+09\n");
}

TEST(PlaceStartingPoles, ReactiveTopRaisesBothLimits) {
  Engine e;
  FitOptions options;
  options.asymptoteMode = kNoAsymptote;
  options.dataType = 3;  // Z
  const FitSeries inductor = Series(20, 1e8, 1e8, [](double f) { return C(1e-3, 1e-9 * f); });
  ASSERT_TRUE(PlaceStartingPoles(inductor, options, 200, e.limits, e.poles, e.run));
  EXPECT_EQ(e.limits.poleRatioBound, 1e10);
  EXPECT_EQ(e.limits.workingQLimit, 1e10);
  EXPECT_EQ(e.poles.front().GetPole(), Complex(-2e9, -2e12));
}

PoleList OnePole(double re, double im, Complex sigma = {}) {
  PoleTerm t(1);
  t.SetPole(re, im);
  t.SetResidue00(sigma);
  return {t};
}

TEST(FindCPols, FiltersMirrorsAndFallsBack) {
  Engine e;
  const FitSeries band = Series(10, 1e9, 1e8, [](double) { return C(0.5); });
  FitOptions inBand;
  inBand.callerBand = true;
  inBand.lowerBandFrequency = 1e9;
  inBand.upperBandFrequency = 2e10;
  struct Case {
    PoleList start;
    FitOptions options;
    Complex expected;
  } cases[] = {
      {OnePole(-1e7, -3e9), {}, {-1e7, -3e9}},           // quality 300: kept
      {OnePole(-1e7, -5e9), {}, {-1e9, 0.0}},            // quality 500: dropped
      {OnePole(2e9, 0.0), {}, {-2e9, 0.0}},              // unstable: mirrored
      {OnePole(-5e4, 0.0), {}, {-1e9, 0.0}},             // far below the band
      {OnePole(-5e8, 0.0), inBand, {-1e9, 0.0}},         // outside the caller's band
      {OnePole(-1e9, 0.0, {2e9, 0.0}), {}, {-3e9, 0.0}}  // zero of 1 + c / (s - q)
  };
  for (Case& c : cases) {
    e.poles = c.start;
    ASSERT_TRUE(FindCPols(band, c.options, e.limits, e.work, e.poles, e.run));
    ASSERT_EQ(e.poles.size(), 1u);
    EXPECT_NEAR(e.poles[0].GetPole().re, c.expected.re, 1e-3);
    EXPECT_NEAR(e.poles[0].GetPole().im, c.expected.im, 1e-1);
  }
  e.poles.clear();
  EXPECT_EQ(FindCPols(band, {}, e.limits, e.work, e.poles, e.run).failure().code,
            ErrorCode::kFitFailed);
}

C Delayed(double f, double tau, double magnitude = 0.5) {
  return magnitude * std::exp(C(0.0, -2.0 * std::numbers::pi * f * tau));
}

TEST(EstimateDelay, LinearPhaseAndTheCasesWithoutDelay) {
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

  EXPECT_EQ(
      EstimateDelay(Series(9, 1e8, 5e7, [](double f) { return Delayed(f, 1e-10); })).failure().code,
      ErrorCode::kInconsistentData);
  const std::function<C(double)> none[] = {
      [](double) { return C(0.3, 0.1); },               // flat phase
      [](double f) { return Delayed(f, 1e-12); },       // shorter than the guard
      [](double f) { return Delayed(f, 2e-9, 1e-4); },  // below the small-signal level
      [](double f) {                                    // too rough
        return Delayed(f, std::lround((f - 1e8) / 5e7) % 2 == 0 ? 2e-9 : 3e-9);
      }};
  for (const auto& value : none) EXPECT_EQ(*EstimateDelay(Series(60, 1e8, 5e7, value)), 0.0);
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

TEST(ExtendBand, AddedPointsReachTenBandwidthsAboveTheBand) {
  struct Case {
    std::vector<double> freqs;
    std::size_t added;
    double second;  // the second added frequency
    double reach;   // the last one
  };
  std::vector<double> coarse;
  for (int k = 1; k <= 40; ++k) coarse.push_back(1e9 * k);
  coarse.push_back(1000e9);
  std::vector<double> fine;
  for (int k = 0; k <= 10; ++k) fine.push_back(1e9 + 1e8 * k);
  // K = floor(10 * 999e9 / 960e9) = 10, 2K <= 41: the last step repeated;
  // K = 100 > 11 / 2: 5 geometric points.
  const Case cases[] = {{coarse, 10, 1000e9 + 2 * 960e9, 1000e9 + 10 * 960e9},
                        {fine, 5, 2e9 * std::pow(6.0, 2.0 / 5.0), 2e9 + 10 * 1e9}};
  for (const Case& c : cases) {
    std::vector<PortMatrix> points;
    for (double f : c.freqs) {
      points.emplace_back(2);
      points.back().set_frequency(f);
    }
    const FitSeries band = ExtendBand(points);
    EXPECT_EQ(band.sampled, static_cast<int>(c.freqs.size()));
    ASSERT_EQ(band.frequency.size(), c.freqs.size() + c.added);
    EXPECT_DOUBLE_EQ(band.frequency.back(), c.reach);
    EXPECT_DOUBLE_EQ(band.frequency[c.freqs.size() + 1], c.second);
  }
}

}  // namespace
}  // namespace cfit
