#include "io/touchstone_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/log_capture.h"
#include "touchstone_test_support.h"

namespace cfit {
namespace {

using testing::LogCapture;
using testing::Message;
using testing::NewFitter;
using testing::ScratchDir;
using testing::WithoutTimestamps;

// The log of a read that reaches its passes, with `middle` between the
// banner line and the end line.
std::string ReadLog(const std::string& file, const std::string& middle) {
  return "<start>\n\n ====== Reading data from touchstone file: " + file + " ======\n\n" + middle +
         "<end>";
}
std::string CountLine(int count) {
  return "\n" + std::to_string(count) + " data points were read from touchstone file\n";
}
const std::string kIncorrectFormat =
    "*** Error: incorrect format of touchstone file ***\n"
    "*** Or incorrect # of ports set in fitter ***\n";
const std::string kProblem = "\n*** Problem in reading touchstone data ***\n";
const std::string kBadUnits =
    " Bad line encountered ! :  Line with bad definition of units \n  Line ignored \n\n";
const std::string kBadLine = "\n Bad line encountered ! Line ignored \n\n";
const std::string kNoOption = "\n No option line found ! : default units used \n";

// Reads `text` from a scratch file; returns the result and fills the log
// (timestamps replaced) and the path.
struct ReadOutcome {
  int result;
  std::string log;
  std::string path;
};
ReadOutcome ReadText(cCfit& fitter, const ScratchDir& dir, const std::string& text,
                     const std::string& name = "t.snp") {
  const std::string path = dir.Write(name, text);
  LogCapture log;
  const int result = fitter.ReadTouchstone(path.c_str());
  return {result, WithoutTimestamps(log.text()), path};
}

// With symmetrising switched off, the values read are the values in the file.
cFitParams Unsymmetrised() {
  cFitParams params;
  params.symmetryTolerance = 0.0;
  return params;
}

Complex At(cCfit& fitter, int point, int i, int j) {
  return fitter.state().data->points()[static_cast<std::size_t>(point)].At(i, j);
}

// ---------------------------------------------------------------------------
// Layouts

TEST(TouchstoneReader, TwoPortOnOneLineIsReadInTwoPortOrderAndSplitLinesInRowOrder) {
  ScratchDir dir;
  auto one = NewFitter(Unsymmetrised());
  const auto r1 = ReadText(*one, dir,
                           "# HZ S RI R 50\n"
                           "1 11 -11 21 -21 12 -12 22 -22\n"
                           "2 11 -11 21 -21 12 -12 22 -22\n");
  ASSERT_EQ(r1.result, 2) << Message(*one);
  EXPECT_EQ(At(*one, 0, 0, 0), Complex(11, -11));
  EXPECT_EQ(At(*one, 0, 1, 0), Complex(21, -21));
  EXPECT_EQ(At(*one, 0, 0, 1), Complex(12, -12));
  EXPECT_EQ(At(*one, 1, 1, 1), Complex(22, -22));

  auto split = NewFitter(Unsymmetrised());
  const auto r2 = ReadText(*split, dir,
                           "# HZ S RI R 50\n"
                           "1 11 -11 21 -21\n 12 -12 22 -22\n"
                           "2 11 -11 21 -21\n 12 -12 22 -22\n");
  ASSERT_EQ(r2.result, 2) << Message(*split);
  // Row order: the second pair is (1, 2), the third (2, 1).
  EXPECT_EQ(At(*split, 0, 0, 0), Complex(11, -11));
  EXPECT_EQ(At(*split, 0, 0, 1), Complex(21, -21));
  EXPECT_EQ(At(*split, 0, 1, 0), Complex(12, -12));
  EXPECT_EQ(At(*split, 1, 1, 1), Complex(22, -22));

  // One split point is enough to read the whole file in row order.
  auto mixed = NewFitter(Unsymmetrised());
  const auto r3 = ReadText(*mixed, dir,
                           "# HZ S RI R 50\n"
                           "1 11 -11 21 -21 12 -12 22 -22\n"
                           "2 11 -11 21 -21\n 12 -12 22 -22\n");
  ASSERT_EQ(r3.result, 2);
  EXPECT_EQ(At(*mixed, 0, 0, 1), Complex(21, -21));
}

TEST(TouchstoneReader, ThreePortWithSevenAndSixNumbersPerLine) {
  ScratchDir dir;
  auto fitter = NewFitter(Unsymmetrised());
  std::string text = "# GHZ S RI\n";
  for (int f = 1; f <= 2; ++f) {
    text +=
        std::to_string(f) + " 11 0.1 12 0.2 13 0.3\n 21 1.1 22 1.2 23 1.3\n31 2.1 32 2.2 33 2.3\n";
  }
  const auto r = ReadText(*fitter, dir, text);
  ASSERT_EQ(r.result, 3) << Message(*fitter);
  EXPECT_EQ(r.log, ReadLog(r.path, CountLine(2)));
  EXPECT_EQ(fitter->state().data->points()[1].frequency(), 2e9);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(At(*fitter, 1, i, j).re, 10 * (i + 1) + (j + 1));
      EXPECT_DOUBLE_EQ(At(*fitter, 1, i, j).im, i + 0.1 * (j + 1));
    }
  }
}

