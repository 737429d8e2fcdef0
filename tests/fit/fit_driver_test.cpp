// Whole fits of synthetic data made from known rational models.
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
using std::numbers::pi;

// A rational element: d + j f e + sum r / (j f - q) (+ conjugate for pairs),
// times exp(-j 2 pi f tau).
struct Rational {
  double d = 0.0;
  double e = 0.0;
  double tau = 0.0;
  std::vector<std::pair<C, C>> terms;  // (q, r); pairs with Im q != 0
  C operator()(double f) const {
    const C s(0.0, f);
    C h(d, f * e);
    for (auto [q, r] : terms) {
      h += r / (s - q);
      if (q.imag() != 0.0) h += std::conj(r) / (s - std::conj(q));
    }
    return h * std::exp(C(0.0, -2.0 * pi * f * tau));
  }
};

std::unique_ptr<cCfit> Loaded(int n, int dataType, const std::function<C(int, int, double)>& value,
                              const std::vector<double>& freqs, cFitParams* params = nullptr) {
  std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(params)));
  f->BeginData(n, dataType, nullptr);
  std::vector<double> storage(2 * n * n);
  std::vector<double*> rows(n);
  for (int i = 0; i < n; ++i) rows[i] = storage.data() + 2 * n * i;
  DataPointRecord r{0.0, rows.data()};
  for (double freq : freqs) {
    r.frequency = freq;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const C v = value(i, j, freq);
        rows[i][2 * j] = v.real();
        rows[i][2 * j + 1] = v.imag();
      }
    }
    EXPECT_TRUE(f->AddDataPoint(&r));
  }
  f->EndData();
  return f;
}

std::vector<double> Linear(double start, double stop, int count) {
  std::vector<double> out;
  for (int k = 0; k < count; ++k) out.push_back(start + (stop - start) * k / (count - 1));
  return out;
}

// Largest |model - data| over the sampled points and all elements.
double LargestError(cCfit& f) {
  double largest = 0.0;
  const int n = f.GetPortCount();
  for (const PortMatrix& p : f.state().network.data->points()) {
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const Complex m = EvaluateElement(f.state(), i, j, p.frequency());
        largest = std::max(largest, Abs(m - p.At(i, j)));
      }
    }
  }
  return largest;
}

const Rational kResonator{
    0.1,
    0.0,
    0.0,
    {{C(-2e8, -3e9), C(1e8, 5e7)}, {C(-5e8, -7e9), C(-2e8, 1e8)}, {C(-1e9, 0), C(3e8, 0)}}};

TEST(Fit, IndividualPolesReproduceAKnownModel) {
  auto f = Loaded(
      2, 1, [](int i, int j, double freq) { return (i == j ? 1.0 : 0.5) * kResonator(freq); },
      Linear(1e7, 1e10, 301));
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1) << (f->GetErrorMessage() ? f->GetErrorMessage() : "");
  EXPECT_TRUE(f->HasFit());
  EXPECT_LT(LargestError(*f), 1e-6);
  EXPECT_EQ(f->GetErrorMessage(), nullptr);
  EXPECT_EQ(f->state().network.data->point_count(), 301);  // data unchanged
  EXPECT_EQ(*f->GetProgress(), 0.0);
}

TEST(Fit, CommonPolesReproduceAKnownModel) {
  cFitParams params;
  params.individualPoles = false;
  auto f = Loaded(
      2, 1,
      [](int i, int j, double freq) { return (i == j ? 1.0 : -0.5) * kResonator(freq) + 0.01 * j; },
      Linear(1e7, 1e10, 301), &params);
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1) << (f->GetErrorMessage() ? f->GetErrorMessage() : "");
  EXPECT_TRUE(f->HasFit());
  EXPECT_LT(LargestError(*f), 1e-5);
}

TEST(Fit, DelayIsExtractedAndCarriedByTheModel) {
  Rational delayed = kResonator;
  delayed.tau = 2e-9;
  auto f = Loaded(
      1, 1, [&](int, int, double freq) { return 0.8 * delayed(freq); }, Linear(1e7, 1e10, 2001));
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1);
  EXPECT_GT(f->state().model->delay[0], 1e-9);
  EXPECT_LT(LargestError(*f), 1e-3);
  EXPECT_NE(log.text().find("extracted delay(1,1) = "), std::string::npos);
}

