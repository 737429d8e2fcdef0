// The fitter object: construction, settings, flags and the simple operations.
#include <gtest/gtest.h>

#include <memory>

#include "api/cfit_impl.h"
#include "cfit/cfit.h"

namespace cfit {
namespace {

std::unique_ptr<cCfit> Make(cFitParams* params = nullptr) {
  return std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(params)));
}

void LoadTwoPort(cFitAPI& f, int dataType) {
  const double z[2] = {50.0, 50.0};
  f.BeginData(2, dataType, z);
}

TEST(Create, NullRecordGivesTheDefaultSettings) {
  auto f = Make();
  ASSERT_NE(f, nullptr);
  const Settings& s = f->state().settings;
  const cFitParams d;
  EXPECT_EQ(s.individualPoles, d.individualPoles);
  EXPECT_EQ(s.extractDelays, true);
  EXPECT_EQ(s.passivity, false);
  EXPECT_EQ(s.reducePoints, false);
  EXPECT_EQ(s.poleRatioBound, 400.0);
  EXPECT_EQ(s.symmetryTolerance, 0.005);
  EXPECT_EQ(s.addZeroHzPoint, false);
  EXPECT_EQ(s.prepareSData, false);
  EXPECT_EQ(s.upperBandFrequency, 2e10);
  EXPECT_EQ(s.lowerBandFrequency, 0.0);
  EXPECT_EQ(s.callerBand, false);
  EXPECT_EQ(s.extendedFit, false);
  EXPECT_EQ(s.enforcementMode, 0);
  EXPECT_EQ(s.upperFrequencyBound, 1e11);
  EXPECT_EQ(s.internalRatio, 100.0);
  EXPECT_EQ(f->state().work.max_rows(), 2 * 5001 + 2);
  EXPECT_EQ(f->state().work.max_cols(), 2 * 200 + 2);
  EXPECT_EQ(f->GetPortCount(), 0);
  EXPECT_EQ(f->GetDataType(), 0);
  EXPECT_EQ(f->GetReferenceImpedances(), nullptr);
  EXPECT_TRUE(f->IsSymmetric());
  EXPECT_FALSE(f->IsMixedMode());
  EXPECT_FALSE(f->HasFit());
  EXPECT_FALSE(f->HasSampledData());
  EXPECT_EQ(f->GetErrorMessage(), nullptr);
  EXPECT_EQ(f->GetFileComment(), nullptr);
}

TEST(Create, CustomRecordIsCopied) {
  cFitParams p;
  p.maxFrequencyPoints = 10;
  p.maxColumns = 3;
  p.individualPoles = false;
  p.passivity = true;
  p.symmetryTolerance = 0.1;
  p.upperBandFrequency = 5e9;
  auto f = Make(&p);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->state().work.max_rows(), 22);
  EXPECT_EQ(f->state().work.max_cols(), 8);
  EXPECT_FALSE(f->state().settings.individualPoles);
  EXPECT_EQ(f->state().settings.enforcementMode, 1);
  EXPECT_EQ(f->state().settings.symmetryTolerance, 0.1);
  EXPECT_EQ(f->state().settings.upperBandFrequency, 5e9);
}

TEST(Create, SizingFieldsThatGiveNoStorageFail) {
  for (int32_t points : {-1, -2, INT32_MIN}) {
    cFitParams p;
    p.maxFrequencyPoints = points;
    EXPECT_EQ(cFitAPI::Create(&p), nullptr) << points;
  }
  cFitParams p;
  p.maxColumns = -1;
  EXPECT_EQ(cFitAPI::Create(&p), nullptr);
  // Sizes whose doubling overflows 32 bits, or storage the machine cannot
  // give, fail cleanly too.
  p = cFitParams{};
  p.maxFrequencyPoints = INT32_MAX;
  p.maxColumns = INT32_MAX;
  EXPECT_EQ(cFitAPI::Create(&p), nullptr);
}

TEST(Init, RaisesTheStorageToTwicePortCountAndKeepsData) {
  auto f = Make();
  const double z[3] = {50, 50, 50};
  f->BeginData(3, 1, z);
  cFitParams p;
  p.maxFrequencyPoints = -1;  // rows 0, raised to 2N = 6
  p.maxColumns = 1;
  EXPECT_TRUE(f->Init(&p));
  EXPECT_EQ(f->state().work.max_rows(), 6);
  EXPECT_EQ(f->state().work.max_cols(), 6);
  EXPECT_EQ(f->GetPortCount(), 3);
  EXPECT_TRUE(f->HasSampledData());
  EXPECT_TRUE(f->Init(nullptr));  // null means the defaults
  EXPECT_EQ(f->state().work.max_rows(), 10004);
}

TEST(Init, FailureReleasesStorageAndKeepsSettings) {
  auto f = Make();
  cFitParams p;
  p.maxColumns = -5;
  p.individualPoles = false;
  EXPECT_FALSE(f->Init(&p));
  EXPECT_FALSE(f->state().work.allocated());
  EXPECT_TRUE(f->state().settings.individualPoles);
}

