#include "io/run_log.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/log_capture.h"

namespace cfit {
namespace {

TEST(RunLog, TimestampHasTheAsctimeLayoutWithoutLineFeed) {
  const std::string stamp = runlog::Timestamp();
  EXPECT_TRUE(std::regex_match(
      stamp,
      std::regex(
          R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4})")))
      << stamp;
}

TEST(RunLog, NumbersTakeTheStreamDefaults) {
  testing::LogCapture log;
  runlog::Write("value ", 0.1234567, " count ", 42, " big ", 1.5e-12, "\n");
  EXPECT_EQ(log.text(), "value 0.123457 count 42 big 1.5e-12\n");
}

TEST(RunLog, BannerAndStartEndLines) {
  testing::LogCapture log;
  runlog::Banner(" ****** Writing poles to a.pls ********\n");
  EXPECT_EQ(log.text(),
            "\n ******************************************\n"
            " ****** Writing poles to a.pls ********\n"
            " ******************************************\n");
  log.clear();
  runlog::StartLine(" Reading from touchstone file ", "a.s2p");
  runlog::EndLine(" Reading from touchstone file ", "a.s2p");
  const std::string text = log.text();
  EXPECT_TRUE(std::regex_match(
      text, std::regex(" Reading from touchstone file a\\.s2p start: [^\n]{24}\n"
                       " Reading from touchstone file a\\.s2p   end: [^\n]{24}\n")))
      << text;
}

}  // namespace
}  // namespace cfit
