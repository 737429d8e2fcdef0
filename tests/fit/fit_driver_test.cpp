// Whole fits of synthetic data made from a known rational model.
#include "fit/fit_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "api/cfit_impl.h"
#include "fit/model_evaluation.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using C = std::complex<double>;
using Element = std::function<C(int, int, double)>;

// 0.1 + two resonances and a real pole, s = j f, delayed by tau.
C Resonator(double f, double tau = 0.0) {
  const C s(0.0, f), q1(-2e8, -3e9), r1(1e8, 5e7), q2(-5e8, -7e9), r2(-2e8, 1e8);
  C h = 0.1 + 3e8 / (s + 1e9);
  for (auto [q, r] : {std::pair{q1, r1}, {q2, r2}})
    h += r / (s - q) + std::conj(r) / (s - std::conj(q));
  return h * std::exp(C(0.0, -2.0 * std::numbers::pi * f * tau));
}

// A fitter loaded with `count` points of S data from `start` to `stop`.
std::unique_ptr<cCfit> Loaded(int n, const Element& value, double start, double stop, int count,
                              cFitParams params = {}, int dataType = 1) {
  std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(&params)));
  f->BeginData(n, dataType, nullptr);
  std::vector<double> storage(2 * n * n);
  std::vector<double*> rows(n);
  for (int i = 0; i < n; ++i) rows[i] = storage.data() + 2 * n * i;
  DataPointRecord r{0.0, rows.data()};
  for (int k = 0; k < count; ++k) {
    r.frequency = start + (stop - start) * k / (count - 1);
    for (int e = 0; e < n * n; ++e) {
      const C v = value(e / n, e % n, r.frequency);
      rows[e / n][2 * (e % n)] = v.real(), rows[e / n][2 * (e % n) + 1] = v.imag();
    }
    EXPECT_TRUE(f->AddDataPoint(&r));
  }
  f->EndData();
  return f;
}

// Largest |model - data| over the sampled points and all elements.
double LargestError(cCfit& f) {
  double largest = 0.0;
  const int n = f.GetPortCount();
  for (ConstMatrixView p : f.state().network.data->points()) {
    for (int e = 0; e < n * n; ++e) {
      const Complex m = EvaluateElement(f.state(), e / n, e % n, p.frequency());
      largest = std::max(largest, Abs(m - p.At(e / n, e % n)));
    }
  }
  return largest;
}

// Individual and common poles, an extracted delay, the extended fit, DC
// values prescribed by the caller or by the S-data preparation (an ideal
// junction): the model reproduces the data, meets the DC values exactly and
// the data are kept.
TEST(Fit, KnownModelsAreReproduced) {
  cFitParams common, extended, prepared;
  common.individualPoles = false, extended.extendedFit = true, prepared.prepareSData = true;
  // Element (i, j): (i == j ? diagonal : offDiagonal) Resonator(f, tau) + shift j;
  // with `dc`, the values of (1, 1) and (1, 0) at 0 Hz.
  const struct Case {
    cFitParams params;
    int n;
    double diagonal, offDiagonal, shift, tau, start;
    int count;
    double tolerance, dc11 = 0.0, dc10 = 0.0;
    bool dc = false, byCaller = false;
  } cases[] = {{{}, 2, 1.0, 0.5, 0.0, 0.0, 1e7, 301, 1e-6},
               {common, 2, 1.0, -0.5, 0.01, 0.0, 1e7, 301, 1e-5},
               {{}, 1, 0.8, 0.0, 0.0, 2e-9, 1e7, 2001, 1e-3},
               {extended, 2, 0.2, 0.9, 0.0, 0.0, 1e8, 120, 1e-3},
               {{}, 2, 1.0, 0.5, 0.0, 0.0, 1e8, 201, 1.0, 0.37, -0.25, true, true},
               {prepared, 2, 0.1, 0.9, 0.0, 0.0, 1e8, 100, 1.0, 0.0, 1.0, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << &c - cases);
    const Element value = [&c](int i, int j, double f) {
      return (i == j ? c.diagonal : c.offDiagonal) * Resonator(f, c.tau) + c.shift * j;
    };
    auto f = Loaded(c.n, value, c.start, 1e10, c.count, c.params);
    if (c.byCaller) {
      ASSERT_TRUE(f->SetElementDcOption(0, 1, 1, c.dc11) && f->SetElementDcOption(0, 1, 0, c.dc10));
    }
    testing::LogCapture log;
    ASSERT_EQ(f->Fit(), 1) << (f->GetErrorMessage() ? f->GetErrorMessage() : "");
    EXPECT_EQ(f->GetErrorMessage(), nullptr);
    EXPECT_LT(LargestError(*f), c.tolerance);
    EXPECT_EQ(f->state().network.data->point_count(), c.count);
    EXPECT_EQ(*f->GetProgress(), 0.0);
    if (c.dc) {
      EXPECT_NEAR(EvaluateElement(f->state(), 1, 1, 0.0).re, c.dc11, 1e-12);
      EXPECT_NEAR(EvaluateElement(f->state(), 1, 0, 0.0).re, c.dc10, 1e-12);
      EXPECT_NEAR(EvaluateElement(f->state(), 0, 1, 0.0).re, c.dc10, 1e-12);
    }
    if (c.tau > 0.0) {
      EXPECT_GT(f->state().model->delay[0], 1e-9);
      EXPECT_NE(log.text().find("extracted delay(1,1) = "), std::string::npos);
    }
  }
}

