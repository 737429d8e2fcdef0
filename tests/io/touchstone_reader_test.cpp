// The Touchstone reader through the host operation: layouts, option lines,
// impedances, the failures of each pass with their exact log lines, and the
// storing step's settings.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "touchstone_test_support.h"

namespace cfit {
namespace {

using testing::LogCapture;
using testing::Message;
using testing::NewFitter;
using testing::ScratchDir;
using testing::WithoutTimestamps;

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

struct Read {
  int result;
  std::string log;  // between the banner line and the end line when both are there
  std::string path;
};

// Reads `text` from a scratch file, symmetrising off unless `params` say.
Read ReadText(cCfit& fitter, const ScratchDir& dir, const std::string& text,
              const std::string& name = "t.snp") {
  const std::string path = dir.Write(name, text);
  LogCapture log;
  const int result = fitter.ReadTouchstone(path.c_str());
  std::string middle = WithoutTimestamps(log.text());
  const std::string head =
      "<start>\n\n ====== Reading data from touchstone file: " + path + " ======\n\n";
  if (middle.rfind(head, 0) == 0 && middle.size() >= head.size() + 5 &&
      middle.substr(middle.size() - 5) == "<end>") {
    middle = middle.substr(head.size(), middle.size() - head.size() - 5);
  }
  return {result, middle, path};
}

cFitParams Unsymmetrised() {
  cFitParams params;
  params.symmetryTolerance = 0.0;
  return params;
}

Complex At(cCfit& fitter, int point, int i, int j) {
  return fitter.state().network.data->points()[static_cast<std::size_t>(point)].At(i, j);
}

struct Probe {
  Probe(int k, int row, int column, Complex v, double tol = 0)
      : point(k), i(row), j(column), value(v), tolerance(tol) {}
  int point, i, j;
  Complex value;
  double tolerance;
};

struct ReadCase {
  ReadCase(const char* w, std::string t, int n, int e, std::string l, int type,
           std::vector<Probe> p, double last)
      : why(w),
        text(std::move(t)),
        result(n),
        error(e),
        log(std::move(l)),
        dataType(type),
        probes(std::move(p)),
        lastFrequency(last) {}
  const char* why;
  std::string text;
  int result;  // port count, or 0
  int error;   // recorded code of a failure
  std::string log;
  int dataType;  // after the read, also a failed one
  std::vector<Probe> probes;
  double lastFrequency;  // of the last stored point, when not 0
};

const std::string k3Port = "1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 0\n";

const ReadCase kReads[] = {
    ReadCase(
        "2-port points on one line read in two-port order",
        "# HZ S RI R 50\n1 11 -11 21 -21 12 -12 22 -22\n2 11 -11 21 -21 12 -12 22 -22\n", 2, 0,
        CountLine(2), kS,
        {{0, 0, 0, {11, -11}}, {0, 1, 0, {21, -21}}, {0, 0, 1, {12, -12}}, {1, 1, 1, {22, -22}}},
        0),
    ReadCase("2-port points over two lines read in row order",
             "# HZ S RI R 50\n1 11 -11 21 -21\n 12 -12 22 -22\n2 11 -11 21 -21\n 12 -12 22 -22\n",
             2, 0, CountLine(2), kS,
             {{0, 0, 1, {21, -21}}, {0, 1, 0, {12, -12}}, {1, 1, 1, {22, -22}}}, 0),
    ReadCase("one split point sends the whole file to row order",
             "# HZ S RI R 50\n1 11 -11 21 -21 12 -12 22 -22\n2 11 -11 21 -21\n 12 -12 22 -22\n", 2,
             0, CountLine(2), kS, {{0, 0, 1, {21, -21}}}, 0),
    ReadCase("3-port with 7 and 6 numbers per line",
             "# GHZ S RI\n1 11 0.1 12 0.2 13 0.3\n 21 1.1 22 1.2 23 1.3\n31 2.1 32 2.2 33 2.3\n", 3,
             0, CountLine(1), kS, {{0, 2, 1, {32, 2.2}}, {0, 1, 2, {23, 1.3}}}, 1e9),
    ReadCase("1-port Y in DB with its impedance", "# MHZ Y DB R 75\n100 -6.0206 90\n", 1, 0,
             CountLine(1), kY, {{0, 0, 0, {0, 0.5}, 1e-5}}, 1e8),
    ReadCase("MA with angles in degrees, kHz", "# KHZ S MA\n2 2 180\n3 0.5 -90\n", 1, 0,
             CountLine(2), kS, {{0, 0, 0, {-2, 0}, 1e-14}, {1, 0, 0, {0, -0.5}, 1e-14}}, 3e3),
    ReadCase("DB -400 is exactly 0", "# G S DB\n1 -400 30\n2 0 0\n", 1, 0, CountLine(2), kS,
             {{0, 0, 0, {0, 0}}, {1, 0, 0, {1, 0}}}, 2e9),
    ReadCase("storing stops at the first frequency not above its predecessor",
             "# GHZ S RI\n1 1 0\n2 2 0\n2 3 0\n3 4 0\n", 1, 0, CountLine(2), kS,
             {{1, 0, 0, {2, 0}}}, 2e9),
    ReadCase("comments after the numbers of data lines are dropped",
             "! header\n# GHz S RI R 50\n1 0.5 10 0.1 20 0.2 30 0.3 40 ! 1 2 3\n"
             "2 0.5 10 0.1 20 0.2 30 0.3 40!glued\n3 0.5 10 0.1 20 0.2 30 0.3 40 !\n",
             2, 0, CountLine(3), kS, {{2, 1, 1, {0.3, 40}}}, 0),
    ReadCase("a frequency alone on a line cuts its point", "# HZ S RI\n10 0.5 0\n20\n30 0.5\n", 1,
             0, CountLine(2), kS, {{1, 0, 0, {0, 0}}}, 30),
    ReadCase("a bad data line is logged and skipped",
             "# GHZ S RI\n1 0.5 0 0.1 0 0.1 0 0.5 0\n2 x 0 0.1 0 0.1 0 0.5 0\n"
             "3 0.25 0 0.1 0 0.1 0 0.5 0\n",
             2, 0, kBadLine + CountLine(2), kS, {{1, 0, 0, {0.25, 0}}}, 3e9),
    ReadCase("later option lines are skipped silently",
             "# MHZ S RI\n1 0.5 0\n# GHZ Q XX\n2 0.5 0\n   # junk\n3 1 0\n", 1, 0, CountLine(3), kS,
             {}, 3e6),
    ReadCase("data before any option line end the read", "! c\n1 0.5 0\n# GHZ S RI\n2 0.5 0\n", 0,
             1003, kNoOption + kProblem, kNoData, {}, 0),
    ReadCase("a point overrunning a line end", "# GHZ S RI\n1 0.5 0\n2 0.5 0\n3 0.5\n0 4 0.5 0\n",
             0, 1001, kIncorrectFormat + kProblem, kS, {}, 0),
    ReadCase("a truncated last point", "# GHZ S RI\n1 0.5 0 0.1 0 0.1 0 0.5 0\n2 0.5 0 0.1 0", 0,
             1001, kIncorrectFormat + kProblem, kS, {}, 0),
};

TEST(TouchstoneReader, LayoutsValuesAndFailures) {
  ScratchDir dir;
  for (const ReadCase& c : kReads) {
    SCOPED_TRACE(c.why);
    auto fitter = NewFitter(Unsymmetrised());
    const Read r = ReadText(*fitter, dir, c.text);
    ASSERT_EQ(r.result, c.result) << Message(*fitter) << r.log;
    EXPECT_EQ(r.log, c.log);
    EXPECT_EQ(fitter->GetDataType(), c.dataType);
    // A failed read keeps the port count its detection found.
    EXPECT_EQ(fitter->GetPortCount(), NewFitter()->GetTouchstonePortCount(r.path.c_str()));
    if (c.result == 0) {
      EXPECT_EQ(Message(*fitter), r.path + ":\n" + FitErrorText(c.error));
      EXPECT_FALSE(fitter->HasSampledData());
      EXPECT_EQ(fitter->state().network.elements, nullptr);
      // The fitter reads the next file as a fresh one would.
      EXPECT_EQ(ReadText(*fitter, dir, "# GHZ S RI\n1 0.5 0\n").result, 1);
      continue;
    }
    EXPECT_NE(fitter->state().network.elements, nullptr);
    for (const Probe& p : c.probes) {
      EXPECT_NEAR(At(*fitter, p.point, p.i, p.j).re, p.value.re, p.tolerance) << p.point;
      EXPECT_NEAR(At(*fitter, p.point, p.i, p.j).im, p.value.im, p.tolerance) << p.point;
    }
    if (c.lastFrequency != 0) {
      EXPECT_EQ(fitter->state().network.data->back().frequency(), c.lastFrequency);
    }
  }
}

// Texts that must read to the same points: line ends, and the value pass
// that a form feed (white space between numbers, but part of a word when
// points are counted) forces instead of taking the values while counting.
TEST(TouchstoneReader, EquivalentTextsReadTheSame) {
  const std::string lf =
      "! c\n# GHz S RI R 50\n1 11 -11 21 -21\n 12 -12 22 -22\n\n2 1 2 3 4\n 5 6 7 8\n";
  std::string crlf, cr;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (char c : lf) cr += c == '\n' ? '\r' : c;
  const std::string db =
      "# GHZ S DB\n1 -1 0 -2 0 -3 0 -4 0\n -5 0\n -6 0 -7 0 -8 0 -9 0\n -10 0\n"
      " -11 0 -12 0 -13 0 -14 0\n -15 0\n -16 0 -17 0 -18 0 -19 0\n -20 0\n"
      " -21 0 -22 0 -23 0 -24 0\n -25 5\n";
  const std::pair<std::string, std::string> pairs[] = {
      {lf, crlf},
      {lf, cr},
      {"# GHZ S RI\n1 11 -11 21 -21 12 -12 22 -22\n2 1 2 3 4 5 6 7 8\n",
       "# GHZ S RI\n1 11 -11 21 -21 12 -12 22 -22\n2 1 2 3 4 5 6 7 8\f\n"},
      {"# GHZ S MA\n1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 90\n",
       "# GHZ S MA\n1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 90\f\n"},
      {db, db.substr(0, db.size() - 1) + "\f\n"},
  };
  ScratchDir dir;
  for (const auto& [a, b] : pairs) {
    SCOPED_TRACE(b);
    auto first = NewFitter(Unsymmetrised());
    auto second = NewFitter(Unsymmetrised());
    const int n = ReadText(*first, dir, a, "a.snp").result;
    ASSERT_GT(n, 0);
    ASSERT_EQ(ReadText(*second, dir, b, "b.snp").result, n) << Message(*second);
    const auto& pa = first->state().network.data->points();
    const auto& pb = second->state().network.data->points();
    ASSERT_EQ(pa.size(), pb.size());
    for (std::size_t k = 0; k < pa.size(); ++k) {
      EXPECT_EQ(pa[k].frequency(), pb[k].frequency());
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) EXPECT_EQ(pa[k].At(i, j), pb[k].At(i, j));
      }
    }
  }
}

