#include "fit/delay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>

#include "api/cfit_impl.h"

namespace cfit {
namespace {

using std::numbers::pi;

// A 2-port whose element values come from `value(f)`, at `count` points from
// 100 MHz up in steps of 50 MHz; all four elements equal.
std::unique_ptr<cCfit> Fitter(int count, const std::function<Complex(double)>& value) {
  std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
  f->BeginData(2, 1, nullptr);
  double row0[4], row1[4];
  double* rows[2] = {row0, row1};
  DataPointRecord r{0.0, rows};
  for (int k = 0; k < count; ++k) {
    r.frequency = 1e8 + 5e7 * k;
    const Complex v = value(r.frequency);
    for (double* row : rows) {
      row[0] = row[2] = v.re;
      row[1] = row[3] = v.im;
    }
    EXPECT_TRUE(f->AddDataPoint(&r));
  }
  f->EndData();
  f->state().model = std::make_unique<FittedModel>();
  f->state().model->n = 2;
  f->state().model->delay.assign(4, 0.0);
  return f;
}

Complex Delayed(double f, double tau, double magnitude = 0.5) {
  return magnitude * Exp(Complex(0.0, -2.0 * pi * f * tau));
}

TEST(EstimateDelay, CleanLinearPhaseGivesTheDelayLessFivePeriods) {
  const double tau = 2e-9;
  auto f = Fitter(199, [&](double freq) { return Delayed(freq, tau); });
  const double fLast = 1e8 + 5e7 * 198;
  const double got = EstimateDelay(f->state(), 1, 0);
  EXPECT_NEAR(got, tau - 5.0 / fLast, 1e-22);
  EXPECT_EQ(f->state().model->delay[2], got);  // (1, 0)
  EXPECT_EQ(f->state().model->delay[1], got);  // mirrored: symmetric data
  EXPECT_EQ(f->GetErrorMessage(), nullptr);
}

TEST(EstimateDelay, ForwardThenBackwardRestoresTheData) {
  const double tau = 3e-9;
  auto f = Fitter(199, [&](double freq) { return Delayed(freq, tau); });
  const double est = EstimateDelay(f->state(), 1, 0);
  ASSERT_GT(est, 0.0);
  const Complex before = f->state().data->points()[20].At(1, 0);
  ApplyDelay(f->state(), 1, 0, est, true);
  // Removing the estimate leaves the short residual delay tau - est.
  const PortMatrix& p = f->state().data->points()[20];
  const Complex residual = Delayed(p.frequency(), tau - est);
  EXPECT_NEAR(p.At(1, 0).re, residual.re, 1e-12);
  EXPECT_NEAR(p.At(1, 0).im, residual.im, 1e-12);
  EXPECT_EQ(p.At(0, 1), p.At(1, 0));
  EXPECT_NE(p.At(0, 0),
            p.At(1, 0));  // the diagonal is untouched  // symmetric data: the mirror follows
  ApplyDelay(f->state(), 1, 0, est, false);
  EXPECT_NEAR(f->state().data->points()[20].At(1, 0).re, before.re, 1e-15);
  EXPECT_NEAR(f->state().data->points()[20].At(1, 0).im, before.im, 1e-15);
  ApplyDelay(f->state(), 1, 0, -1.0, true);  // no delay: nothing happens
  EXPECT_NEAR(f->state().data->points()[20].At(1, 0).re, before.re, 1e-15);
}

TEST(EstimateDelay, FewerThanTenPointsRecordError26) {
  auto f = Fitter(9, [](double freq) { return Delayed(freq, 1e-10); });
  EXPECT_EQ(EstimateDelay(f->state(), 0, 0), 0.0);
  EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Inconsistent sampled data structure");
}

TEST(EstimateDelay, NoDelayForFlatShortRoughOrTinySignals) {
  // Flat phase: no slope.
  EXPECT_EQ(EstimateDelay(Fitter(40, [](double) { return Complex(0.3, 0.1); })->state(), 0, 0),
            0.0);
  // A delay shorter than five periods of the highest frequency.
  EXPECT_EQ(EstimateDelay(Fitter(40, [](double f) { return Delayed(f, 1e-12); })->state(), 0, 0),
            0.0);
  // Phase that jumps back and forth is too rough.
  auto rough = Fitter(60, [](double f) {
    const int k = static_cast<int>((f - 1e8) / 5e7 + 0.5);
    return Delayed(f, k % 2 == 0 ? 2e-9 : 3e-9);
  });
  EXPECT_EQ(EstimateDelay(rough->state(), 0, 0), 0.0);
  // A signal below the small-signal threshold has no usable phase.
  EXPECT_EQ(
      EstimateDelay(Fitter(40, [](double f) { return Delayed(f, 2e-9, 1e-4); })->state(), 0, 0),
      0.0);
}

}  // namespace
}  // namespace cfit
