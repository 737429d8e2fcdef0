// Placeholder host test; replaced below.
#include <gtest/gtest.h>
#include <cfit/cfit.h>
TEST(Host, CreateAndDelete) {
  cFitAPI* fitter = cFitAPI::Create(nullptr);
  ASSERT_NE(fitter, nullptr);
  delete fitter;
}
