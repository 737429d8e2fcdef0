// Whole fits of synthetic data made from a known rational model, seen
// through the public interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "cfit/cfit.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using C = std::complex<double>;
using Element = std::function<C(int, int, double)>;
using Fitter = std::unique_ptr<cFitAPI>;

// 0.1 + two resonances and a real pole, s = j f, delayed by tau.
C Resonator(double f, double tau = 0.0) {
  const C s(0.0, f), q1(-2e8, -3e9), r1(1e8, 5e7), q2(-5e8, -7e9), r2(-2e8, 1e8);
  C h = 0.1 + 3e8 / (s + 1e9);
  for (auto [q, r] : {std::pair{q1, r1}, {q2, r2}})
    h += r / (s - q) + std::conj(r) / (s - std::conj(q));
  return h * std::exp(C(0.0, -2.0 * std::numbers::pi * f * tau));
}

// A fitter loaded with `count` points of S data from `start` to `stop`.
Fitter Loaded(int n, const Element& value, double start, double stop, int count,
              cFitParams params = {}) {
  Fitter f(cFitAPI::Create(&params));
  f->BeginData(n, 1, nullptr);
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

C Model(cFitAPI& f, int i, int j, double frequency) {
  double v[2] = {0.0, 0.0};
  EXPECT_EQ(f.EvaluateModelElement(i, j, frequency, v), 1);
  return {v[0], v[1]};
}

// The number of data points held, the last frequency, and the largest
// |model - data| over them and all elements.
struct Held {
  int count = 0;
  double last = 0.0, largestError = 0.0;
};
Held Compare(cFitAPI& f) {
  Held h;
  const int n = f.GetPortCount();
  for (DataPointRecord* r = f.GetFirstDataPoint(); r != nullptr; r = f.GetNextDataPoint()) {
    ++h.count, h.last = r->frequency;
    for (int e = 0; e < n * n; ++e) {
      const double* d = &r->values[e / n][2 * (e % n)];
      h.largestError =
          std::max(h.largestError, std::abs(Model(f, e / n, e % n, r->frequency) - C(d[0], d[1])));
    }
  }
  return h;
}

// Individual and common poles, an extracted delay, the extended fit, DC
// values prescribed by the caller or by the S-data preparation (an ideal
// junction), a symmetric three-port fitting its lower triangle in order,
// more points than the working set holds (the first ones are fitted), nine
// points, too few for the delay estimate (error 26, the fit goes on without
// a delay): the model reproduces the data, meets the DC values exactly, the
// log says what was done and the data are kept whole.
TEST(Fit, KnownModelsAreReproduced) {
  cFitParams common, extended, prepared, limited;
  common.individualPoles = false, extended.extendedFit = true, prepared.prepareSData = true;
  limited.maxFrequencyPoints = 100;
  const std::vector<const char*> symmetric = {
      " Fitting start: ", "\n*** Matrix component (1,1) is being fitted ***\n",
      "(2,1) is being",   "(2,2) is being",
      "(3,1) is being",   "(3,2) is being",
      "(3,3) is being",   "\n Fitting   end: "};
  // Element (i, j): (i == j ? diagonal : offDiagonal) Resonator(f, tau) + shift j;
  // with `dc`, the values of (1, 1) and (1, 0) at 0 Hz.
  const struct Case {
    cFitParams params;
    int n;
    double diagonal, offDiagonal, shift, tau, start, stop;
    int count;
    double tolerance;
    std::vector<const char*> logged = {};  // in this order
    const char *error = nullptr, *absent = nullptr;
    double dc11 = 0.0, dc10 = 0.0;
    bool dc = false, byCaller = false;
  } cases[] = {
      {{}, 2, 1.0, 0.5, 0.0, 0.0, 1e7, 1e10, 301, 1e-6},
      {common, 2, 1.0, -0.5, 0.01, 0.0, 1e7, 1e10, 301, 1e-5},
      {{}, 1, 0.8, 0.0, 0.0, 2e-9, 1e7, 1e10, 2001, 1e-3, {"extracted delay(1,1) = "}},
      {extended, 2, 0.2, 0.9, 0.0, 0.0, 1e8, 1e10, 120, 1e-3},
      {{},
       2,
       1.0,
       0.5,
       0.0,
       0.0,
       1e8,
       1e10,
       201,
       1.0,
       {},
       nullptr,
       nullptr,
       0.37,
       -0.25,
       true,
       true},
      {prepared, 2, 0.1, 0.9, 0.0, 0.0, 1e8, 1e10, 100, 1.0, {}, nullptr, nullptr, 0.0, 1.0, true},
      {{}, 3, 0.4, 0.3, 0.0, 0.0, 1e8, 1e10, 101, 1e-3, symmetric, nullptr, "(1,2) is being"},
      {limited,
       1,
       1.0,
       0.0,
       0.0,
       0.0,
       1e7,
       1e10,
       500,
       INFINITY,
       {"\n*** Touchstone file contains more points than allowed by parameter setting ***\n\n"
        "*** Extra points will be ignored during fitting ***\n"}},
      {{},
       1,
       1.0,
       0.0,
       0.0,
       0.0,
       1e9,
       9e9,
       9,
       INFINITY,
       {},
       "Internal error. Inconsistent sampled data structure"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << &c - cases);
    const Element value = [&c](int i, int j, double f) {
      return (i == j ? c.diagonal : c.offDiagonal) * Resonator(f, c.tau) + c.shift * j;
    };
    Fitter f = Loaded(c.n, value, c.start, c.stop, c.count, c.params);
    if (c.byCaller) {
      ASSERT_TRUE(f->SetElementDcOption(0, 1, 1, c.dc11) && f->SetElementDcOption(0, 1, 0, c.dc10));
    }
    testing::LogCapture log;
    ASSERT_EQ(f->Fit(), 1) << (f->GetErrorMessage() ? f->GetErrorMessage() : "");
    EXPECT_STREQ(f->GetErrorMessage(), c.error);
    const Held held = Compare(*f);
    EXPECT_LT(held.largestError, c.tolerance);
    EXPECT_TRUE(held.count == c.count && held.last == c.stop);
    EXPECT_EQ(*f->GetProgress(), 0.0);
    if (c.dc) {
      for (auto [i, j, want] : {std::tuple{1, 1, c.dc11}, {1, 0, c.dc10}, {0, 1, c.dc10}})
        EXPECT_NEAR(Model(*f, i, j, 0.0).real(), want, 1e-12);
    }
    double delay = 0.0;
    ASSERT_EQ(f->GetElementModelInfo(0, 0, nullptr, nullptr, nullptr, &delay), 1);
    EXPECT_TRUE(c.tau > 0.0 ? delay > 1e-9 : (delay < 1e-9 && (c.error == nullptr || delay == 0)));
    std::size_t at = 0;
    for (const char* text : c.logged) {
      at = log.text().find(text, at);
      ASSERT_NE(at, std::string::npos) << text;
    }
    EXPECT_TRUE(c.absent == nullptr || log.text().find(c.absent) == std::string::npos);
  }
}

// A byte set before the fit: the start and end lines only, no error, no
// model. Set from another thread that reads the progress meanwhile: the
// progress stays within [0, 1], the fit stops, and with the byte cleared the
// fitter fits again with its data whole.
TEST(Fit, CancelAndProgressFromAnotherThread) {
  Fitter f = Loaded(
      4, [](int i, int j, double f) { return (1.0 + 0.1 * (i + 2 * j)) * Resonator(f); }, 1e7, 1e10,
      2000);
  char cancel = 1;
  f->SetCancelFlag(&cancel);
  testing::LogCapture log;
  EXPECT_TRUE(f->Fit() == 0 && f->GetErrorMessage() == nullptr && !f->HasFit());
  const std::string lines = log.text();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
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
  EXPECT_TRUE(lowest >= 0.0 && highest <= 1.0 && (!cancelled || result == 0));
  cancel = 0;
  EXPECT_EQ(f->Fit(), 1);
  EXPECT_EQ(Compare(*f).count, 2000);
}

}  // namespace
}  // namespace cfit