struct OptionCase {
  const char* line;
  int error;  // 0 when the read succeeds
  double scale;
  int dataType;
};

TEST(TouchstoneReader, OptionLineWordsPrefixesAndDefaults) {
  const OptionCase cases[] = {
      {"# GHZ S RI R 50", 0, 1e9, 1},
      {"# ghz s ri r 50", 0, 1e9, 1},
      {"#\tHz\tS\tRI\tR\t50", 0, 1, 1},
      {"# G", 0, 1e9, 1},
      {"# M Y", 0, 1e6, 2},
      {"# K Z", 0, 1e3, 3},
      {"# H P", 0, 1, 5},
      {"# ", 0, 1, 1},
      {"   # MHZ S RI", 0, 1e6, 1},
      {"# GHZ S RI R 50 junk", 0, 1e9, 1},
      {"# GHZ S RI R 50ohm", 0, 1e9, 1},
      {"# GHZX S RI", 1003, 0, 0},
      {"# THZ S RI", 1003, 0, 0},
      {"# GHZ H MA R 1", 1003, 0, 0},
      {"# GHZ SS RI", 1003, 0, 0},
      {"# GHZ S XY", 1001, 0, 1},
      {"# GHZ S R 50", 1001, 0, 1},  // R is taken as the format RI
      {"# GHZ S RI R", 1001, 0, 1},
      {"# GHZ S RI R (50+50j)", 1001, 0, 1},
      {"# GHZ S RI X 50", 1001, 0, 1},
  };
  ScratchDir dir;
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.line);
    auto fitter = NewFitter();
    const Read r = ReadText(*fitter, dir, std::string(c.line) + "\n1 0.5 0.25\n");
    EXPECT_EQ(r.result, c.error == 0 ? 1 : 0);
    EXPECT_EQ(fitter->GetDataType(), c.dataType);
    if (c.error == 0) {
      EXPECT_EQ(fitter->state().network.data->front().frequency(), c.scale);
      EXPECT_EQ(r.log, CountLine(1));
    } else {
      EXPECT_EQ(Message(*fitter), r.path + ":\n" + FitErrorText(c.error));
      EXPECT_EQ(r.log, kBadUnits + kProblem);
    }
  }
}

