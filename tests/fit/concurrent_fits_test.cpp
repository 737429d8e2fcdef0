// Fitters on separate threads share nothing but the log stream: four fits
// with passivity enforcement run at the same time give models identical bit
// for bit to the same work done one after another.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/cfit_impl.h"
#include "cfit/cfit.h"

namespace cfit {
namespace {

struct Job {
  const char* file;
  bool individualPoles;
};

// One-, two-, three- and four-ports, S and Z parameters, one with a pole set
// common to all elements; every enforcement has peaks to correct.
constexpr Job kJobs[] = {{"zparam_spec_example.s1p", true},
                         {"ring_slot_sim.s2p", true},
                         {"power_splitter_2way_measured.s3p", false},
                         {"fourport_inline_comments_spec_example.s4p", true}};

struct Result {
  int read = 0, fit = 0, enforced = 0;
  std::vector<double> model;  // every pole, residue, constant, proportional term and delay
};

std::vector<double> Serialize(const FittedModel& m) {
  std::vector<double> v{static_cast<double>(m.n)};
  auto terms = [&](const PoleList& list, int n) {
    v.push_back(static_cast<double>(list.size()));
    for (const PoleTerm& t : list) {
      v.insert(v.end(), {t.GetPole().re, t.GetPole().im});
      for (int k = 0; k < n * n; ++k) {
        v.insert(v.end(), {t.GetResidue(k / n, k % n).re, t.GetResidue(k / n, k % n).im});
      }
    }
  };
  terms(m.commonPoles, m.n);
  for (const PoleList& list : m.elementPoles) terms(list, 1);
  for (const auto* table : {&m.constant, &m.proportional, &m.delay}) {
    v.insert(v.end(), table->begin(), table->end());
  }
  return v;
}

Result FitAndEnforce(const Job& job, const std::string& directory) {
  cFitParams params;
  params.individualPoles = job.individualPoles;
  std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(&params)));
  Result r;
  r.read = f->ReadTouchstone((directory + "/" + job.file).c_str());
  r.fit = f->Fit();
  r.enforced = f->EnforceModelPassivity(1.0);
  if (f->state().model != nullptr) r.model = Serialize(*f->state().model);
  return r;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(ConcurrentFits, FourThreadsGiveTheModelsOfOneAfterAnother) {
  const char* directory = std::getenv("CFIT_TEST_DATA");
  if (directory == nullptr || *directory == '\0') GTEST_SKIP() << "CFIT_TEST_DATA is not set";

  std::vector<Result> sequential;
  for (const Job& job : kJobs) sequential.push_back(FitAndEnforce(job, directory));

  std::vector<Result> concurrent(std::size(kJobs));
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < std::size(kJobs); ++k) {
    threads.emplace_back([&, k] { concurrent[k] = FitAndEnforce(kJobs[k], directory); });
  }
  for (std::thread& t : threads) t.join();

  for (std::size_t k = 0; k < std::size(kJobs); ++k) {
    SCOPED_TRACE(kJobs[k].file);
    EXPECT_GE(sequential[k].read, 1);
    EXPECT_EQ(sequential[k].fit, 1);
    EXPECT_EQ(sequential[k].enforced, 1);
    EXPECT_GT(sequential[k].model.size(), 10u);
    EXPECT_EQ(concurrent[k].read, sequential[k].read);
    EXPECT_EQ(concurrent[k].fit, sequential[k].fit);
    EXPECT_EQ(concurrent[k].enforced, sequential[k].enforced);
    EXPECT_TRUE(SameBits(concurrent[k].model, sequential[k].model));
  }
}

}  // namespace
}  // namespace cfit
