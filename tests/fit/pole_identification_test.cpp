// Starting poles, the sigma solve and the pole relocation.
#include "fit/pole_identification.h"

#include <gtest/gtest.h>

#include <complex>
#include <functional>
#include <memory>
#include <vector>

#include "api/cfit_impl.h"
#include "fit/fit_basis.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

// A 1-port fitter holding v(k) at frequencies f(k), with empty model tables,
// ready for the identification steps of element (0, 0).
std::unique_ptr<cCfit> OnePort(const std::vector<double>& freqs,
                               const std::function<Complex(int)>& value) {
  std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
  f->BeginData(1, 1, nullptr);
  double row[2];
  double* rows[1] = {row};
  DataPointRecord r{0.0, rows};
  for (std::size_t k = 0; k < freqs.size(); ++k) {
    r.frequency = freqs[k];
    const Complex v = value(static_cast<int>(k));
    row[0] = v.re;
    row[1] = v.im;
    EXPECT_TRUE(f->AddDataPoint(&r));
  }
  f->EndData();
  FitterState& s = f->state();
  s.model = std::make_unique<FittedModel>();
  s.model->n = 1;
  s.model->constant.assign(1, 0.0);
  s.model->proportional.assign(1, 0.0);
  s.model->delay.assign(1, 0.0);
  s.model->rmsError.assign(1, 0.0);
  s.model->maxError.assign(1, 0.0);
  s.model->elementPoles.assign(1, PoleList{});
  return f;
}

std::vector<double> Frequencies(int count, double start, double step) {
  std::vector<double> out;
  for (int k = 0; k < count; ++k) out.push_back(start + step * k);
  return out;
}

TEST(PlaceStartingPoles, MonotoneCurveGetsRegularPolesOnly) {
  const auto freqs = Frequencies(60, 1e8, 1e8);
  auto f = OnePort(freqs, [](int k) { return Complex(1.0 - 0.01 * k, 0.0); });
  ASSERT_TRUE(PlaceStartingPoles(f->state()));
  const PoleList& poles = f->state().fit.working;
  // Point 2, then points 10, 20, ..., 60 (the real part moves by 0.08, then
  // 0.1 between them); no closing pole without a feature.
  ASSERT_EQ(poles.size(), 7u);
  const double expected[] = {60, 50, 40, 30, 20, 10, 2};  // newest first
  for (std::size_t k = 0; k < poles.size(); ++k) {
    const double fk = freqs[static_cast<std::size_t>(expected[k]) - 1];
    EXPECT_EQ(poles[k].GetPole(), Complex(-fk, -0.5 * fk)) << k;
  }
  EXPECT_EQ(f->state().model->maxError[0], 1.0);  // largest |v - d|
}

TEST(PlaceStartingPoles, ResonanceGetsAPoleJustAfterThePeak) {
  const auto freqs = Frequencies(101, 1e8, 1e8);
  // A narrow peak of the real part at point index 45; the rise before it
  // stays below the regular-pole threshold at the points checked.
  auto f = OnePort(freqs, [](int k) {
    const double x = k - 45.0;
    return Complex(1.0 / (1.0 + x * x), 0.0);
  });
  ASSERT_TRUE(PlaceStartingPoles(f->state()));
  const PoleList& poles = f->state().fit.working;
  ASSERT_EQ(poles.size(), 3u);
  const double after = freqs[46];
  const double last = freqs.back();
  EXPECT_EQ(poles[0].GetPole(), Complex(-0.01 * last, -last));    // closing pole
  EXPECT_EQ(poles[1].GetPole(), Complex(-0.01 * after, -after));  // the resonance
  EXPECT_EQ(poles[2].GetPole(), Complex(-freqs[1], -0.5 * freqs[1]));
}