// A symmetric three-port fits its lower triangle in order between the start
// and end lines; the upper triangle reads the lower one's terms.
TEST(Fit, SymmetricThreePortFitsTheLowerTriangleInOrder) {
  auto f = Loaded(
      3, [](int i, int j, double f) { return (0.2 + 0.1 * (i + j)) * Resonator(f); }, 1e8, 1e10,
      101);
  ASSERT_TRUE(f->IsSymmetric());
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1);
  const std::string text = log.text();
  std::size_t at = 0;
  for (const char* element : {"(1,1)", "(2,1)", "(2,2)", "(3,1)", "(3,2)", "(3,3)"}) {
    at = text.find(std::string("\n*** Matrix component ") + element + " is being fitted ***\n", at);
    ASSERT_NE(at, std::string::npos) << element;
  }
  EXPECT_EQ(text.find("Matrix component (1,2)"), std::string::npos);
  EXPECT_EQ(text.rfind(" Fitting start: ", 0), 0u);
  EXPECT_NE(text.find("\n Fitting   end: ", at), std::string::npos);
  EXPECT_EQ(EvaluateElement(f->state(), 0, 2, 3e9), EvaluateElement(f->state(), 2, 0, 3e9));
}

// More points than the working set holds: the first ones are fitted and the
// data stay whole. Nine points are too few for the delay estimate: error 26
// is recorded and the fit goes on without a delay.
TEST(Fit, PointLimitAndTooFewPointsForTheDelay) {
  cFitParams params;
  params.maxFrequencyPoints = 100;
  auto f = Loaded(
      1, [](int, int, double f) { return Resonator(f); }, 1e7, 1e10, 500, params);
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1);
  EXPECT_NE(log.text().find("\n*** Touchstone file contains more points than allowed by parameter "
                            "setting ***\n\n*** Extra points will be ignored during fitting ***\n"),
            std::string::npos);
  EXPECT_EQ(f->state().network.data->point_count(), 500);
  EXPECT_EQ(f->state().network.data->back().frequency(), 1e10);
  auto few = Loaded(
      1, [](int, int, double f) { return Resonator(f); }, 1e9, 9e9, 9);
  EXPECT_EQ(few->Fit(), 1);
  EXPECT_STREQ(few->GetErrorMessage(), "Internal error. Inconsistent sampled data structure");
  EXPECT_EQ(few->state().model->delay[0], 0.0);
}

// A byte set before the fit: nothing but the start and end lines, no error,
// no model. Set from another thread that reads the progress meanwhile: the
// progress stays within [0, 1], the fit stops, and with the byte cleared the
// fitter fits again.
TEST(Fit, CancelAndProgressFromAnotherThread) {
  auto f = Loaded(
      4, [](int i, int j, double f) { return (1.0 + 0.1 * (i + 2 * j)) * Resonator(f); }, 1e7, 1e10,
      2000);
  char cancel = 1;
  f->SetCancelFlag(&cancel);
  testing::LogCapture log;
  EXPECT_TRUE(f->Fit() == 0 && f->GetErrorMessage() == nullptr && !f->HasFit());
  const std::size_t second = log.text().find('\n') + 1;
  EXPECT_EQ(log.text().rfind(" Fitting start: ", 0), 0u);
  EXPECT_EQ(log.text().substr(second, 16), " Fitting   end: ");
  EXPECT_EQ(log.text().find('\n', second) + 1, log.text().size());
  cancel = 0;
  const double* progress = f->GetProgress();
  std::atomic<bool> done{false};
  double lowest = 0.0, highest = 0.0;
  bool cancelled = false;
  std::thread watcher([&] {
    while (!done.load()) {
      const double p = std::atomic_ref<const double>(*progress).load(std::memory_order_relaxed);
      lowest = std::min(lowest, p), highest = std::max(highest, p);
      if (p > 0.3 && !cancelled) std::atomic_ref<char>(cancel).store(1), cancelled = true;
    }
  });
  const int result = f->Fit();
  done = true;
  watcher.join();
  EXPECT_TRUE(lowest >= 0.0 && highest <= 1.0);
  EXPECT_TRUE(!cancelled || result == 0);
  cancel = 0;
  EXPECT_EQ(f->Fit(), 1);
  EXPECT_EQ(f->state().network.data->point_count(), 2000);
}

}  // namespace
}  // namespace cfit
