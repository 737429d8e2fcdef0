// Malformed input: every read must end cleanly with one of the reader's
// errors, without a crash or an overrun (the sanitizer build checks the
// memory side), and leave an object that still answers.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/log_capture.h"
#include "touchstone_test_support.h"

namespace cfit {
namespace {

using testing::LogCapture;
using testing::Message;
using testing::NewFitter;
using testing::ScratchDir;

const std::string kValid =
    "! valid 2-port\n# GHZ S RI R 50\n"
    "1 0.5 0.1 0.2 0.3 0.2 0.3 0.4 0.1\n"
    "2 0.4 0.1 0.2 0.3 0.2 0.3 0.4 0.2\n"
    "3 0.3 0.1 0.2 0.3 0.2 0.3 0.4 0.3\n";

// Reads `bytes`; expects failure with `error` (0: any of the reader's codes)
// and checks that the object still works: it answers queries and, when no
// data were stored, reads a valid file afterwards.
void ExpectCleanFailure(const ScratchDir& dir, const std::string& bytes, int error) {
  auto fitter = NewFitter();
  const std::string path = dir.Write("bad.s2p", bytes);
  LogCapture log;
  EXPECT_EQ(fitter->ReadTouchstone(path.c_str()), 0);
  const std::string message = Message(*fitter);
  if (error != 0) {
    EXPECT_EQ(message, path + ":\n" + FitErrorText(error));
  } else {
    bool known = false;
    for (int code : {1001, 1003}) known = known || message == path + ":\n" + FitErrorText(code);
    known = known || message == FitErrorText(24);
    EXPECT_TRUE(known) << message;
  }
  fitter->GetPortCount();
  fitter->GetFileComment();
  if (!fitter->HasSampledData()) {
    const std::string good = dir.Write("good.s2p", kValid);
    EXPECT_EQ(fitter->ReadTouchstone(good.c_str()), 2) << Message(*fitter);
    EXPECT_EQ(fitter->state().network.data->point_count(), 3);
  }
}

TEST(TouchstoneMalformed, TruncatedAtEveryByte) {
  ScratchDir dir;
  // Cut anywhere: the read either succeeds with fewer points or fails with
  // one of the reader's errors.
  for (std::size_t size = 0; size < kValid.size(); ++size) {
    SCOPED_TRACE(size);
    auto fitter = NewFitter();
    const std::string path = dir.Write("cut.s2p", kValid.substr(0, size));
    LogCapture log;
    const int result = fitter->ReadTouchstone(path.c_str());
    // A cut inside the first point can leave a layout of fewer ports.
    if (result == 0) {
      const std::string message = Message(*fitter);
      EXPECT_TRUE(message == path + ":\n" + FitErrorText(1001) ||
                  message == path + ":\n" + FitErrorText(1003))
          << message;
    } else {
      EXPECT_TRUE(result == 1 || result == 2) << result;
      EXPECT_GE(fitter->state().network.data->point_count(), 1);
    }
  }
  // A point cut in the middle fails with the format lines.
  ExpectCleanFailure(dir, kValid.substr(0, kValid.size() - 10), 1001);
}

TEST(TouchstoneMalformed, BinaryGarbage) {
  ScratchDir dir;
  std::mt19937 random(99);
  for (int round = 0; round < 20; ++round) {
    std::string bytes(1 + random() % 20000, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    ExpectCleanFailure(dir, bytes, 0);
    // Garbage after a valid start.
    ExpectCleanFailure(dir, kValid + bytes, 0);
  }
}

// Long lines, huge numbers and NUL bytes: each fails with its code, and
// the same hazards where they do no harm leave a file that reads.
TEST(TouchstoneMalformed, LongLinesHugeNumbersAndNulBytes) {
  ScratchDir dir;
  std::string numbers;
  while (numbers.size() < (1u << 20)) numbers += "0.125 ";
  const std::string longComment = "!" + std::string(1 << 20, 'c') + "\n";
  std::string nulCut = kValid;
  nulCut[nulCut.find("0.4 0.2")] = '\0';  // a NUL ends the text of its line
  const std::pair<std::string, int> failures[] = {
      {"# GHZ S RI\n" + numbers + "\n", 1001},  // beyond the port-count scan's line limit
      {kValid + numbers + "\n", 1001},          // the long line overruns
      {longComment + kValid, 1001},             // ends the port-count scan when first
      {std::string(2 << 20, '7'), 1001},
      {"# GHZ S RI\n" + std::string(50000, '9') + "\n", 1001},
      {"# GHZ S RI\n1" + std::string(3 << 20, '0') + " 0.5 0\n", 1001},
      {std::string(4096, '\0'), 1001},
      {nulCut, 1001},
      {std::string("\0", 1) + kValid.substr(kValid.find('#')), 1003},  // hides the option line
  };
  for (const auto& [bytes, code] : failures) ExpectCleanFailure(dir, bytes, code);
  for (const std::string& bytes : {kValid + longComment, std::string("!a\0b\n", 5) + kValid}) {
    auto fitter = NewFitter();
    LogCapture log;
    EXPECT_EQ(fitter->ReadTouchstone(dir.Write("ok.s2p", bytes).c_str()), 2) << Message(*fitter);
  }
}

TEST(TouchstoneMalformed, NonNumbersWhereNumbersBelong) {
  ScratchDir dir;
  // Bad words in the later data lines: each is logged and supplies nothing,
  // but the frequency it read first stays, so the last of them leaves a
  // point at its frequency with zero values.
  auto fitter = NewFitter();
  LogCapture log;
  const std::string path = dir.Write("w.s1p", "# GHZ S RI\n1 0.5 0\n2 a b\n3 c d\n");
  EXPECT_EQ(fitter->ReadTouchstone(path.c_str()), 1);
  ASSERT_EQ(fitter->state().network.data->point_count(), 2);
  EXPECT_EQ(fitter->state().network.data->back().frequency(), 3e9);
  EXPECT_EQ(fitter->state().network.data->back().At(0, 0), Complex(0, 0));
  const std::string bad = "\n Bad line encountered ! Line ignored \n\n";
  EXPECT_NE(log.text().find(bad + bad + "\n2 data points"), std::string::npos) << log.text();
  // Infinite and not-a-number words convert like %le does.
  auto special = NewFitter();
  const std::string path2 = dir.Write("s.s1p", "# GHZ S RI\n1 inf nan\n2 -INF 1e999\n");
  EXPECT_EQ(special->ReadTouchstone(path2.c_str()), 1) << Message(*special);
}

}  // namespace
}  // namespace cfit
