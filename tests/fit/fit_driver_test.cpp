// Whole fits through the public interface: synthetic data made from a known
// rational model, every real file, and fits on several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
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

// The first `limit` data points the fitter holds: frequency and elements.
using Points = std::vector<std::pair<double, std::vector<C>>>;
Points Held(cFitAPI& f, int limit = 1 << 30) {
  Points points;
  const int n = f.GetPortCount();
  for (DataPointRecord* r = f.GetFirstDataPoint(); r != nullptr && int(points.size()) < limit;
       r = f.GetNextDataPoint()) {
    points.emplace_back(r->frequency, std::vector<C>());
    for (int e = 0; e < n * n; ++e)
      points.back().second.emplace_back(r->values[e / n][2 * e % (2 * n)],
                                        r->values[e / n][2 * e % (2 * n) + 1]);
  }
  return points;
}

// Individual and common poles, an extracted delay, the extended fit, DC
// values prescribed by the caller or by the S-data preparation (an ideal
// junction), a symmetric three-port fitting its lower triangle in order,
// more points than the working set holds (the first ones are fitted), nine
// points, too few for the delay estimate (error 26, the fit goes on without
// a delay), room for one pole only (the scan for starting poles stops): the model reproduces the
// data, meets the DC values exactly, the log says what was done and the data are kept whole.
TEST(Fit, KnownModelsAreReproduced) {
  cFitParams common, extended, prepared, limited, narrow;
  common.individualPoles = false, extended.extendedFit = true, prepared.prepareSData = true;
  limited.maxFrequencyPoints = 100, narrow.maxColumns = 10;
  const char* tooMany =
      "\n*** Touchstone file contains more points than allowed by parameter setting ***\n\n"
      "*** Extra points will be ignored during fitting ***\n";
  const std::vector<const char*> columns = {
      " *** Warning: cannot add more poles because of the matrix column size ***\n",
      "\n *** Stopped at frequency: "};
  const char* inconsistent = "Internal error. Inconsistent sampled data structure";
  const std::vector<const char*> symmetric = {
      " Fitting start: ", "\n*** Matrix component (1,1) is being fitted ***\n",
      "(2,1) is",         "(2,2) is",
      "(3,1) is",         "(3,2) is",
      "(3,3) is",         "\n Fitting   end: "};
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
      {{}, 2, 1, 0.5, 0, 0, 1e7, 1e10, 301, 1e-6},
      {common, 2, 1, -0.5, 0.01, 0, 1e7, 1e10, 301, 1e-5},
      {{}, 1, 0.8, 0, 0, 2e-9, 1e7, 1e10, 2001, 1e-3, {"extracted delay(1,1) = "}},
      {extended, 2, 0.2, 0.9, 0, 0, 1e8, 1e10, 120, 1e-3},
      {{}, 2, 1, 0.5, 0, 0, 1e8, 1e10, 201, 1, {}, nullptr, nullptr, 0.37, -0.25, true, true},
      {prepared, 2, 0.1, 0.9, 0, 0, 1e8, 1e10, 100, 1, {}, nullptr, nullptr, 0, 1, true},
      {{}, 3, 0.4, 0.3, 0, 0, 1e8, 1e10, 101, 1e-3, symmetric, nullptr, "(1,2) is"},
      {limited, 1, 1, 0, 0, 0, 1e7, 1e10, 500, INFINITY, {tooMany}},
      {{}, 1, 1, 0, 0, 0, 1e9, 9e9, 9, INFINITY, {}, inconsistent},
      {narrow, 1, 1, 0, 0, 0, 1e8, 1e10, 101, INFINITY, columns}};
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
    const Points held = Held(*f);
    ASSERT_TRUE(int(held.size()) == c.count && held.back().first == c.stop);
    double largest = 0.0;
    for (const auto& [frequency, values] : held) {
      for (int e = 0; e < c.n * c.n; ++e)
        largest = std::max(largest, std::abs(Model(*f, e / c.n, e % c.n, frequency) - values[e]));
    }
    EXPECT_LT(largest, c.tolerance);
    for (auto [i, j, want] : {std::tuple{1, 1, c.dc11}, {1, 0, c.dc10}, {0, 1, c.dc10}})
      EXPECT_TRUE(!c.dc || std::abs(Model(*f, i, j, 0.0).real() - want) <= 1e-12) << i << j;
    double delay = 0.0;
    ASSERT_EQ(f->GetElementModelInfo(0, 0, nullptr, nullptr, nullptr, &delay), 1);
    EXPECT_TRUE(c.tau > 0.0 ? delay > 1e-9 : (delay < 1e-9 && (c.error == nullptr || delay == 0)));
    std::size_t at = 0;
    for (const char* text : c.logged)
      ASSERT_NE(at = log.text().find(text, at), std::string::npos) << text;
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
  EXPECT_EQ(std::ranges::count(log.text(), '\n'), 2);
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
  EXPECT_EQ(Held(*f).size(), 2000u);
}