TEST(TouchstoneReader, OnePortYInDbWithItsImpedance) {
  ScratchDir dir;
  auto fitter = NewFitter();
  const auto r = ReadText(*fitter, dir, "# MHZ Y DB R 75\n100 -6.0206 90\n");
  ASSERT_EQ(r.result, 1) << Message(*fitter);
  EXPECT_EQ(fitter->GetDataType(), 2);
  EXPECT_EQ(fitter->state().data->front().frequency(), 1e8);
  const Complex v = At(*fitter, 0, 0, 0);
  EXPECT_NEAR(v.re, 0.0, 1e-9);
  EXPECT_NEAR(v.im, 0.5, 1e-5);
  EXPECT_NEAR(v.im, std::pow(10.0, -6.0206 / 20.0) * std::sin(3.14159265358979 / 2), 1e-15);
  ASSERT_TRUE(fitter->state().impedances.has_value());
  EXPECT_EQ(*fitter->state().impedances, std::vector<double>{75.0});
  EXPECT_NE(fitter->state().elements, nullptr);
}

TEST(TouchstoneReader, UnitsFormatsAndTheDbFloor) {
  ScratchDir dir;
  // MA with angles in degrees; kHz; DB -400 is exactly zero while -399.9 is
  // only tiny.
  auto ma = NewFitter();
  ASSERT_EQ(ReadText(*ma, dir, "# KHZ S MA\n2 2 180\n3 0.5 -90\n").result, 1);
  EXPECT_EQ(ma->state().data->front().frequency(), 2e3);
  EXPECT_NEAR(At(*ma, 0, 0, 0).re, -2.0, 1e-15);
  EXPECT_NEAR(At(*ma, 1, 0, 0).im, -0.5, 1e-15);

  auto db = NewFitter();
  ASSERT_EQ(ReadText(*db, dir, "# G S DB\n1 -400 30\n2 -399.9 30\n3 0 0\n").result, 1);
  EXPECT_EQ(At(*db, 0, 0, 0), Complex(0.0, 0.0));
  EXPECT_GT(std::abs(At(*db, 1, 0, 0).re), 0.0);
  EXPECT_EQ(At(*db, 2, 0, 0), Complex(1.0, 0.0));
  EXPECT_EQ(db->state().data->back().frequency(), 3e9);
}

TEST(TouchstoneReader, StoringStopsAtTheFirstFrequencyNotAboveItsPredecessor) {
  ScratchDir dir;
  auto fitter = NewFitter();
  const auto r = ReadText(*fitter, dir, "# GHZ S RI\n1 1 0\n2 2 0\n2 3 0\n3 4 0\n");
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.log, ReadLog(r.path, CountLine(2)));
  ASSERT_EQ(fitter->state().data->point_count(), 2);
  EXPECT_EQ(fitter->state().data->back().frequency(), 2e9);
  EXPECT_EQ(At(*fitter, 1, 0, 0), Complex(2, 0));
}