TEST(TouchstoneReader, ReferenceImpedancesPerPort) {
  const std::pair<const char*, std::vector<double>> cases[] = {
      {"# HZ S RI R1 10 R2 20 R3 30", {10, 20, 30}},
      {"# HZ S RI R1 10 R2 20", {10, 20, 10}},  // later ports take the first
      {"# HZ S RI r1 10 r2 20 r3 30 r4 40", {10, 20, 30}},
      {"# HZ S MA", {50, 50, 50}},
      {"# HZ S RI R 75 R2 20", {75, 75, 75}},
      {"# HZ S RI R1 10 R3 30", {}},  // names must count up from R1
      {"# HZ S RI R1 10 R2", {}},
      {"# HZ S RI R1 10 R2 x", {}},
  };
  ScratchDir dir;
  for (const auto& [option, expected] : cases) {
    SCOPED_TRACE(option);
    auto fitter = NewFitter();
    const Read r = ReadText(*fitter, dir, std::string(option) + "\n" + k3Port);
    ASSERT_EQ(r.result, expected.empty() ? 0 : 3);
    if (!expected.empty()) {
      EXPECT_EQ(*fitter->state().network.impedances, expected);
    } else {
      EXPECT_EQ(Message(*fitter), r.path + ":\n" + FitErrorText(1001));
      EXPECT_FALSE(fitter->state().network.impedances.has_value());
    }
  }

  // Ten thousand impedances: the first N are used and the option record is
  // not overrun; beyond the room of N + 11 values pairs are not looked at.
  std::string many = "# GHZ S RI";
  for (int k = 1; k <= 10000; ++k) many += " R" + std::to_string(k) + " " + std::to_string(k % 10);
  const std::string point = "\n1 0.5 0 0.1 0 0.1 0 0.5 0\n";
  auto fitter = NewFitter();
  ASSERT_EQ(ReadText(*fitter, dir, many + point).result, 2) << Message(*fitter);
  EXPECT_EQ(*fitter->state().network.impedances, (std::vector<double>{1, 2}));
  std::string junk = "# GHZ S RI";
  for (int k = 1; k <= 13; ++k) junk += " R" + std::to_string(k) + " " + std::to_string(k);
  EXPECT_EQ(ReadText(*NewFitter(), dir, junk + " junk" + point).result, 2);

  // A line beyond the port-count scan's line limit ends the scan.
  std::string longer = "# GHZ S RI";
  for (int k = 1; k <= 10000; ++k) longer += " R" + std::to_string(k) + " 50.000";
  auto undetected = NewFitter();
  const Read r = ReadText(*undetected, dir, longer + point);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.log, "*** Unable to detect the number of ports from " + r.path + " ***\n");
}

