// A host of the library: only the public header and libcfit.so.
#include <cfit/cfit.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace {

// Element e = 3 i + j of the 3-port at point k: reciprocal except for a small
// asymmetry of (2, 0).
double Part(int k, int e, int part) {
  const int a = std::min(e / 3, e % 3), b = std::max(e / 3, e % 3);
  return part == 0 ? 0.1 * (a + 1) + 0.01 * b - 0.001 * k + (e == 6 ? 1e-4 : 0.0)
                   : -0.05 * (a + b) + 0.002 * k;
}

// Creation with and without parameters (refused without storage); a 3-port
// loaded (the reference impedances are optional), walked and checked for symmetry; the first error
// stays until read past a success; Symmetrize makes the data reciprocal.
TEST(Host, LoadsWalksAndChecksAThreePort) {
  cFitParams params, none;
  params.symmetryTolerance = 1e-6, none.maxColumns = -1;  // the asymmetry of (2, 0) is above it
  std::unique_ptr<cFitAPI> blank(cFitAPI::Create(nullptr)), f(cFitAPI::Create(&params));
  ASSERT_TRUE(blank && f && cFitAPI::Create(&none) == nullptr);
  f->BeginData(3, 1, nullptr);
  double storage[3][6], *rows[3] = {storage[0], storage[1], storage[2]};
  DataPointRecord point{0.0, rows};
  for (int k = 0; k < 5; ++k) {
    point.frequency = 1e8 * (k + 1);
    for (int e = 0; e < 18; ++e) rows[e / 6][e % 6] = Part(k, e / 2, e % 2);
    ASSERT_TRUE(f->AddDataPoint(&point));
  }
  // The frequency is not above the last; the data are not symmetric within 1e-6.
  EXPECT_FALSE(f->AddDataPoint(&point) || f->EndData());
  EXPECT_TRUE(f->GetPortCount() == 3 && f->GetDataType() == 1 && !f->IsSymmetric());
  int k = 0;  // the walk
  for (DataPointRecord* r = f->GetFirstDataPoint(); r != nullptr; r = f->GetNextDataPoint(), ++k) {
    EXPECT_EQ(r->frequency, 1e8 * (k + 1));
    for (int e = 0; e < 18; ++e) EXPECT_EQ(r->values[e / 6][e % 6], Part(k, e / 2, e % 2)) << k;
  }
  EXPECT_EQ(k, 5);
  double relative = -1.0, absolute = -1.0, magnitude, frequency;
  EXPECT_FALSE(f->CheckSymmetry(&relative, &absolute) || f->GetErrorMessage());
  EXPECT_TRUE(std::abs(absolute - 1e-4) < 1e-12 && relative > 1e-6);
  ASSERT_TRUE(f->GetMaxElementMagnitude(1, 1, &magnitude, &frequency) == 0 && f->GetErrorMessage());
  const std::string first = f->GetErrorMessage();
  EXPECT_NE(f->GetFirstDataPoint(), nullptr);                 // a success in between
  EXPECT_EQ(f->GetLowestPointTransfer(0, 7, &magnitude), 0);  // a second failure
  EXPECT_EQ(first, f->GetErrorMessage());                     // the first error stays
  EXPECT_TRUE(f->Symmetrize() == 1 && f->IsSymmetric() && f->CheckSymmetry(&relative, &absolute));
  EXPECT_TRUE(relative == 0.0 && absolute == 0.0);
}

}  // namespace