TEST(TouchstoneReader, TrailingCommentsOnDataLinesAreDropped) {
  ScratchDir dir;
  auto fitter = NewFitter(Unsymmetrised());
  // A comment after the numbers, in a two-port line, in a split point, one
  // glued to the last number and one holding words that look like numbers.
  const auto r = ReadText(*fitter, dir,
                          "! header\n# GHz S MA R 50\n"
                          "1 0.5 10 0.1 20 0.2 30 0.3 40 ! first point 1 2 3\n"
                          "2 0.5 10 0.1 20 0.2 30 0.3 40!glued\n"
                          "3 0.5 10 0.1 20 0.2 30 0.3 40 !\n");
  ASSERT_EQ(r.result, 2) << Message(*fitter) << r.log;
  EXPECT_EQ(r.log, ReadLog(r.path, CountLine(3)));
  EXPECT_NEAR(Abs(At(*fitter, 2, 1, 1)), 0.3, 1e-15);
}

// Regular files get their values while the points are counted; a line with
// a form feed (white space between numbers, but part of a word when points
// are counted) sends the read through the separate value pass. Both ways
// must give the same points.
TEST(TouchstoneReader, CountingPassAndValuePassReadTheSame) {
  ScratchDir dir;
  const std::string files[] = {
      "# GHZ S RI\n1 11 -11 21 -21 12 -12 22 -22\n2 1 2 3 4 5 6 7 8\n",
      "# GHZ S RI\n1 11 -11 21 -21\n 12 -12 22 -22\n2 1 2 3 4\n 5 6 7 8\n",
      "# GHZ S MA\n1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 90\n",
      "# GHZ S DB\n1 -1 0 -2 0 -3 0 -4 0\n -5 0\n -6 0 -7 0 -8 0 -9 0\n -10 0\n"
      " -11 0 -12 0 -13 0 -14 0\n -15 0\n -16 0 -17 0 -18 0 -19 0\n -20 0\n"
      " -21 0 -22 0 -23 0 -24 0\n -25 5\n",
  };
  for (const std::string& text : files) {
    SCOPED_TRACE(text);
    auto counted = NewFitter(Unsymmetrised());
    auto separate = NewFitter(Unsymmetrised());
    const auto a = ReadText(*counted, dir, text, "a.snp");
    const auto b = ReadText(*separate, dir, text.substr(0, text.size() - 1) + "\f\n", "b.snp");
    ASSERT_GT(a.result, 0);
    ASSERT_EQ(a.result, b.result);
    const auto& pa = counted->state().data->points();
    const auto& pb = separate->state().data->points();
    ASSERT_EQ(pa.size(), pb.size());
    for (std::size_t k = 0; k < pa.size(); ++k) {
      EXPECT_EQ(pa[k].frequency(), pb[k].frequency());
      for (int i = 0; i < a.result; ++i) {
        for (int j = 0; j < a.result; ++j) EXPECT_EQ(pa[k].At(i, j), pb[k].At(i, j));
      }
    }
  }
}

// A one-port point split after its frequency: the second line starts again
// at element (1, 1), so its first word is read as the frequency and its pair
// is cut. The point count sees a whole point; the values do not fill it.
TEST(TouchstoneReader, FrequencyAloneOnALine) {
  ScratchDir dir;
  auto fitter = NewFitter();
  const auto r = ReadText(*fitter, dir, "# HZ S RI\n10 0.5 0\n20\n30 0.5\n");
  ASSERT_EQ(r.result, 1) << Message(*fitter);
  EXPECT_EQ(r.log, ReadLog(r.path, CountLine(2)));
  EXPECT_EQ(fitter->state().data->back().frequency(), 30.0);
  EXPECT_EQ(At(*fitter, 1, 0, 0), Complex(0, 0));
}