TEST(PlaceStartingPoles, CloseTurningPointsNarrowThePoleAndRaiseTheQualityLimit) {
  std::vector<double> freqs;
  for (int k = 0; k < 5; ++k) freqs.push_back(1e9 * (1.0 + 0.005 * k));
  const double values[] = {0.0, 1.0, -2.0, 3.0, -4.0};
  auto f = OnePort(freqs, [&](int k) { return Complex(values[k], 0.0); });
  ASSERT_EQ(f->state().fit.workingQLimit, 100.0);
  ASSERT_TRUE(PlaceStartingPoles(f->state()));
  const PoleList& poles = f->state().fit.working;
  // Turning points at points 3, 4 and 5; the second and third lie within
  // 1 % of the previous one.
  ASSERT_GE(poles.size(), 4u);
  const double f2 = freqs[2], f3 = freqs[3];
  EXPECT_EQ(poles.back().GetPole(), Complex(-freqs[1], -0.5 * freqs[1]));
  EXPECT_EQ(poles[poles.size() - 2].GetPole(), Complex(-0.01 * f2, -f2));
  EXPECT_DOUBLE_EQ(poles[poles.size() - 3].GetPole().re, -(f3 - f2));
  EXPECT_NEAR(f->state().fit.workingQLimit, freqs[4] / (freqs[4] - f3), 1e-9);
  EXPECT_LE(f->state().fit.workingQLimit, 400.0);
}

TEST(PlaceStartingPoles, RefusesTooFewPointsAndFallingFrequencies) {
  auto f = OnePort({1e9}, [](int) { return Complex(0.5, 0.0); });
  EXPECT_FALSE(PlaceStartingPoles(f->state()));
  EXPECT_STREQ(f->GetErrorMessage(), "No sampled data available");
  auto g = OnePort({1e9, 2e9, 3e9}, [](int) { return Complex(0.5, 0.0); });
  g->state().data->points()[2].set_frequency(1.5e9);
  EXPECT_FALSE(PlaceStartingPoles(g->state()));
  EXPECT_EQ(g->GetErrorMessage(), nullptr);
}

TEST(PlaceStartingPoles, ColumnCapacityStopsTheScanWithAWarning) {
  cFitParams params;
  params.maxColumns = 4;  // 10 columns: room for one pole
  std::unique_ptr<cCfit> probe(static_cast<cCfit*>(cFitAPI::Create(&params)));
  auto f = OnePort(Frequencies(60, 1e8, 1e8), [](int k) { return Complex(1.0 - 0.01 * k, 0.0); });
  f->state().work.Allocate(f->state().work.max_rows(), 10);
  testing::LogCapture log;
  ASSERT_TRUE(PlaceStartingPoles(f->state()));
  EXPECT_EQ(f->state().fit.working.size(), 1u);
  EXPECT_EQ(log.text(),
            " *** Warning: cannot add more poles because of the matrix column size ***\n"
            "\n *** Stopped at frequency: 1e+09\n");
}

TEST(PulseSpectrum, PointsNearItsZerosAreSkipped) {
  const double tau = 1e-9;
  for (double f : {0.5e9, 0.84e9, 1.15e9, 1.5e9, 2.5e9}) {
    EXPECT_FALSE(NearPulseSpectrumZero(f, tau)) << f;
  }
  for (double f : {0.85e9, 1.0e9, 1.149e9, 1.9e9, 2.1e9, 3.0e9}) {
    EXPECT_TRUE(NearPulseSpectrumZero(f, tau)) << f;
  }
  EXPECT_FALSE(NearPulseSpectrumZero(1e9, 0.0));
  const Complex p0 = PulseSpectrum(0.0, tau);
  EXPECT_EQ(p0, Complex(tau, 0.0));
  const Complex p = PulseSpectrum(1e9, tau);  // a zero of the spectrum
  EXPECT_NEAR(p.re, 0.0, 1e-24);
  EXPECT_NEAR(p.im, 0.0, 1e-24);
}

// Working list of one pole with zero sigma coefficients: the relocated poles
// are the pole itself (and its partner).
PoleList OnePole(double re, double im) {
  PoleTerm t(1);
  t.SetPole(re, im);
  return {t};
}