TEST(TouchstoneReader, MissingUndetectableAndRefusedReads) {
  ScratchDir dir;
  auto fitter = NewFitter();
  // An earlier message of another operation is cleared when reading starts.
  EXPECT_EQ(fitter->WriteTouchstone(dir.Path("x.s1p").c_str(), 0), 0);
  const std::string missing = dir.Path("a.s2p");
  LogCapture log;
  EXPECT_EQ(fitter->ReadTouchstone(missing.c_str()), 0);
  EXPECT_EQ(Message(*fitter), missing + ":\nCannot open the touchstone file");
  EXPECT_EQ(log.text(), "");

  for (const char* text : {"", "! only a comment\n# GHZ S RI\n", "# GHZ S RI\n1 2 3 4 5\n6 7\n",
                           "# GHZ S RI\n1 2 3 4 5 6\n"}) {
    SCOPED_TRACE(text);
    auto other = NewFitter();
    const Read r = ReadText(*other, dir, text);
    EXPECT_EQ(r.log, "*** Unable to detect the number of ports from " + r.path + " ***\n");
    EXPECT_EQ(Message(*other), r.path + ":\n" + FitErrorText(1001));
    EXPECT_EQ(other->GetPortCount(), 0);
  }

  // With data held: code 2, nothing logged; with a fit: code 3.
  const std::string good = dir.Write("g.s1p", "# GHZ S RI\n1 0.5 0\n");
  ASSERT_EQ(ReadText(*fitter, dir, "# GHZ S RI\n1 0.5 0\n").result, 1);
  log.clear();
  EXPECT_EQ(fitter->ReadTouchstone(good.c_str()), 0);
  EXPECT_EQ(Message(*fitter), FitErrorText(2));
  EXPECT_EQ(log.text(), "");
  auto fitted = NewFitter();
  FitterState& s = fitted->state();
  s.network.portCount = 1;
  s.network.dataType = kS;
  s.ResetElementTable();
  s.model = std::make_unique<FittedModel>();
  s.model->n = 1;
  s.model->constant = {0.0};
  s.model->delay = {0.0};
  s.model->elementPoles.assign(1, PoleList(1));
  EXPECT_EQ(fitted->ReadTouchstone(good.c_str()), 0);
  EXPECT_EQ(Message(*fitted), FitErrorText(3));
}