TEST(TouchstoneReader, CrLfAndMixedLineEndsReadLikeLf) {
  ScratchDir dir;
  const std::string lf =
      "! c\n# GHz S RI R 50\n1 11 -11 21 -21\n 12 -12 22 -22\n\n2 1 2 3 4\n 5 6 7 8\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string cr;
  for (char c : lf) cr += c == '\n' ? '\r' : c;
  auto a = NewFitter(Unsymmetrised());
  auto b = NewFitter(Unsymmetrised());
  auto c = NewFitter(Unsymmetrised());
  ASSERT_EQ(ReadText(*a, dir, lf, "lf.s2p").result, 2);
  ASSERT_EQ(ReadText(*b, dir, crlf, "crlf.s2p").result, 2) << Message(*b);
  ASSERT_EQ(ReadText(*c, dir, cr, "cr.s2p").result, 2) << Message(*c);
  for (cCfit* other : {b.get(), c.get()}) {
    ASSERT_EQ(other->state().data->point_count(), 2);
    for (int k = 0; k < 2; ++k) {
      for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) EXPECT_EQ(At(*other, k, i, j), At(*a, k, i, j));
      }
    }
  }
  EXPECT_EQ(std::string(a->GetFileComment()), " c\n");
  EXPECT_EQ(std::string(b->GetFileComment()), " c\r\n");
}

// ---------------------------------------------------------------------------
// Option line

struct OptionCase {
  const char* line;
  int result;    // port count, or 0
  int error;     // 0, 1001 or 1003
  double scale;  // frequency of the data line "1 ..." in hertz
  int dataType;
  const char* why;
};

TEST(TouchstoneReader, OptionLineWordsPrefixesAndDefaults) {
  const OptionCase cases[] = {
      {"# GHZ S RI R 50", 1, 0, 1e9, 1, "full line"},
      {"# ghz s ri r 50", 1, 0, 1e9, 1, "case does not matter"},
      {"#\tHz\tS\tRI\tR\t50", 1, 0, 1, 1, "tabs separate words"},
      {"# G", 1, 0, 1e9, 1, "G is a prefix of GHZ"},
      {"# M Y", 1, 0, 1e6, 2, "M is MHz"},
      {"# K Z", 1, 0, 1e3, 3, "K is kHz"},
      {"# H P", 1, 0, 1, 5, "H is Hz; P is the pulse model"},
      {"# ", 1, 0, 1, 1, "no word: Hz S RI 50"},
      {"   # MHZ S RI", 1, 0, 1e6, 1, "a '#' after blanks is accepted"},
      {"# GHZX S RI", 0, 1003, 0, 0, "unit too long"},
      {"# THZ S RI", 0, 1003, 0, 0, "unknown unit"},
      {"# GHZ H MA R 1", 0, 1003, 0, 0, "H parameters are not supported"},
      {"# GHZ SS RI", 0, 1003, 0, 0, "type word longer than one letter"},
      {"# GHZ S XY", 0, 1001, 0, 1, "unknown format"},
      {"# GHZ S R 50", 0, 1001, 0, 1, "R is taken as the format RI"},
      {"# GHZ S RI R", 0, 1001, 0, 1, "R without a value"},
      {"# GHZ S RI R (50+50j)", 0, 1001, 0, 1, "complex reference"},
      {"# GHZ S RI X 50", 0, 1001, 0, 1, "unknown impedance word"},
      {"# GHZ S RI R 50 junk", 1, 0, 1e9, 1, "text after R value is ignored"},
      {"# GHZ S RI R 50ohm", 1, 0, 1e9, 1, "the value converts like %lf"},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(std::string(c.line) + " (" + c.why + ")");
    ScratchDir dir;
    auto fitter = NewFitter();
    const auto r = ReadText(*fitter, dir, std::string(c.line) + "\n1 0.5 0.25\n");
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(fitter->GetPortCount(), 1);
    EXPECT_EQ(fitter->GetDataType(), c.dataType);
    if (c.result != 0) {
      EXPECT_EQ(fitter->state().data->front().frequency(), c.scale);
      EXPECT_EQ(r.log, ReadLog(r.path, CountLine(1)));
    } else {
      EXPECT_EQ(Message(*fitter), r.path + ":\n" + FitErrorText(c.error));
      EXPECT_EQ(r.log, ReadLog(r.path, kBadUnits + kProblem));
      EXPECT_FALSE(fitter->HasSampledData());
      EXPECT_EQ(fitter->state().elements, nullptr);
    }
  }
}