// Every real Touchstone file that reads also fits (one frequency gives no
// curve: the fit refuses it), and the per-element errors the fit logs agree
// with an independent evaluation of the model over the points it used.
TEST(RealFiles, EveryFileThatReadsFitsAndItsLoggedErrorsAreTrue) {
  const char* folder = std::getenv("CFIT_TEST_DATA");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  int fitted = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    Fitter f(cFitAPI::Create(nullptr));
    testing::LogCapture log;
    if (entry.path().extension() == ".md" || f->ReadTouchstone(entry.path().c_str()) == 0) continue;
    SCOPED_TRACE(entry.path().filename());
    const int n = f->GetPortCount();
    const Points points = Held(*f, cFitParams{}.maxFrequencyPoints - 1);  // those the fit uses
    if (points.size() < 2) {
      EXPECT_EQ(f->Fit(), 0);
      EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Inconsistent sampled data structure");
      continue;
    }
    log.clear();
    ASSERT_EQ(f->Fit(), 1) << (f->GetErrorMessage() ? f->GetErrorMessage() : "");
    ++fitted;
    const std::string text = log.text();
    for (int e = 0; e < n * n; ++e) {
      const int i = e / n, j = e % n;
      if (f->IsSymmetric() && j > i) continue;
      double sum = 0.0, worst = 0.0;
      for (const auto& [frequency, values] : points) {
        const double d = std::abs(Model(*f, i, j, frequency) - values[e]);
        sum += d * d, worst = std::max(worst, d);
      }
      // The log has six digits, and it is written before terms with residues
      // below 1e-7 are pruned from the model, which changes it by up to 1e-6.
      const std::string at = "(" + std::to_string(i + 1) + "," + std::to_string(j + 1) + ")=";
      const std::size_t rms = text.find("\nmean error" + at),
                        largest = text.find("tol  error" + at);
      ASSERT_TRUE(rms != std::string::npos && largest != std::string::npos) << at;
      const double ownRms = std::sqrt(sum / points.size());
      EXPECT_NEAR(std::stod(text.substr(rms + 11 + at.size())), ownRms, 1e-5 * ownRms + 1e-6) << at;
      EXPECT_NEAR(std::stod(text.substr(largest + 10 + at.size())), worst, 1e-5 * worst + 1e-6)
          << at;
    }
  }
  EXPECT_GE(fitted, 20);
}

// Fitters on separate threads share nothing but the log stream: four fits
// with passivity enforcement run at the same time give models identical bit
// for bit to the same work done one after another.
// One-, two-, three- and four-ports, S and Z parameters, one with a pole set
// common to all elements; every enforcement has peaks to correct.
constexpr std::pair<const char*, bool> kJobs[] = {
    {"zparam_spec_example.s1p", true},
    {"ring_slot_sim.s2p", true},
    {"power_splitter_2way_measured.s3p", false},
    {"fourport_inline_comments_spec_example.s4p", true}};

// The results of reading, fitting and enforcing, then every pole count,
// constant, proportional term, delay, pole and residue of the model.
std::vector<double> FitAndEnforce(const std::pair<const char*, bool>& job,
                                  const std::string& folder) {
  cFitParams params;
  params.individualPoles = job.second;
  Fitter f(cFitAPI::Create(&params));
  std::vector<double> v{static_cast<double>(f->ReadTouchstone((folder + "/" + job.first).c_str())),
                        static_cast<double>(f->Fit()),
                        static_cast<double>(f->EnforceModelPassivity(1.0))};
  const int n = f->GetPortCount();
  for (int e = 0; e < n * n; ++e) {
    int poles = 0;
    double terms[3];
    if (!f->GetElementModelInfo(e / n, e % n, &poles, terms, terms + 1, terms + 2)) continue;
    std::vector<double> p(2 * poles + 1), r(p.size());
    f->GetElementPolesResidues(e / n, e % n, p.data(), r.data());
    v.insert(v.end(), {static_cast<double>(poles), terms[0], terms[1], terms[2]});
    v.insert(v.end(), p.begin(), p.end()), v.insert(v.end(), r.begin(), r.end());
  }
  return v;
}

TEST(ConcurrentFits, FourThreadsGiveTheModelsOfOneAfterAnother) {
  const char* directory = std::getenv("CFIT_TEST_DATA");
  if (directory == nullptr || *directory == '\0') GTEST_SKIP() << "CFIT_TEST_DATA is not set";

  std::vector<std::vector<double>> sequential, concurrent(std::size(kJobs));
  for (const auto& job : kJobs) sequential.push_back(FitAndEnforce(job, directory));
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < std::size(kJobs); ++k) {
    threads.emplace_back([&, k] { concurrent[k] = FitAndEnforce(kJobs[k], directory); });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t k = 0; k < std::size(kJobs); ++k) {
    SCOPED_TRACE(kJobs[k].first);
    EXPECT_TRUE(sequential[k].size() > 10 && sequential[k][1] == 1 && sequential[k][2] == 1);
    EXPECT_EQ(concurrent[k], sequential[k]);
  }
}

}  // namespace
}  // namespace cfit