TEST(TouchstoneReader, HeaderCommentAndStoringSettings) {
  ScratchDir dir;
  const std::pair<std::string, std::string> comments[] = {
      {"!first\n\n! second line\n!\n  ! not header\n", "first\n second line\n\n"},
      {"", ""},
  };
  for (const auto& [head, comment] : comments) {
    auto fitter = NewFitter();
    ASSERT_EQ(ReadText(*fitter, dir, head + "# GHZ S RI\n!late\n1 1 0\n").result, 1);
    EXPECT_EQ(std::string(fitter->GetFileComment()), comment);
  }
  std::string text;
  for (int k = 0; k < 40; ++k) text += "!" + std::string(40, 'a' + k % 26) + "\n";
  auto longer = NewFitter();
  ASSERT_EQ(ReadText(*longer, dir, text + "# GHZ S RI\n1 1 0\n").result, 1);
  EXPECT_EQ(std::string(longer->GetFileComment()).size(), 1023u);

  // Nearly symmetric data are symmetrised, the band comes from the data and
  // the working set grows to 2 N.
  cFitParams params;
  params.maxFrequencyPoints = 1;
  params.maxColumns = 1;
  auto fitter = NewFitter(params);
  ASSERT_EQ(ReadText(*fitter, dir,
                     "# MHZ S RI\n10 0.5 0 0.1 0.001 0.1 0 0.5 0\n20 0.5 0 0.2 0 0.2 0 0.5 0\n")
                .result,
            2);
  EXPECT_TRUE(fitter->IsSymmetric());
  EXPECT_EQ(At(*fitter, 0, 1, 0), At(*fitter, 0, 0, 1));
  EXPECT_EQ(fitter->state().settings.lowerBandFrequency, 1e7);
  EXPECT_EQ(fitter->state().settings.upperBandFrequency, 2e7);
  auto three = NewFitter(params);
  ASSERT_EQ(ReadText(*three, dir, "# HZ S RI\n" + k3Port).result, 3);
  EXPECT_EQ(three->state().workspace.work.max_rows(), 6);
  EXPECT_EQ(three->state().workspace.work.max_cols(), 6);

  // Point reduction logs its line after the count line.
  cFitParams reduce;
  reduce.reducePoints = true;
  auto reduced = NewFitter(reduce);
  const Read r = ReadText(*reduced, dir, "# HZ S RI\n1 1 0\n2 1 0\n3 1 0\n4 1 0\n5 2 0\n");
  EXPECT_EQ(r.log, CountLine(5) + "Number of points were reduced to 3\n");
}

TEST(TouchstoneReader, PortCountOfAFile) {
  ScratchDir dir;
  auto fitter = NewFitter();
  LogCapture log;
  const std::pair<std::string, int> files[] = {
      {"! c\n# GHZ S RI\n1 1 0 2 0 3 0 ! x\n 4 0 5 0 6 0\n 7 0 8 0 9 0\n", 3},
      // Even counts before the first odd line are ignored; counting stops
      // at the next odd line; a line with a word that is no number counts 0.
      {"1 2\nx 1 2 3\n1 2 3 4 5\n6 7 8 9\n1 2 3\n4 5\n", 2},
      {"1 2 3 4 5\n6 7 8 9 10 11\n", 0},
  };
  for (const auto& [text, n] : files) {
    log.clear();
    const std::string path = dir.Write("p.snp", text);
    EXPECT_EQ(fitter->GetTouchstonePortCount(path.c_str()), n);
    EXPECT_EQ(log.text(),
              n != 0 ? "" : "*** Unable to detect the number of ports from " + path + " ***\n");
  }
  log.clear();
  const std::string missing = dir.Path("none.s2p");
  NewFitter().swap(fitter);
  EXPECT_EQ(fitter->GetTouchstonePortCount(missing.c_str()), 0);
  EXPECT_EQ(log.text(), "*** Cannot open the file " + missing + " ***\n");
  EXPECT_EQ(Message(*fitter), missing + ":\n" + FitErrorText(1001));
}

}  // namespace
}  // namespace cfit