TEST(TouchstoneReader, ReferenceImpedancesPerPort) {
  ScratchDir dir;
  const std::string point = "1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 0\n";
  struct Case {
    const char* option;
    std::vector<double> expected;
    int result;
  } cases[] = {
      {"# HZ S RI R1 10 R2 20 R3 30", {10, 20, 30}, 3},
      {"# HZ S RI R1 10 R2 20", {10, 20, 10}, 3},              // later ports take the first
      {"# HZ S RI r1 10 r2 20 r3 30 r4 40", {10, 20, 30}, 3},  // extra values ignored
      {"# HZ S MA", {50, 50, 50}, 3},
      {"# HZ S RI R 75 R2 20", {75, 75, 75}, 3},
      {"# HZ S RI R1 10 R3 30", {}, 0},  // names must count up from R1
      {"# HZ S RI R1 10 R2", {}, 0},     // a name without its value
      {"# HZ S RI R1 10 R2 x", {}, 0},   // a value that is not a number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    auto fitter = NewFitter();
    const auto r = ReadText(*fitter, dir, std::string(c.option) + "\n" + point);
    ASSERT_EQ(r.result, c.result);
    if (c.result != 0) {
      EXPECT_EQ(*fitter->state().impedances, c.expected);
    } else {
      EXPECT_EQ(Message(*fitter), r.path + ":\n" + FitErrorText(1001));
      EXPECT_FALSE(fitter->state().impedances.has_value());
    }
  }
}

TEST(TouchstoneReader, TenThousandImpedancesDoNotOverrunTheOptionRecord) {
  ScratchDir dir;
  const std::string point = "\n1 0.5 0 0.1 0 0.1 0 0.5 0\n";
  // Short values keep the line under the detection limit: the first N values
  // are used and the rest is ignored.
  std::string option = "# GHZ S RI";
  for (int k = 1; k <= 10000; ++k)
    option += " R" + std::to_string(k) + " " + std::to_string(k % 10);
  ASSERT_LT(option.size(), 100000u);
  auto fitter = NewFitter();
  const auto r = ReadText(*fitter, dir, option + point);
  ASSERT_EQ(r.result, 2) << Message(*fitter);
  EXPECT_EQ(*fitter->state().impedances, (std::vector<double>{1, 2}));

  // Beyond the room of N + 11 values the pairs are not even looked at.
  auto ignored = NewFitter();
  const auto r2 = ReadText(*ignored, dir,
                           "# GHZ S RI R1 1 R2 2 R3 3 R4 4 R5 5 R6 6 R7 7 R8 8 R9 9 R10 10 R11 11 "
                           "R12 12 R13 13 junk" +
                               point);
  EXPECT_EQ(r2.result, 2) << Message(*ignored);

  // Longer values make a line beyond the port-count scan's line limit: the
  // scan ends there, before any data, and the port count is not found.
  std::string longer = "# GHZ S RI";
  for (int k = 1; k <= 10000; ++k) longer += " R" + std::to_string(k) + " 50.000";
  auto undetected = NewFitter();
  const auto r3 = ReadText(*undetected, dir, longer + point);
  EXPECT_EQ(r3.result, 0);
  EXPECT_EQ(r3.log, "*** Unable to detect the number of ports from " + r3.path + " ***\n");
  EXPECT_EQ(Message(*undetected), r3.path + ":\n" + FitErrorText(1001));
}