TEST(FindCPols, FiltersByQualityRatioAndFallsBackToOnePole) {
  auto f = OnePort(Frequencies(10, 1e9, 1e8), [](int) { return Complex(0.5, 0.0); });
  FitterState& s = f->state();
  s.fit.working = OnePole(-1e7, -3e9);  // |Im / Re| = 300: kept
  ASSERT_TRUE(FindCPols(s));
  ASSERT_EQ(s.fit.working.size(), 1u);
  EXPECT_NEAR(s.fit.working[0].GetPole().re, -1e7, 1e-3);
  EXPECT_NEAR(s.fit.working[0].GetPole().im, -3e9, 1e-1);

  s.fit.working = OnePole(-1e7, -5e9);  // |Im / Re| = 500: dropped
  ASSERT_TRUE(FindCPols(s));
  ASSERT_EQ(s.fit.working.size(), 1u);
  EXPECT_EQ(s.fit.working[0].GetPole(), Complex(-1e9, 0.0));
  EXPECT_TRUE(s.fit.working[0].IsReal());
}

TEST(FindCPols, MirrorsUnstablePolesAndDropsOnesFarBelowTheBand) {
  auto f = OnePort(Frequencies(10, 1e9, 1e8), [](int) { return Complex(0.5, 0.0); });
  FitterState& s = f->state();
  s.fit.working = OnePole(2e9, 0.0);
  ASSERT_TRUE(FindCPols(s));
  EXPECT_NEAR(s.fit.working[0].GetPole().re, -2e9, 1e-3);
  s.fit.working = OnePole(-5e4, 0.0);  // |q|^2 < 1e-8 f0^2
  ASSERT_TRUE(FindCPols(s));
  EXPECT_EQ(s.fit.working[0].GetPole(), Complex(-1e9, 0.0));
  s.settings.callerBand = true;  // the caller's band drops poles outside it
  s.settings.lowerBandFrequency = 1e9;
  s.settings.upperBandFrequency = 2e10;
  s.fit.working = OnePole(-5e8, 0.0);
  ASSERT_TRUE(FindCPols(s));
  EXPECT_EQ(s.fit.working[0].GetPole(), Complex(-1e9, 0.0));
  s.fit.working.clear();
  EXPECT_FALSE(FindCPols(s));
  EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Fitting failed");
}

TEST(FindCPols, SigmaCoefficientsMoveThePolesToTheZerosOfSigma) {
  // sigma(s) = 1 + c / (s - q) has its zero at q - c.
  auto f = OnePort(Frequencies(10, 1e9, 1e8), [](int) { return Complex(0.5, 0.0); });
  FitterState& s = f->state();
  s.fit.working = OnePole(-1e9, 0.0);
  s.fit.working[0].SetResidue00({2e9, 0.0});
  ASSERT_TRUE(FindCPols(s));
  EXPECT_NEAR(s.fit.working[0].GetPole().re, -3e9, 1e-3);
}

TEST(SolveSigmaSystem, ExactDataGiveSigmaWhoseZerosAreTheTruePoles) {
  // v = 0.2 + r / (s - p) with p = -1e9: starting from q = -3e9, the zero of
  // the identified sigma lands on p.
  const double p = -1e9, r = 5e8;
  auto f = OnePort(Frequencies(50, 1e8, 1e8), [&](int k) {
    const std::complex<double> s(0.0, 1e8 + 1e8 * k);
    const auto v = 0.2 + r / (s - p);
    return Complex(v.real(), v.imag());
  });
  FitterState& st = f->state();
  st.fit.working = OnePole(-3e9, 0.0);
  ASSERT_TRUE(SolveSigmaSystem(st));
  ASSERT_TRUE(FindCPols(st));
  ASSERT_EQ(st.fit.working.size(), 1u);
  EXPECT_NEAR(st.fit.working[0].GetPole().re, p, 1e-3 * std::fabs(p));
}

}  // namespace
}  // namespace cfit