TEST(ModeFlags, MixedModeOnlyForFourPorts) {
  auto f = Make();
  LoadTwoPort(*f, 1);
  EXPECT_EQ(f->SetMixedModeFlag(), 0);
  EXPECT_FALSE(f->IsMixedMode());
  const double z[4] = {50, 50, 50, 50};
  f->BeginData(4, 1, z);
  EXPECT_EQ(f->SetMixedModeFlag(), 1);
  EXPECT_TRUE(f->IsMixedMode());
  EXPECT_EQ(f->SetStandardModeFlag(), 1);
  EXPECT_FALSE(f->IsMixedMode());
  EXPECT_EQ(f->GetErrorMessage(), nullptr);
}

TEST(ElementOptions, AsymptoteModesAllowedPerDataType) {
  auto f = Make();
  EXPECT_EQ(f->SetElementAsymptote(1, 0, 0, 0.0), 0);  // no data type yet
  EXPECT_EQ(f->SetElementDcOption(1, 0, 0, 0.0), 0);   // no element table yet

  LoadTwoPort(*f, 1);  // S
  EXPECT_EQ(f->SetElementAsymptote(2, 0, 0, 0.0), 0);
  EXPECT_EQ(f->SetElementAsymptote(-1, 0, 0, 0.0), 0);
  EXPECT_EQ(f->SetElementAsymptote(0, 0, 0, 0.3), 1);
  EXPECT_EQ(f->state().elements->ConstantValueAt(0, 0), 0.3);

  LoadTwoPort(*f, 2);  // Y
  EXPECT_EQ(f->SetElementAsymptote(2, 0, 0, 0.0), 1);
  EXPECT_EQ(f->SetElementAsymptote(3, 0, 0, 0.0), 0);

  LoadTwoPort(*f, 5);  // pulse model
  EXPECT_EQ(f->SetElementAsymptote(1, 0, 0, 0.0), 0);
  EXPECT_EQ(f->SetElementAsymptote(0, 0, 0, 0.0), 1);

  LoadTwoPort(*f, 4);  // ABCD: accepted, nothing stored
  EXPECT_EQ(f->SetElementAsymptote(0, 0, 1, 7.0), 1);
  EXPECT_EQ(f->state().elements->AsymptoteModeAt(0, 1), 1);
  EXPECT_FALSE(f->state().elements->HasConstantValues());
}

TEST(ElementOptions, DcOptionForAllElementsRecordsNoValue) {
  auto f = Make();
  LoadTwoPort(*f, 1);
  EXPECT_EQ(f->SetElementDcOption(2, 0, 0, 0.0), 0);
  EXPECT_EQ(f->SetElementDcOption(0, -1, -1, 5.0), 1);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) EXPECT_EQ(f->state().elements->DcFlagAt(i, j), 0);
  EXPECT_FALSE(f->state().elements->HasDcValues());
  // No points yet: symmetry holds, so an off-diagonal value is mirrored.
  EXPECT_EQ(f->SetElementDcOption(0, 1, 0, 0.5), 1);
  EXPECT_EQ(f->state().elements->DcValueAt(0, 1), 0.5);
}

TEST(SimpleOperations, SettersReturnTheirArgument) {
  auto f = Make();
  EXPECT_EQ(f->SetEnforcementMode(3), 3);
  EXPECT_EQ(f->state().settings.enforcementMode, 3);
  f->SetTimeStep(1e-12);
  EXPECT_EQ(f->state().settings.timeStep, 1e-12);
  char cancel = 0;
  EXPECT_EQ(f->SetCancelFlag(&cancel), &cancel);
  EXPECT_EQ(f->SetCancelFlag(nullptr), nullptr);
  const char* comment = "made by a test";
  EXPECT_EQ(f->SetOutputComment(comment), comment);
  const double* progress = f->GetProgress();
  EXPECT_EQ(*progress, 0.0);
  LoadTwoPort(*f, 1);
  EXPECT_EQ(f->GetProgress(), progress);  // stable for the object's life
}

TEST(SimpleOperations, UnbuiltOperationsFailWithoutRecording) {
  auto f = Make();
  LoadTwoPort(*f, 1);
  EXPECT_EQ(f->ReorderPorts(nullptr), 0);
  EXPECT_EQ(f->TerminatePorts(nullptr), 0);
  EXPECT_EQ(f->SetReferenceImpedance(75.0), 0);
  EXPECT_EQ(f->CreateSolver(1), nullptr);
  EXPECT_FALSE(f->FitSeriesElement());
  EXPECT_EQ(f->GetErrorMessage(), nullptr);
  EXPECT_EQ(f->GetReferenceImpedances()[0], 50.0);
}

TEST(HasFit, RequiresModelTablesAndAPole) {
  auto f = Make();
  LoadTwoPort(*f, 1);
  FitterState& s = f->state();
  s.model = std::make_unique<FittedModel>();
  s.model->n = 2;
  EXPECT_FALSE(f->HasFit());
  s.model->constant.assign(4, 0.0);
  s.model->delay.assign(4, 0.0);
  s.model->elementPoles.assign(4, PoleList{});
  EXPECT_FALSE(f->HasFit());  // no element has a pole
  s.model->elementPoles[2].emplace_back(1);
  EXPECT_TRUE(f->HasFit());
  s.model->shape = PoleShape::kCommon;
  EXPECT_FALSE(f->HasFit());  // common poles: the common list decides
  s.model->commonPoles.emplace_back(2);
  EXPECT_TRUE(f->HasFit());
}

}  // namespace
}  // namespace cfit
