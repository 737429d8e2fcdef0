// Inputs that broke a reader under the checks of the fuzz targets (fuzz/),
// each held against the mended behaviour. The bytes are the reproducers,
// trimmed to what matters.
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

// Several constant lines of one element add up. A sum beyond the residue
// bound was taken, written back as one constant line, and that copy was then
// refused: the reader now refuses the sum itself.
TEST(FuzzRegression, PoleFileConstantLinesStayWithinTheResidueBound) {
  ScratchDir dir;
  LogCapture log;
  auto within = NewFitter();
  const std::string cancelling =
      dir.Write("cancel.pls", "1\nR0: 50\n3\n1 1 1 1\n1e25 0 1e20 0\n1e25 0 -1e20 0\n");
  ASSERT_EQ(within->ReadPoles(cancelling.c_str()), 1);
  EXPECT_EQ(within->state().model->constant[0], 0.0);
  const std::string copy = dir.Path("copy.pls");
  ASSERT_EQ(within->WritePoles(copy.c_str()), 1);
  EXPECT_EQ(NewFitter()->ReadPoles(copy.c_str()), 1);

  auto beyond = NewFitter();
  const std::string adding =
      dir.Write("sum.pls", "1\nR0: 50\n3\n1 1 1 1\n1e25 0 1e20 0\n1e25 0 1e20 0\n");
  EXPECT_EQ(beyond->ReadPoles(adding.c_str()), 0);
  EXPECT_EQ(Message(*beyond), adding + ":\n" + FitErrorText(18));
  EXPECT_FALSE(beyond->HasFit());
}

}  // namespace
}  // namespace cfit
