// Checks the fitter makes of what a host hands it, beyond the wrong-state
// table: numbers that are not finite in a Touchstone file, a fitter left
// without working storage by a refused Init, a caller-defined model left behind by a file of
// another size, and reference impedances that give no conductance.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "api/cfit_impl.h"
#include "support/fitter_fixtures.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using testing::Fitter;
using testing::MakeFitter;

std::string WriteText(const std::string& text, const std::string& extension) {
  std::string name = testing::Scratch().NewFile("refusal") + extension;
  std::FILE* file = std::fopen(name.c_str(), "w");
  std::fputs(text.c_str(), file);
  std::fclose(file);
  return name;
}

// Values that are not finite numbers read as the C library converts them
// and are kept; the fit refuses them (error 26) and keeps the model it had. A
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
    EXPECT_EQ(f->state().data->point_count(), c.points);
    if (c.points > 1) {
      EXPECT_EQ(f->Fit(), 0);
      EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Inconsistent sampled data structure");
      EXPECT_EQ(f->state().model, nullptr);
    }
  }
  Fitter f = MakeFitter();
  EXPECT_EQ(f->ReadTouchstone(WriteText("# HZ S RI R 50\nnan 0.1 0\n", ".s1p").c_str()), 0);
  EXPECT_STREQ(f->GetErrorMessage(), "No data points were read from touchstone file");
}

// A size Init refuses leaves the fitter without working storage: every
// operation that needs it fails cleanly until a valid Init.
TEST(Init, RefusedSizeLeavesAFitterThatFailsCleanly) {
  testing::LogCapture log;
  for (int points : {-1, 1 << 30}) {
    Fitter f = MakeFitter();
    cFitParams p = testing::SmallParams();
    p.maxFrequencyPoints = points;
    EXPECT_FALSE(f->Init(&p)) << points;
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

// DefineModel without terms is no fit, so a Touchstone read of another size
// goes ahead and sets the port count. The model left behind must not count
// as a fit of that size: writers and sweeps would read its tables with the
// new port count.
TEST(DefinedModel, LeftBehindByAReadOfAnotherSizeIsNoFit) {
  testing::LogCapture log;
  Fitter source = MakeFitter();
  testing::LoadSynthetic(*source, 4, kS);
  const std::string file = testing::Scratch().NewFile("four") + ".s4p";
  ASSERT_EQ(source->WriteTouchstone(file.c_str(), 0), 1);

  Fitter f = MakeFitter();
  ASSERT_EQ(f->DefineModel(2, kS, nullptr, false), 1);
  ASSERT_EQ(f->ReadTouchstone(file.c_str()), 4);
  const double pole[2] = {1e9, 0.0}, residue[2] = {0.1, 0.0};
  EXPECT_EQ(f->SetElementModel(1, 1, 1, 0.0, 0.0, 0.0, pole, residue), 1);
  EXPECT_FALSE(f->HasFit());
  const std::string out = testing::Scratch().NewFile("out");
  EXPECT_EQ(f->WritePoles(out.c_str()), 0);
  EXPECT_EQ(f->WriteSubcircuit(out.c_str()), 0);
  EXPECT_EQ(f->SweepModelLinear(1e9, 1e9, 2e9), 0);
  EXPECT_EQ(f->CheckModelPassivity(nullptr, nullptr), 0);
  EXPECT_EQ(f->EnforceModelPassivity(1.0), 0);
  EXPECT_STREQ(f->GetErrorMessage(), "Fitted data not available");
  // A fit of the data read makes a model of their size.
  ASSERT_EQ(f->Fit(), 1);
  EXPECT_EQ(f->state().model->n, 4);
  EXPECT_EQ(f->WritePoles(out.c_str()), 1);
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
    record.Set(0, 0, {0.2, 0.0});
    record.Set(1, 1, {0.2, 0.0});
    record.Set(0, 1, {0.1, 0.0});
    record.Set(1, 0, {0.1, 0.0});
    ASSERT_TRUE(f->AddDataPoint(record.get(1e8 * k)));
  }
  f->EndData();
  double value = -1.0;
  EXPECT_EQ(f->GetDataMutualConductanceDC(1, 0, &value), 0);
  EXPECT_EQ(value, 0.0);
  EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Cannot retrieve connectivity");
}

}  // namespace
}  // namespace cfit
