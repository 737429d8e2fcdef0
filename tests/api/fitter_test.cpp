// The fitter object: sizes Create and Init refuse, what a fitter makes of
// what a host hands it beyond the wrong-state table, and that what a fitter
// takes it gives back (no leaks, flat memory over many cycles).
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
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

using testing::Fitter;
using testing::MakeFitter;

Fitter Create(cFitParams* p) { return Fitter(static_cast<cCfit*>(cFitAPI::Create(p))); }

std::string WriteText(const std::string& text, const std::string& extension) {
  std::string name = testing::Scratch().NewFile("fitter") + extension;
  std::ofstream(name) << text;
  return name;
}

std::string DataFile(const char* name) {
  const char* directory = std::getenv("CFIT_TEST_DATA");
  return directory != nullptr ? std::string(directory) + "/" + name : std::string();
}

// Sizes that give no storage: rows or columns below 1, sizes whose doubling
// overflows 32 bits, storage the machine cannot give. Create refuses them;
// Init refuses them and releases the working storage, so that every
// operation that needs the storage fails cleanly until a valid Init.
TEST(Init, SizesThatGiveNoStorageAreRefused) {
  testing::LogCapture log;
  const std::pair<int32_t, int32_t> sizes[] = {{-1, 200},  {-2, 200},     {INT32_MIN, 200},
                                               {5001, -1}, {1 << 30, 40}, {INT32_MAX, INT32_MAX}};
  for (const auto& [points, columns] : sizes) {
    SCOPED_TRACE(::testing::Message() << points << " " << columns);
    cFitParams p = testing::SmallParams(false);
    p.maxFrequencyPoints = points, p.maxColumns = columns;
    EXPECT_EQ(cFitAPI::Create(&p), nullptr);
    Fitter f = MakeFitter();
    EXPECT_FALSE(f->Init(&p));
    testing::LoadSynthetic(*f, 2, kS);
    EXPECT_EQ(f->Fit(), 0);
    EXPECT_NE(f->GetErrorMessage(), nullptr);
    EXPECT_EQ(f->EnforceDataPassivity(1.0), 1);
    p = testing::SmallParams();
    ASSERT_TRUE(f->Init(&p));
    EXPECT_EQ(f->Fit(), 1);
    EXPECT_EQ(f->EnforceModelPassivity(1.0), 1);
  }
}

// The asymptote modes each data type allows; ABCD data accept any.
TEST(ElementOptions, AsymptoteModesAllowedPerDataType) {
  const struct {
    int type, mode, result;
  } cases[] = {{kS, 2, 0}, {kS, -1, 0},    {kS, 0, 1},     {kY, 2, 1},   {kY, 3, 0},
               {kZ, 2, 1}, {kPulse, 1, 0}, {kPulse, 0, 1}, {kABCD, 7, 1}};
  for (const auto& c : cases) {
    Fitter f = MakeFitter();
    const double z[2] = {50, 50};
    f->BeginData(2, c.type, z);
    EXPECT_EQ(f->SetElementAsymptote(c.mode, 0, 1, 0.3), c.result) << c.type << " " << c.mode;
  }
}

// Values that are not finite read as the C library converts them and are
// kept; the fit refuses them (error 26) and keeps the model it had. A
// frequency that is not finite ends the storing, as a point out of order
// does, and a file without any other point has none (error 24).
TEST(NonFiniteInput, TouchstoneValuesAreKeptFrequenciesStopTheStoring) {
  testing::LogCapture log;
  const std::string head = "# HZ S RI R 50\n1e9 0.1 0\n";
  const struct {
    const char* rest;
    int points;
  } cases[] = {{"2e9 nan 0\n3e9 0.1 0\n", 3},
               {"2e9 0.1 -inf\n3e9 0.1 0\n", 3},
               {"2e9 0.1 1e400\n", 2},
               {"inf 0.1 0\n3e9 0.1 0\n", 1},
               {"nan 0.1 0\n3e9 0.1 0\n", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rest);
    Fitter f = MakeFitter();
    ASSERT_EQ(f->ReadTouchstone(WriteText(head + c.rest, ".s1p").c_str()), 1);
    int points = 0;
    for (auto* r = f->GetFirstDataPoint(); r != nullptr; r = f->GetNextDataPoint()) ++points;
    EXPECT_EQ(points, c.points);
    if (c.points > 1) {
      EXPECT_EQ(f->Fit(), 0);
      EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Inconsistent sampled data structure");
      EXPECT_FALSE(f->HasFit());
    }
  }
  Fitter f = MakeFitter();
  EXPECT_EQ(f->ReadTouchstone(WriteText("# HZ S RI R 50\nnan 0.1 0\n", ".s1p").c_str()), 0);
  EXPECT_STREQ(f->GetErrorMessage(), "No data points were read from touchstone file");
}

// Zero reference impedances give a conductance that is not a number: the
// solve counts as failed (error 30) instead of handing out infinities.
TEST(MutualConductance, ZeroReferenceImpedancesFailTheSolve) {
  testing::LogCapture log;
  Fitter f = MakeFitter();
  const double zero[2] = {0.0, 0.0};
  f->BeginData(2, kS, zero);
  testing::PointRecord record(2);
  for (int k = 1; k <= 5; ++k) {
    for (int e = 0; e < 4; ++e) record.Set(e / 2, e % 2, {e % 3 == 0 ? 0.2 : 0.1, 0.0});
    ASSERT_TRUE(f->AddDataPoint(record.get(1e8 * k)));
  }
  f->EndData();
  double value = -1.0;
  EXPECT_EQ(f->GetDataMutualConductanceDC(1, 0, &value), 0);
  EXPECT_EQ(value, 0.0);
  EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Cannot retrieve connectivity");
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
    Fitter f = Create(&params);
    ASSERT_EQ(f->ReadTouchstone(input.c_str()), 2);
    ASSERT_EQ(f->Fit(), 1);
    log.clear();
  };
  for (int k = 0; k < 50; ++k) cycle();  // warm-up: caches, log buffer, malloc arenas
  const long before = MemoryInUse();
  for (int k = 0; k < 1000; ++k) cycle();
    // A leak of a few hundred bytes per cycle would show here.
#ifdef CFIT_SANITIZER_HEAP
  EXPECT_LT(MemoryInUse() - before, 64 * 1024);
#else
  EXPECT_LT(MemoryInUse() - before, 512 * 1024);
#endif
}

}  // namespace
}  // namespace cfit
