// What a fitter takes it gives back: the whole road from a Touchstone file
// to the three outputs leaves nothing behind (the sanitizer build checks for
// leaks at exit), and a thousand create, read, fit and delete cycles keep the
// process's memory flat.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "api/cfit_impl.h"
#include "support/fitter_fixtures.h"
#include "support/log_capture.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CFIT_SANITIZER_HEAP 1
// The heap in use, from the sanitizer's allocator: its quarantine of freed
// blocks would make the resident size grow without any leak.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace cfit {
namespace {

std::string DataFile(const char* name) {
  const char* directory = std::getenv("CFIT_TEST_DATA");
  return directory != nullptr ? std::string(directory) + "/" + name : std::string();
}

struct Deleter {
  void operator()(cFitAPI* f) const { delete f; }
};
using HostFitter = std::unique_ptr<cFitAPI, Deleter>;

TEST(Resources, TheWholeRoadWritesItsOutputsAndReleasesEverything) {
  const std::string input = DataFile("power_splitter_2way_measured.s3p");
  if (input.empty()) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  testing::LogCapture log;
  const std::string stem = testing::Scratch().NewFile("road");
  {
    HostFitter f(cFitAPI::Create(nullptr));
    ASSERT_NE(f, nullptr);
    f->SetOutputComment("the whole road");
    ASSERT_EQ(f->ReadTouchstone(input.c_str()), 3);
    ASSERT_EQ(f->Fit(), 1);
    ASSERT_EQ(f->EnforceModelPassivity(1.0), 1);
    double** rms = nullptr;
    double** largest = nullptr;
    ASSERT_EQ(f->GetEnforcedAccuracy(&rms, &largest), 1);
    ASSERT_EQ(f->GetModelPassivityMargins(), 1);
    ASSERT_EQ(f->WritePoles((stem + ".pls").c_str()), 1);
    ASSERT_EQ(f->WriteSubcircuit((stem + ".cir").c_str()), 1);
    ASSERT_EQ(f->SweepModelAdaptive(0.05, 0.0), 1);
    ASSERT_NE(f->GetFirstDataPoint(), nullptr);
    ASSERT_EQ(f->WriteTouchstone((stem + ".s3p").c_str(), 1), 1);
  }
  for (const char* extension : {".pls", ".cir", ".s3p"}) {
    EXPECT_GT(std::filesystem::file_size(stem + extension), 1000u) << extension;
  }
  // A model read back from the pole file runs the same road from the model.
  HostFitter g(cFitAPI::Create(nullptr));
  ASSERT_EQ(g->ReadPoles((stem + ".pls").c_str()), 3);
  EXPECT_EQ(g->SweepModelLinear(1e8, 1e7, 2e10), 1);
  EXPECT_EQ(g->WriteTouchstone((stem + "_again.s3p").c_str(), 2), 1);
}

// Live heap bytes under a sanitizer, the resident size otherwise.
long MemoryInUse() {
#ifdef CFIT_SANITIZER_HEAP
  return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
#endif
}

TEST(Resources, CreateReadFitDeleteCyclesKeepMemoryFlat) {
  const std::string input = DataFile("twoport_mixed_eol.s2p");
  if (input.empty()) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  testing::LogCapture log;
  cFitParams params = testing::SmallParams();
  auto cycle = [&] {
    HostFitter f(cFitAPI::Create(&params));
    ASSERT_EQ(f->ReadTouchstone(input.c_str()), 2);
    ASSERT_EQ(f->Fit(), 1);
    log.clear();
  };
  for (int k = 0; k < 50; ++k) cycle();  // warm-up: caches, log buffer, malloc arenas
  const long before = MemoryInUse();
  for (int k = 0; k < 1000; ++k) cycle();
  const long growth = MemoryInUse() - before;
  // A leak of a few hundred bytes per cycle would show here.
#ifdef CFIT_SANITIZER_HEAP
  EXPECT_LT(growth, 64 * 1024);
#else
  EXPECT_LT(growth, 512 * 1024);
#endif
}

}  // namespace
}  // namespace cfit