TEST(Fit, DcConstrainedElementHoldsItsPrescribedValue) {
  auto f = Loaded(
      2, 1, [](int i, int j, double freq) { return (i == j ? 1.0 : 0.5) * kResonator(freq); },
      Linear(1e8, 1e10, 201));
  ASSERT_EQ(f->SetElementDcOption(0, 1, 1, 0.37), 1);
  ASSERT_EQ(f->SetElementDcOption(0, 1, 0, -0.25), 1);
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1);
  EXPECT_NEAR(EvaluateElement(f->state(), 1, 1, 0.0).re, 0.37, 1e-12);
  EXPECT_NEAR(EvaluateElement(f->state(), 1, 0, 0.0).re, -0.25, 1e-12);
  EXPECT_NEAR(EvaluateElement(f->state(), 0, 1, 0.0).re, -0.25, 1e-12);
}

TEST(Fit, SymmetricThreePortFitsTheLowerTriangleInOrder) {
  auto f = Loaded(
      3, 1, [](int i, int j, double freq) { return (0.2 + 0.1 * (i + j)) * kResonator(freq); },
      Linear(1e8, 1e10, 101));
  ASSERT_TRUE(f->IsSymmetric());
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1);
  const std::string text = log.text();
  std::size_t at = 0;
  for (const char* element : {"(1,1)", "(2,1)", "(2,2)", "(3,1)", "(3,2)", "(3,3)"}) {
    const std::string header =
        std::string("\n*** Matrix component ") + element + " is being fitted ***\n";
    const std::size_t found = text.find(header, at);
    ASSERT_NE(found, std::string::npos) << element;
    at = found + header.size();
  }
  EXPECT_EQ(text.find("Matrix component (1,2)"), std::string::npos);
  EXPECT_EQ(text.rfind(" Fitting start: ", 0), 0u);
  EXPECT_NE(text.find("mean(1,2)="), std::string::npos);
  EXPECT_NE(text.find("\n Fitting   end: "), std::string::npos);
  // The upper triangle reads the lower one's terms.
  EXPECT_EQ(EvaluateElement(f->state(), 0, 2, 3e9), EvaluateElement(f->state(), 2, 0, 3e9));
}

TEST(Fit, PointLimitFitsTheFirstPointsAndKeepsTheData) {
  cFitParams params;
  params.maxFrequencyPoints = 100;
  auto f = Loaded(
      1, 1, [](int, int, double freq) { return kResonator(freq); }, Linear(1e7, 1e10, 500),
      &params);
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1);
  const std::string text = log.text();
  EXPECT_NE(text.find("\n*** Touchstone file contains more points than allowed by parameter "
                      "setting ***\n\n*** Extra points will be ignored during fitting ***\n"),
            std::string::npos);
  EXPECT_EQ(f->state().network.data->point_count(), 500);
  EXPECT_EQ(f->state().network.data->back().frequency(), 1e10);
}

TEST(Fit, FewPointsWithDelayExtractionRecord26AndStillFit) {
  auto f = Loaded(
      1, 1, [](int, int, double freq) { return kResonator(freq); }, Linear(1e9, 9e9, 9));
  testing::LogCapture log;
  EXPECT_EQ(f->Fit(), 1);
  EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Inconsistent sampled data structure");
  EXPECT_EQ(f->state().model->delay[0], 0.0);
  EXPECT_TRUE(f->HasFit());
}

TEST(Fit, CancelBeforeFitLogsOnlyStartAndEnd) {
  auto f = Loaded(
      2, 1, [](int, int, double freq) { return kResonator(freq); }, Linear(1e8, 1e10, 50));
  char cancel = 1;
  f->SetCancelFlag(&cancel);
  testing::LogCapture log;
  EXPECT_EQ(f->Fit(), 0);
  EXPECT_EQ(f->GetErrorMessage(), nullptr);
  const std::string text = log.text();
  ASSERT_EQ(text.rfind(" Fitting start: ", 0), 0u);
  const std::size_t second = text.find('\n') + 1;
  EXPECT_EQ(text.substr(second, 16), " Fitting   end: ");
  EXPECT_EQ(text.find('\n', second) + 1, text.size());
  EXPECT_FALSE(f->HasFit());
}

