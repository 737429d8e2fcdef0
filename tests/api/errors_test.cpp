#include "api/errors.h"

#include <gtest/gtest.h>

#include <string>

namespace cfit {
namespace {

TEST(ErrorSlot, KeepsTheFirstConditionAndNamesFiles) {
  ErrorSlot slot;
  EXPECT_EQ(slot.message(), nullptr);
  // A value outside the enumerators records nothing and still fails.
  EXPECT_EQ(slot.Record(static_cast<ErrorCode>(60)), 0);
  EXPECT_EQ(slot.message(), nullptr);
  EXPECT_EQ(slot.Record(ErrorCode::kNoData), 0);
  EXPECT_STREQ(slot.message(), "No sampled data available");
  EXPECT_EQ(slot.RecordFile("x.s2p", ErrorCode::kCannotOpenTouchstone), 0);
  EXPECT_STREQ(slot.message(), "No sampled data available");
  slot.Clear();
  EXPECT_EQ(slot.RecordFile("a.s2p", ErrorCode::kCannotOpenTouchstone), 0);
  EXPECT_STREQ(slot.message(), "a.s2p:\nCannot open the touchstone file");
  slot.Clear();
  EXPECT_EQ(slot.RecordFile(nullptr, ErrorCode::kInvalidPoleFile), 0);
  EXPECT_STREQ(slot.message(), ":\nInvalid pls file format");
}

TEST(ErrorTable, EveryEnumeratorHasItsTextAndOtherNumbersNone) {
  for (int code = 2; code <= 58; ++code) {
    ASSERT_NE(ErrorText(static_cast<ErrorCode>(code)), nullptr) << code;
  }
  for (int code : {0, 1, 59, 70, 72, 1000, 1004, -1}) EXPECT_EQ(FitErrorText(code), nullptr);
  EXPECT_STREQ(ErrorText(ErrorCode::kUnknownTouchstoneFormat), "Unknown touchstone format type");
  EXPECT_STREQ(ErrorText(ErrorCode::kInvalidTimeResponse), "InvalidTimeResponseParameters");
  EXPECT_STREQ(FitErrorText(56), "TimeResponseParameters : Bit time zero or negative");
  EXPECT_STREQ(FitErrorText(58), "Incorrect parameters in trapezoidal impulse definition");
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
