// A host of the library: only the public header and libcfit.so.
#include <cfit/cfit.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using Fitter = std::unique_ptr<cFitAPI>;

// Element (i, j) of the 3-port at point k: reciprocal except for a small
// asymmetry of (2, 0).
void Element(int k, int i, int j, double* re, double* im) {
  const int a = std::min(i, j), b = std::max(i, j);
  *re = 0.1 * (a + 1) + 0.01 * b - 0.001 * k;
  *im = -0.05 * (a + b) + 0.002 * k;
  if (i == 2 && j == 0) *re += 1e-4;
}

TEST(Host, CreatesFittersWithNullAndCustomParamsAndRefusesNoStorage) {
  cFitParams params;
  params.maxFrequencyPoints = 100;
  params.individualPoles = false;
  for (cFitParams* p : {static_cast<cFitParams*>(nullptr), &params}) {
    Fitter f(cFitAPI::Create(p));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetPortCount(), 0);
    EXPECT_FALSE(f->HasSampledData() || f->HasFit());
  }
  params.maxColumns = -1;
  EXPECT_EQ(cFitAPI::Create(&params), nullptr);
}

TEST(Host, LoadsWalksAndChecksAThreePort) {
  cFitParams params;
  params.symmetryTolerance = 1e-6;  // the asymmetry of (2, 0) is above it
  Fitter fitter(cFitAPI::Create(&params));
  ASSERT_NE(fitter, nullptr);
  const double z[3] = {50.0, 75.0, 100.0};
  fitter->BeginData(3, 1, z);

  std::vector<double> storage(3 * 6);
  double* rows[3] = {&storage[0], &storage[6], &storage[12]};
  DataPointRecord point{0.0, rows};
  const int count = 5;
  for (int k = 0; k < count; ++k) {
    point.frequency = 1e8 * (k + 1);
    for (int e = 0; e < 9; ++e)
      Element(k, e / 3, e % 3, &rows[e / 3][2 * (e % 3)], &rows[e / 3][2 * (e % 3) + 1]);
    ASSERT_TRUE(fitter->AddDataPoint(&point));
  }
  EXPECT_FALSE(fitter->AddDataPoint(&point));  // frequency not above the last
  EXPECT_FALSE(fitter->EndData());             // not symmetric within 1e-6
  EXPECT_FALSE(fitter->IsSymmetric());
  EXPECT_EQ(fitter->GetPortCount(), 3);
  EXPECT_EQ(fitter->GetDataType(), 1);
  ASSERT_NE(fitter->GetReferenceImpedances(), nullptr);
  EXPECT_EQ(fitter->GetReferenceImpedances()[2], 100.0);

  int walked = 0;
  for (DataPointRecord* r = fitter->GetFirstDataPoint(); r != nullptr;
       r = fitter->GetNextDataPoint(), ++walked) {
    EXPECT_EQ(r->frequency, 1e8 * (walked + 1));
    for (int e = 0; e < 9; ++e) {
      double re, im;
      Element(walked, e / 3, e % 3, &re, &im);
      EXPECT_EQ(r->values[e / 3][2 * (e % 3)], re);
      EXPECT_EQ(r->values[e / 3][2 * (e % 3) + 1], im);
    }
  }
  EXPECT_EQ(walked, count);

  double relative = -1.0, absolute = -1.0;
  EXPECT_FALSE(fitter->CheckSymmetry(&relative, &absolute));
  EXPECT_NEAR(absolute, 1e-4, 1e-12);
  EXPECT_GT(relative, 1e-6);
  EXPECT_EQ(fitter->GetErrorMessage(), nullptr);

  double magnitude, frequency;
  EXPECT_EQ(fitter->GetMaxElementMagnitude(1, 1, &magnitude, &frequency), 0);
  ASSERT_NE(fitter->GetErrorMessage(), nullptr);
  const std::string first = fitter->GetErrorMessage();
  EXPECT_NE(fitter->GetFirstDataPoint(), nullptr);                 // a success in between
  EXPECT_EQ(fitter->GetLowestPointTransfer(0, 7, &magnitude), 0);  // a second failure
  EXPECT_EQ(first, fitter->GetErrorMessage());                     // the first error stays

  EXPECT_EQ(fitter->Symmetrize(), 1);
  EXPECT_TRUE(fitter->IsSymmetric());
  EXPECT_TRUE(fitter->CheckSymmetry(&relative, &absolute));
  EXPECT_EQ(relative, 0.0);
  EXPECT_EQ(absolute, 0.0);
}

}  // namespace