TEST(TouchstoneReader, LaterOptionLinesAreSkippedSilently) {
  ScratchDir dir;
  auto fitter = NewFitter();
  const auto r =
      ReadText(*fitter, dir, "# MHZ S RI\n1 0.5 0\n# GHZ Q XX\n2 0.5 0\n   # junk\n3 1 0\n");
  ASSERT_EQ(r.result, 1) << r.log;
  EXPECT_EQ(r.log, ReadLog(r.path, CountLine(3)));
  EXPECT_EQ(fitter->state().data->back().frequency(), 3e6);
}

TEST(TouchstoneReader, DataBeforeAnyOptionLineEndsTheRead) {
  ScratchDir dir;
  auto fitter = NewFitter();
  const auto r = ReadText(*fitter, dir, "! c\n1 0.5 0\n# GHZ S RI\n2 0.5 0\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.log, ReadLog(r.path, kNoOption + kProblem));
  EXPECT_EQ(Message(*fitter), r.path + ":\n" + FitErrorText(1003));
  EXPECT_EQ(fitter->GetPortCount(), 1);
  EXPECT_EQ(fitter->GetDataType(), 0);
  EXPECT_FALSE(fitter->HasSampledData());
}

// ---------------------------------------------------------------------------
// Failures of the passes and their logs

TEST(TouchstoneReader, PointOverrunningALineEndFailsWithTheFormatLines) {
  ScratchDir dir;
  auto fitter = NewFitter();
  // The second point's pair is split across lines of a one-port.
  const auto r = ReadText(*fitter, dir, "# GHZ S RI\n1 0.5 0\n2 0.5 0\n3 0.5\n0 4 0.5 0\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.log, ReadLog(r.path, kIncorrectFormat + kProblem));
  EXPECT_EQ(Message(*fitter), r.path + ":\n" + FitErrorText(1001));
  EXPECT_EQ(fitter->GetPortCount(), 1);
  EXPECT_EQ(fitter->GetDataType(), 1);  // the option line was read
  EXPECT_FALSE(fitter->HasSampledData());
  EXPECT_EQ(fitter->state().elements, nullptr);
}

TEST(TouchstoneReader, TruncatedLastPointFails) {
  ScratchDir dir;
  auto fitter = NewFitter();
  const auto r = ReadText(*fitter, dir, "# GHZ S RI\n1 0.5 0 0.1 0 0.1 0 0.5 0\n2 0.5 0 0.1 0");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.log, ReadLog(r.path, kIncorrectFormat + kProblem));
  EXPECT_EQ(Message(*fitter), r.path + ":\n" + FitErrorText(1001));
}

TEST(TouchstoneReader, BadDataLinesAreLoggedAndSkipped) {
  ScratchDir dir;
  auto fitter = NewFitter(Unsymmetrised());
  // The second line has a word that is no number: it supplies nothing, so
  // the third line completes the second point.
  const auto r = ReadText(*fitter, dir,
                          "# GHZ S RI\n1 0.5 0 0.1 0 0.1 0 0.5 0\n2 x 0 0.1 0 0.1 0 0.5 0\n"
                          "3 0.25 0 0.1 0 0.1 0 0.5 0\n");
  ASSERT_EQ(r.result, 2) << Message(*fitter);
  EXPECT_EQ(r.log, ReadLog(r.path, kBadLine + CountLine(2)));
  EXPECT_EQ(fitter->state().data->points()[1].frequency(), 3e9);
  EXPECT_EQ(At(*fitter, 1, 0, 0), Complex(0.25, 0));
}

TEST(TouchstoneReader, MissingAndUndetectableFiles) {
  ScratchDir dir;
  auto fitter = NewFitter();
  // An earlier message of another operation is cleared when reading starts.
  EXPECT_EQ(fitter->WriteTouchstone(dir.Path("x.s1p").c_str(), 0), 0);
  ASSERT_EQ(Message(*fitter), FitErrorText(6));
  const std::string missing = dir.Path("a.s2p");
  LogCapture log;
  EXPECT_EQ(fitter->ReadTouchstone(missing.c_str()), 0);
  EXPECT_EQ(Message(*fitter), missing + ":\nCannot open the touchstone file");
  EXPECT_EQ(log.text(), "");

  for (const std::string& text :
       {std::string(), std::string("! only a comment\n# GHZ S RI\n"),
        std::string("# GHZ S RI\n1 2 3 4 5\n6 7\n"), std::string("# GHZ S RI\n1 2 3 4 5 6\n")}) {
    SCOPED_TRACE(text);
    auto other = NewFitter();
    log.clear();
    const std::string path = dir.Write("u.s2p", text);
    EXPECT_EQ(other->ReadTouchstone(path.c_str()), 0);
    EXPECT_EQ(log.text(), "*** Unable to detect the number of ports from " + path + " ***\n");
    EXPECT_EQ(Message(*other), path + ":\n" + FitErrorText(1001));
    EXPECT_EQ(other->GetPortCount(), 0);
  }
}

TEST(TouchstoneReader, PreconditionsComeFirstAndKeepTheEarlierMessage) {
  ScratchDir dir;
  const std::string good = dir.Write("g.s1p", "# GHZ S RI\n1 0.5 0\n");
  auto fitter = NewFitter();
  LogCapture log;
  ASSERT_EQ(fitter->ReadTouchstone(good.c_str()), 1);
  log.clear();
  EXPECT_EQ(fitter->ReadTouchstone(good.c_str()), 0);
  EXPECT_EQ(Message(*fitter), FitErrorText(2));
  EXPECT_EQ(log.text(), "");

  // A fit without data: code 3.
  auto fitted = NewFitter();
  FitterState& s = fitted->state();
  s.portCount = 1;
  s.dataType = kS;
  s.ResetElementTable();
  s.model = std::make_unique<FittedModel>();
  s.model->n = 1;
  s.model->constant = {0.0};
  s.model->delay = {0.0};
  s.model->elementPoles.assign(1, PoleList(1));
  ASSERT_TRUE(fitted->HasFit());
  EXPECT_EQ(fitted->ReadTouchstone(good.c_str()), 0);
  EXPECT_EQ(Message(*fitted), FitErrorText(3));
}

TEST(TouchstoneReader, HeaderCommentIsKept) {
  ScratchDir dir;
  auto fitter = NewFitter();
  ASSERT_EQ(
      ReadText(*fitter, dir, "!first\n\n! second line\n!\n  ! not header\n# GHZ S RI\n1 1 0\n")
          .result,
      1);
  EXPECT_EQ(std::string(fitter->GetFileComment()), "first\n second line\n\n");

  auto none = NewFitter();
  ASSERT_EQ(ReadText(*none, dir, "# GHZ S RI\n!late\n1 1 0\n").result, 1);
  EXPECT_EQ(std::string(none->GetFileComment()), "");

  auto longer = NewFitter();
  std::string text;
  for (int k = 0; k < 40; ++k) text += "!" + std::string(40, 'a' + k % 26) + "\n";
  ASSERT_EQ(ReadText(*longer, dir, text + "# GHZ S RI\n1 1 0\n").result, 1);
  const std::string comment = longer->GetFileComment();
  EXPECT_EQ(comment.size(), 1023u);
  EXPECT_EQ(comment.substr(0, 41), std::string(40, 'a') + "\n");
}

TEST(TouchstoneReader, SettingsOfTheStoringStepApply) {
  ScratchDir dir;
  // Nearly symmetric data are symmetrised, the band comes from the data and
  // the working set grows to 2 N.
  cFitParams params;
  params.maxFrequencyPoints = 1;
  params.maxColumns = 1;
  auto fitter = NewFitter(params);
  const auto r = ReadText(
      *fitter, dir, "# MHZ S RI\n10 0.5 0 0.1 0.001 0.1 0 0.5 0\n20 0.5 0 0.2 0 0.2 0 0.5 0\n");
  ASSERT_EQ(r.result, 2);
  EXPECT_TRUE(fitter->IsSymmetric());
  EXPECT_EQ(At(*fitter, 0, 1, 0), At(*fitter, 0, 0, 1));
  EXPECT_EQ(fitter->state().settings.lowerBandFrequency, 1e7);
  EXPECT_EQ(fitter->state().settings.upperBandFrequency, 2e7);

  // The working set grows to 2 N rows and columns for a 3-port.
  auto three = NewFitter(params);
  ASSERT_EQ(three->state().work.max_cols(), 4);
  ASSERT_EQ(ReadText(*three, dir, "# HZ S RI\n1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 0\n").result,
            3);
  EXPECT_EQ(three->state().work.max_rows(), 6);
  EXPECT_EQ(three->state().work.max_cols(), 6);

  // Point reduction logs its line after the count line.
  cFitParams reduce;
  reduce.reducePoints = true;
  auto reduced = NewFitter(reduce);
  const auto r2 = ReadText(*reduced, dir, "# HZ S RI\n1 1 0\n2 1 0\n3 1 0\n4 1 0\n5 2 0\n");
  ASSERT_EQ(r2.result, 1);
  EXPECT_EQ(r2.log, ReadLog(r2.path, CountLine(5) + "Number of points were reduced to 3\n"));
}

TEST(TouchstoneReader, PortCountOfAFile) {
  ScratchDir dir;
  auto fitter = NewFitter();
  const std::string three =
      dir.Write("3.s3p", "! c\n# GHZ S RI\n1 1 0 2 0 3 0 ! x\n 4 0 5 0 6 0\n 7 0 8 0 9 0\n");
  LogCapture log;
  EXPECT_EQ(fitter->GetTouchstonePortCount(three.c_str()), 3);
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(fitter->GetErrorMessage(), nullptr);

  const std::string missing = dir.Path("none.s2p");
  EXPECT_EQ(fitter->GetTouchstonePortCount(missing.c_str()), 0);
  EXPECT_EQ(log.text(), "*** Cannot open the file " + missing + " ***\n");
  EXPECT_EQ(Message(*fitter), missing + ":\n" + FitErrorText(1001));

  // Even counts before the first odd line are ignored; counting stops at the
  // next odd line; a line with a word that is not a number counts nothing.
  const std::string layout = dir.Write("l.s2p", "1 2\nx 1 2 3\n1 2 3 4 5\n6 7 8 9\n1 2 3\n4 5\n");
  EXPECT_EQ(fitter->GetTouchstonePortCount(layout.c_str()), 2);
  log.clear();
  const std::string odd = dir.Write("o.s2p", "1 2 3 4 5\n6 7 8 9 10 11\n");
  EXPECT_EQ(fitter->GetTouchstonePortCount(odd.c_str()), 0);
  EXPECT_EQ(log.text(), "*** Unable to detect the number of ports from " + odd + " ***\n");
}

TEST(TouchstoneReader, FailedReadLeavesTheObjectUsable) {
  ScratchDir dir;
  auto fitter = NewFitter();
  EXPECT_EQ(ReadText(*fitter, dir, "# GHZ S RI\n1 0.5 0\n2 0.5 0\n3 0.5\n").result, 0);
  EXPECT_FALSE(fitter->HasSampledData());
  EXPECT_EQ(ReadText(*fitter, dir, "# GHZ S RI\n1 0.5 0 0.1 0 0.1 0 0.5 0\n").result, 2);
  EXPECT_EQ(fitter->GetErrorMessage(), nullptr);
  EXPECT_EQ(fitter->state().data->point_count(), 1);
}

}  // namespace
}  // namespace cfit
