// Fitters on separate threads share nothing but the log stream: four fits
// with passivity enforcement run at the same time give models identical bit
// for bit to the same work done one after another.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cfit/cfit.h"

namespace cfit {
namespace {

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
  std::unique_ptr<cFitAPI> f(cFitAPI::Create(&params));
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
    ASSERT_GT(sequential[k].size(), 10u);
    EXPECT_TRUE(sequential[k][0] >= 1 && sequential[k][1] == 1 && sequential[k][2] == 1);
    EXPECT_TRUE(concurrent[k].size() == sequential[k].size() &&
                std::memcmp(concurrent[k].data(), sequential[k].data(),
                            sequential[k].size() * sizeof(double)) == 0);
  }
}

}  // namespace
}  // namespace cfit