TEST(Fit, SDataPreparationConstrainsDcToAnIdealJunction) {
  cFitParams params;
  params.prepareSData = true;
  auto f = Loaded(
      2, 1, [](int i, int j, double freq) { return (i == j ? 0.1 : 0.9) * kResonator(freq); },
      Linear(1e8, 1e10, 100), &params);
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1);
  const ElementTable& t = *f->state().network.elements;
  EXPECT_EQ(t.DcFlagAt(0, 0), 0);
  EXPECT_EQ(t.DcValueAt(0, 0), 0.0);
  EXPECT_EQ(t.DcValueAt(1, 0), 1.0);
  EXPECT_NEAR(EvaluateElement(f->state(), 1, 0, 0.0).re, 1.0, 1e-12);
  EXPECT_NEAR(EvaluateElement(f->state(), 1, 1, 0.0).re, 0.0, 1e-12);
}

TEST(Fit, ExtendedFitKeepsTheData) {
  cFitParams params;
  params.extendedFit = true;
  auto f = Loaded(
      2, 1, [](int i, int j, double freq) { return (i == j ? 0.2 : 0.9) * kResonator(freq); },
      Linear(1e8, 1e10, 120), &params);
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1);
  EXPECT_EQ(f->state().network.data->port_count(), 2);
  EXPECT_EQ(f->state().network.data->point_count(), 120);
  EXPECT_LT(LargestError(*f), 1e-3);
}

TEST(Fit, ReactiveTopRaisesThePoleRatioBoundForLaterFitsNotTheSetting) {
  auto f = Loaded(
      1, 3, [](int, int, double freq) { return C(1e-3, 1e-9 * freq); }, Linear(1e8, 2e9, 20));
  ASSERT_EQ(f->SetElementAsymptote(0, -1, -1, 0.0), 1);
  testing::LogCapture log;
  ASSERT_EQ(f->Fit(), 1);
  EXPECT_EQ(f->state().workspace.fit.poleRatioBound, 1e10);
  EXPECT_EQ(f->state().workspace.fit.workingQLimit, 1e10);
  EXPECT_EQ(f->state().settings.poleRatioBound, 400.0);
}

TEST(Fit, ProgressIsReadableAndCancelSettableFromAnotherThread) {
  auto f = Loaded(
      4, 1, [](int i, int j, double freq) { return (1.0 + 0.1 * (i + 2 * j)) * kResonator(freq); },
      Linear(1e7, 1e10, 2000));
  char cancel = 0;
  f->SetCancelFlag(&cancel);
  const double* progress = f->GetProgress();
  std::atomic<bool> done{false};
  double lowest = 0.0, highest = 0.0;
  bool cancelled = false;
  std::thread watcher([&] {
    while (!done.load()) {
      const double p = std::atomic_ref<const double>(*progress).load(std::memory_order_relaxed);
      lowest = std::min(lowest, p);
      highest = std::max(highest, p);
      if (p > 0.3 && !cancelled) {
        std::atomic_ref<char>(cancel).store(1, std::memory_order_relaxed);
        cancelled = true;
      }
    }
  });
  testing::LogCapture log;
  const int result = f->Fit();
  done = true;
  watcher.join();
  EXPECT_GE(lowest, 0.0);
  EXPECT_LE(highest, 1.0);
  if (cancelled) {
    EXPECT_EQ(result, 0);
  }
  // The fitter stays usable: with the byte cleared a new fit succeeds.
  cancel = 0;
  EXPECT_EQ(f->Fit(), 1);
  EXPECT_EQ(f->state().network.data->point_count(), 2000);
}

TEST(Fit, WithoutDataIsError5) {
  std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
  EXPECT_EQ(f->Fit(), 0);
  EXPECT_STREQ(f->GetErrorMessage(), "Cannot fit: no data yet read from touchstone file");
}

}  // namespace
}  // namespace cfit
