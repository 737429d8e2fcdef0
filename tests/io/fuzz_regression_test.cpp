// Inputs the fuzz targets (fuzz/) found to break a reader, each checked
// against the mended behaviour. The bytes are the reproducers, trimmed to
// what matters.
#include <gtest/gtest.h>

#include <string>

#include "support/log_capture.h"
#include "touchstone_test_support.h"

namespace cfit {
namespace {

using testing::LogCapture;
using testing::Message;
using testing::NewFitter;
using testing::ScratchDir;

// Reads `bytes` as a pole file into a fresh fitter and returns its result.
int ReadPoleBytes(const ScratchDir& dir, cCfit& fitter, const std::string& bytes) {
  const std::string path = dir.Write("case.pls", bytes);
  return fitter.ReadPoles(path.c_str());
}

// Several constant lines of one element add up. A sum beyond the residue
// bound was taken, written back as one constant line, and that copy was then
// refused: the reader now refuses the sum itself.
TEST(FuzzRegression, PoleFileConstantLinesStayWithinTheResidueBound) {
  ScratchDir dir;
  LogCapture log;
  auto within = NewFitter();
  ASSERT_EQ(ReadPoleBytes(dir, *within, "1\nR0: 50\n3\n1 1 1 1\n1e25 0 1e20 0\n1e25 0 -1e20 0\n"),
            1);
  EXPECT_EQ(within->state().model->constant[0], 0.0);
  const std::string copy = dir.Path("copy.pls");
  ASSERT_EQ(within->WritePoles(copy.c_str()), 1);
  EXPECT_EQ(NewFitter()->ReadPoles(copy.c_str()), 1);

  auto beyond = NewFitter();
  const std::string path =
      dir.Write("sum.pls", "1\nR0: 50\n3\n1 1 1 1\n1e25 0 1e20 0\n1e25 0 1e20 0\n");
  EXPECT_EQ(beyond->ReadPoles(path.c_str()), 0);
  EXPECT_EQ(Message(*beyond), path + ":\n" + FitErrorText(18));
  EXPECT_FALSE(beyond->HasFit());
}

}  // namespace
}  // namespace cfit
