#include "api/errors.h"

#include <gtest/gtest.h>

#include <string>

namespace cfit {
namespace {

TEST(ErrorSlot, KeepsTheFirstListedCondition) {
  ErrorSlot slot;
  EXPECT_EQ(slot.message(), nullptr);
  EXPECT_EQ(slot.Record(60), 1);  // not in the table: nothing recorded
  EXPECT_EQ(slot.message(), nullptr);
  EXPECT_EQ(slot.Record(6), 0);
  EXPECT_STREQ(slot.message(), "No sampled data available");
  EXPECT_EQ(slot.Record(8), 0);
  EXPECT_EQ(slot.RecordFile("x.s2p", 1002), 0);
  EXPECT_STREQ(slot.message(), "No sampled data available");
  slot.Clear();
  EXPECT_EQ(slot.message(), nullptr);
  EXPECT_EQ(slot.Record(8), 0);
  EXPECT_STREQ(slot.message(), "Fitted data not available");
}

TEST(ErrorSlot, FileConditionsNameTheFile) {
  ErrorSlot slot;
  EXPECT_EQ(slot.RecordFile("a.s2p", 1002), 0);
  EXPECT_STREQ(slot.message(), "a.s2p:\nCannot open the touchstone file");
  slot.Clear();
  EXPECT_EQ(slot.RecordFile(nullptr, 18), 0);
  EXPECT_STREQ(slot.message(), ":\nInvalid pls file format");
}

TEST(ErrorTable, ListedAndUnlistedCodes) {
  for (int code = 2; code <= 58; ++code) {
    ASSERT_NE(FitErrorText(code), nullptr) << code;
    EXPECT_GT(std::string(FitErrorText(code)).size(), 10u) << code;
  }
  for (int code : {0, 1, 59, 65, 70, 72, 1000, 1004, -1}) EXPECT_EQ(FitErrorText(code), nullptr);
  EXPECT_STREQ(FitErrorText(71), "Unknown touchstone format type");
  EXPECT_STREQ(FitErrorText(1001), "Invalid touchstone syntax");
  EXPECT_STREQ(FitErrorText(1003), "We only support S-Y-Z parameter types");
  EXPECT_STREQ(FitErrorText(55), "InvalidTimeResponseParameters");
  EXPECT_STREQ(FitErrorText(2), "ReadTouchstone failed. The object already contains sampled data");
}

TEST(FatalError, WritesTitleAndTextToStandardErrorThenThrows) {
  ::testing::internal::CaptureStderr();
  bool thrown = false;
  try {
    FatalError(1234);
  } catch (const InternalFault& fault) {
    thrown = true;
    EXPECT_EQ(fault.line, 1234u);
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(thrown);
  EXPECT_EQ(err, "FATAL ERROR\nLine:1234,   File:.\\cfit   File date:Aug  2 2010\n");
}

}  // namespace
}  // namespace cfit
