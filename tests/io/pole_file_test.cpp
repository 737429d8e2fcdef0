#include "io/pole_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "model_test_support.h"
#include "support/log_capture.h"
#include "touchstone_test_support.h"

namespace cfit {
namespace {

using testing::AddTerm;
using testing::At;
using testing::FittedRealFile;
using testing::LargestDifference;
using testing::LogCapture;
using testing::MakeModel;
using testing::Message;
using testing::NewFitter;
using testing::ReadFileBytes;
using testing::ScratchDir;

std::string WithoutTimestamps(const std::string& log) {
  static const std::regex stamp("(start|end|Start|End): [^\n]*\n");
  return std::regex_replace(log, stamp, "$1: <time>\n");
}

TEST(PoleFile, OnePortYModelWritesItsLinesAndReadsBack) {
  ScratchDir dir;
  const std::string path = dir.Path("y.pls");
  auto f = NewFitter();
  MakeModel(*f, 1, kY, {50});
  AddTerm(*f, 0, 0, {1e9, -2e9}, {3, 4});
  At(f->state().model->constant, *f, 0, 0) = 0.5;
  At(f->state().model->proportional, *f, 0, 0) = 1e-12;
  LogCapture log;
  ASSERT_EQ(f->WritePoles(path.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(path),
            "Y 1\n"
            "R0:  5.000000e+01\n"
            "asymp: 1.00000000000000e-12\n"
            "2\n"
            "  1.00000000000000e+09   2.00000000000000e+09    3.00000000000000e+00   "
            "4.00000000000000e+00\n"
            "  1.00000000000000e+25   0.00000000000000e+00    5.00000000000000e-01   "
            "0.00000000000000e+00\n");
  EXPECT_EQ(WithoutTimestamps(log.text()),
            "\n ******************************************\n"
            " ****** Writing poles to " +
                path +
                " ********\n"
                " ******************************************\n"
                " Writing poles to " +
                path +
                " start: <time>\n"
                " Writing poles to " +
                path + "   end: <time>\n");

  auto g = NewFitter();
  log.clear();
  ASSERT_EQ(g->ReadPoles(path.c_str()), 1);
  EXPECT_EQ(WithoutTimestamps(log.text()), " Reading from pls file " + path +
                                               " Start: <time>\n Reading from pls file " + path +
                                               " End: <time>\n");
  const FitterState& s = g->state();
  EXPECT_EQ(s.network.dataType, kY);
  EXPECT_EQ(s.network.impedances, std::vector<double>{50});
  ASSERT_EQ(s.model->PoleCount(0, 0), 1);
  EXPECT_EQ(s.model->elementPoles[0][0].GetPole(), Complex(1e9, -2e9));
  EXPECT_EQ(s.model->elementPoles[0][0].GetResidue00(), Complex(3, 4));
  EXPECT_EQ(s.model->constant[0], 0.5);
  EXPECT_EQ(s.model->proportional[0], 1e-12);
  EXPECT_TRUE(g->HasFit());
  EXPECT_EQ(LargestDifference(*f, *g, 1e6, 1e10), 0.0);
}

// The delay and asymptote keep 15 digits: a 10 ns delay read back is off by
// less than 1e-14 of itself, so its phase at 100 GHz stays within 1e-10 rad.
TEST(PoleFile, LongDelayAndAsymptoteSurviveTheRoundTrip) {
  ScratchDir dir;
  const std::string path = dir.Path("z.pls");
  const double tau = 1.0123456789012345e-8;
  const double e = 1.2345678901234567e-12;
  auto f = NewFitter();
  MakeModel(*f, 1, kZ, {50});
  AddTerm(*f, 0, 0, {2e9, 0}, {7, 0});
  At(f->state().model->delay, *f, 0, 0) = tau;
  At(f->state().model->proportional, *f, 0, 0) = e;
  LogCapture quiet;
  ASSERT_EQ(f->WritePoles(path.c_str()), 1);
  EXPECT_NE(ReadFileBytes(path).find("delay: 1.01234567890123e-08\nasymp: 1.23456789012346e-12\n"),
            std::string::npos);
  auto g = NewFitter();
  ASSERT_EQ(g->ReadPoles(path.c_str()), 1);
  EXPECT_NEAR(g->state().model->delay[0], tau, 1e-14 * tau);
  EXPECT_NEAR(g->state().model->proportional[0], e, 1e-14 * e);
  EXPECT_LT(LargestDifference(*f, *g, 1e9, 1e11), 1e-9);
}

// Fitted models of real files: the file read back evaluates as the fitted
// model, and an individual model written again gives the same bytes.
TEST(PoleFile, FittedModelsOfRealFilesRoundTrip) {
  struct Case {
    const char* file;
    bool individual;
    bool symmetric;
  };
  for (const Case& c : {Case{"microstrip_line_sim_lowercase_option.s2p", true, true},
                        Case{"fourport_measured_75ohm.s4p", true, false},
                        Case{"power_splitter_2way_measured.s3p", false, true}}) {
    SCOPED_TRACE(c.file);
    ScratchDir dir;
    cFitParams params;
    params.individualPoles = c.individual;
    auto fitted = FittedRealFile(c.file, params);
    const Network& a = fitted->state().network;
    ASSERT_EQ(a.symmetric, c.symmetric);
    LogCapture quiet;
    const std::string first = dir.Path("first.pls");
    const std::string second = dir.Path("second.pls");
    ASSERT_EQ(fitted->WritePoles(first.c_str()), 1);

    auto read = NewFitter();
    ASSERT_EQ(read->ReadPoles(first.c_str()), a.portCount);
    const Network& b = read->state().network;
    EXPECT_EQ(b.dataType, kS);
    EXPECT_EQ(b.impedances, a.impedances);
    EXPECT_TRUE(read->state().settings.individualPoles);
    EXPECT_EQ(b.symmetric, c.symmetric);
    const double low = a.data->front().frequency();
    const double high = a.data->back().frequency();
    EXPECT_LT(LargestDifference(*fitted, *read, low, high), 1e-12);

    ASSERT_EQ(read->WritePoles(second.c_str()), 1);
    if (c.individual) {
      EXPECT_EQ(ReadFileBytes(second), ReadFileBytes(first));
    } else {
      // Every element holds its own copy of the common poles.
      for (const PoleList& poles : read->state().model->elementPoles) {
        EXPECT_EQ(poles.size(), fitted->state().model->commonPoles.size());
      }
    }
  }
}

// With the symmetric flag the upper triangle is written from the lower one,
// and the file reads back as a symmetric model.
TEST(PoleFile, SymmetricModelWritesMirroredElementsAlike) {
  ScratchDir dir;
  const std::string path = dir.Path("sym.pls");
  auto f = NewFitter();
  MakeModel(*f, 2, kS, {50, 50}, /*symmetric=*/true);
  AddTerm(*f, 0, 0, {1e9, 0}, {-0.2, 0});
  AddTerm(*f, 1, 0, {3e9, -5e9}, {0.1, -0.3});  // (0, 1) is left empty
  FittedModel& m = *f->state().model;
  At(m.constant, *f, 0, 1) = At(m.constant, *f, 1, 0) = 0.125;
  At(m.delay, *f, 0, 1) = At(m.delay, *f, 1, 0) = 2e-10;
  LogCapture quiet;
  ASSERT_EQ(f->WritePoles(path.c_str()), 1);
  const std::string text = ReadFileBytes(path);
  const std::string block =
      "delay: 2.00000000000000e-10\n"
      "2\n"
      "  3.00000000000000e+09   5.00000000000000e+09    1.00000000000000e-01  "
      "-3.00000000000000e-01\n"
      "  1.00000000000000e+25   0.00000000000000e+00    1.25000000000000e-01   "
      "0.00000000000000e+00\n";
  const std::size_t at = text.find(block);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(text.find(block, at + block.size()), at + block.size());

  auto g = NewFitter();
  ASSERT_EQ(g->ReadPoles(path.c_str()), 2);
  EXPECT_TRUE(g->state().network.symmetric);
  EXPECT_EQ(LargestDifference(*f, *g, 1e8, 1e10), 0.0);
  // One residue changed by a last digit breaks the symmetry.
  std::string changed = text;
  changed.replace(changed.rfind("1.00000000000000e-01"), 20, "1.00000000000001e-01");
  auto h = NewFitter();
  ASSERT_EQ(h->ReadPoles(dir.Write("asym.pls", changed).c_str()), 2);
  EXPECT_FALSE(h->state().network.symmetric);
}

// Common poles: when any element has a constant, every element gets a
// constant line, its own (possibly 0).
TEST(PoleFile, CommonPoleModelGivesEveryElementTheCommonTerms) {
  ScratchDir dir;
  const std::string path = dir.Path("common.pls");
  auto f = NewFitter();
  MakeModel(*f, 2, kS, {50, 50});
  FitterState& s = f->state();
  s.model->shape = PoleShape::kCommon;
  PoleTerm term(2);
  term.SetPole(4e9, -1e9);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) term.SetResidue(i, j, Complex(0.1 * (i + 1), 0.01 * (j + 1)));
  }
  s.model->commonPoles.push_back(term);
  At(s.model->constant, *f, 0, 1) = 0.25;
  LogCapture quiet;
  ASSERT_EQ(f->WritePoles(path.c_str()), 1);
  const std::string text = ReadFileBytes(path);
  EXPECT_NE(text.find("2\n  4.00000000000000e+09   1.00000000000000e+09    1.00000000000000e-01   "
                      "2.00000000000000e-02\n  1.00000000000000e+25   0.00000000000000e+00    "
                      "2.50000000000000e-01   0.00000000000000e+00\n"),
            std::string::npos);
  EXPECT_NE(text.find("1.00000000000000e-02\n  1.00000000000000e+25   0.00000000000000e+00    "
                      "0.00000000000000e+00   0.00000000000000e+00\n2\n"),
            std::string::npos);

  auto g = NewFitter();
  ASSERT_EQ(g->ReadPoles(path.c_str()), 2);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) EXPECT_EQ(g->state().model->PoleCount(i, j), 1);
  }
  EXPECT_FALSE(g->state().network.symmetric);
  EXPECT_LT(LargestDifference(*f, *g, 1e8, 1e10), 1e-15);
}

// Type letters, comments, refusals, the work storage a read sizes and the
// port-count probe.
TEST(PoleFile, HeadOfTheFileAndRefusals) {
  ScratchDir dir;
  LogCapture log;
  // Without a fit nothing is written, not even the banner.
  auto empty = NewFitter();
  EXPECT_EQ(empty->WritePoles(dir.Path("none.pls").c_str()), 0);
  EXPECT_EQ(Message(*empty), "Fitted data not available");
  EXPECT_EQ(log.text(), "");
  EXPECT_FALSE(std::filesystem::exists(dir.Path("none.pls")));

  auto model = [](int type) {
    auto f = NewFitter();
    MakeModel(*f, type == kABCD ? 2 : 1, type, std::vector<double>(type == kABCD ? 2 : 1, 50));
    AddTerm(*f, 0, 0, {1e9, 0}, {1, 0});
    return f;
  };
  const std::string missingFolder = dir.Path("no/such/folder.pls");
  auto f = model(kS);
  EXPECT_EQ(f->WritePoles(missingFolder.c_str()), 0);
  EXPECT_EQ(Message(*f), missingFolder + ":\nCannot open file to write fitted data");
  auto g = model(kS);
  EXPECT_EQ(g->WritePoles(nullptr), 0);
  EXPECT_EQ(Message(*g), "Cannot open file to write fitted data");

  // An ABCD model writes no letter and comes back as S.
  const std::string abcd = dir.Path("abcd.pls");
  ASSERT_EQ(model(kABCD)->WritePoles(abcd.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(abcd).substr(0, 2), "2\n");
  auto back = NewFitter();
  ASSERT_EQ(back->ReadPoles(abcd.c_str()), 2);
  EXPECT_EQ(back->GetDataType(), kS);

  // A file without a letter becomes S in a fitter that holds Y data; a
  // lower-case letter counts as the letter.
  auto held = NewFitter();
  const double z[1] = {50};
  held->BeginData(1, kY, z);
  ASSERT_EQ(held->ReadPoles(dir.Write("s.pls", "1\nR0: 50\n1\n 1e9 0 1 0\n").c_str()), 1);
  EXPECT_EQ(held->GetDataType(), kS);
  EXPECT_EQ(held->GetErrorMessage(), nullptr);
  auto pulse = NewFitter();
  ASSERT_EQ(pulse->ReadPoles(dir.Write("p.pls", "p 1\nR0: 50\n1\n 1e9 0 1 0\n").c_str()), 1);
  EXPECT_EQ(pulse->GetDataType(), kPulse);

  // The output comment leads the file and is the read's file comment.
  auto h = model(kS);
  h->SetOutputComment("first line\nsecond line");
  const std::string path = dir.Path("comment.pls");
  ASSERT_EQ(h->WritePoles(path.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(path).substr(0, 27), "!first line\n!second line\n1\n");
  cFitParams small;
  small.maxFrequencyPoints = 10;
  small.maxColumns = 5;
  auto read = NewFitter(small);
  ASSERT_EQ(read->ReadPoles(path.c_str()), 1);
  EXPECT_STREQ(read->GetFileComment(), "first line\nsecond line\n");
  // The read sizes the work storage for a later fit.
  EXPECT_EQ(read->state().workspace.work.max_rows(), 1000);
  EXPECT_EQ(read->state().workspace.work.max_cols(), 200);

  // A fitter with a fit refuses to read; a missing file names itself.
  EXPECT_EQ(read->ReadPoles(path.c_str()), 0);
  EXPECT_EQ(Message(*read), "Cannot read from pls: object already contains fit");
  const std::string missing = dir.Path("missing.pls");
  for (auto call : {&cCfit::ReadPoles, &cCfit::GetPolesPortCount}) {
    auto other = NewFitter();
    EXPECT_EQ((other.get()->*call)(missing.c_str()), 0);
    EXPECT_EQ(Message(*other), missing + ":\nCannot open file to read fitted data");
  }

  // The port-count probe leaves the file comment alone.
  auto probe = NewFitter();
  probe->state().session.fileComment = "kept";
  const std::pair<const char*, int> heads[] = {
      {"!c\n\n!d\nY 4\nR0:", 4}, {"12\n", 12}, {"1001\n", 0}, {"S\n", 0}};
  for (const auto& [head, n] : heads) {
    EXPECT_EQ(probe->GetPolesPortCount(dir.Write("h.pls", head).c_str()), n) << head;
  }
  EXPECT_EQ(probe->GetErrorMessage(), nullptr);
  EXPECT_STREQ(probe->GetFileComment(), "kept");
}

// ---------------------------------------------------------------------------
// Corrupted files: every check of the read fails with its error and leaves
// the fitter exactly as it was.

// A valid 2-port Y file; each corruption below changes one piece of it.
const std::string kValid =
    "!comment of the file\n"
    "Y 2\n"
    "R0:  5.000000e+01 7.500000e+01\n"
    "delay: 1.0e-09\n"
    "asymp: 2.0e-12\n"
    "2\n"
    " 1.0e+09 2.0e+09  3.0e-01 4.0e-01\n"
    " 1.0e+25 0.0e+00  5.0e-01 0.0e+00\n"
    "1\n"
    " 3.0e+09 0.0e+00  1.0e-01 0.0e+00\n"
    "1\n"
    " 4.0e+09 0.0e+00  1.0e-01 0.0e+00\n"
    "0\n";

// What a read may change.
struct Snapshot {
  int portCount;
  int dataType;
  std::optional<std::vector<double>> impedances;
  const void* data;
  const void* model;
  std::vector<double> constants;
  const void* elements;
  int dcFlag01;
  bool individualPoles;
  bool symmetric;
  std::optional<std::string> fileComment;
  int rows;
  int cols;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const cCfit& f) {
  const FitterState& s = f.state();
  return {s.network.portCount,
          s.network.dataType,
          s.network.impedances,
          s.network.data.get(),
          s.model.get(),
          s.model ? s.model->constant : std::vector<double>{},
          s.network.elements.get(),
          s.network.elements ? s.network.elements->DcFlagAt(0, 1, 0, 1) : -1,
          s.settings.individualPoles,
          s.network.symmetric,
          s.session.fileComment,
          s.workspace.work.max_rows(),
          s.workspace.work.max_cols()};
}

// A fitter that holds 2-port Y data with 50 and 75 ohms, a model without
// poles (so no fit), an element option, a file comment and flags that a read
// would change.
std::unique_ptr<cCfit> HeldFitter(const ScratchDir& dir) {
  auto f = NewFitter();
  const double z[2] = {50, 75};
  f->BeginData(2, kY, z);
  for (double freq : {1e8, 2e8, 3e8}) {
    double row0[4] = {1, 0, 0.5, 0.1};
    double row1[4] = {0.5, 0.1, 2, 0};
    double* rows[2] = {row0, row1};
    DataPointRecord point{freq, rows};
    EXPECT_TRUE(f->AddDataPoint(&point));
  }
  f->EndData();
  EXPECT_EQ(f->ReadPoles(
                dir.Write("constants.pls", "Y 2\nR0: 50 75\n1\n 1e25 0 0.5 0\n0\n0\n0\n").c_str()),
            2);
  EXPECT_FALSE(f->HasFit());
  f->SetElementDcOption(0, 0, 1, 0.25);
  FitterState& s = f->state();
  s.settings.individualPoles = false;
  s.network.symmetric = false;
  s.session.fileComment = "held comment";
  return f;
}

struct Corruption {
  const char* what;
  std::string from;
  std::string to;
  int code;  // 0: fails without a message
  enum { kBoth, kFreshOnly, kHeldOnly } start = kBoth;
};

TEST(PoleFile, EveryCheckOfTheReadFailsAndLeavesTheFitterAsItWas) {
  const std::string poleLine = " 1.0e+09 2.0e+09  3.0e-01 4.0e-01";
  const std::string lastElement = " 4.0e+09 0.0e+00  1.0e-01 0.0e+00\n0\n";
  const std::vector<Corruption> corruptions = {
      {"type letter differs", "Y 2", "Z 2", 15, Corruption::kHeldOnly},
      {"port count differs", "Y 2", "Y 3", 16, Corruption::kHeldOnly},
      {"no ports", "Y 2", "Y 0", 0},
      {"too many ports", "Y 2", "Y 1001", 0},
      {"port count missing", "Y 2", "Y two", 0},
      {"zero impedance", "7.500000e+01", "0", 17},
      {"negative impedance", "7.500000e+01", "-75", 17},
      {"impedance above 1e6", "7.500000e+01", "1.5e6", 17},
      {"impedance not a number", "7.500000e+01", "ohm", 17},
      {"impedance NaN", "7.500000e+01", "nan", 17},
      {"negative delay", "delay: 1.0e-09", "delay: -1.0e-09", 18},
      {"delay above 1e5", "delay: 1.0e-09", "delay: 2e5", 18},
      {"delay not a number", "delay: 1.0e-09", "delay: soon", 18},
      {"asymptote not finite", "asymp: 2.0e-12", "asymp: inf", 18},
      {"asymptote of an S model", "Y 2", "2", 18},
      {"asymptote of a pulse model", "Y 2", "P 2", 18, Corruption::kFreshOnly},
      {"pole count above 5000", "2\n" + poleLine, "5001\n" + poleLine, 18},
      {"negative pole count", "2\n" + poleLine, "-1\n" + poleLine, 18},
      {"pole count not a number", "2\n" + poleLine, "two\n" + poleLine, 18},
      {"file ends early", lastElement, " 4.0e+09 0.0e+00  1.0e-01 0.0e+00\n", 18},
      {"pole line cut short", lastElement, " 4.0e+09 0.0e+00  1.0e-01\n", 18},
      {"word in a pole line", poleLine, " 1.0e+09 2.0e+09  3.0e-01 four", 18},
      {"negative pole real part", poleLine, " -1.0e+09 2.0e+09  3.0e-01 4.0e-01", 18},
      {"pole above the real axis", poleLine, " 1.0e+09 -2.0e+09  3.0e-01 4.0e-01", 18},
      {"infinite pole", poleLine, " 1.0e+09 inf  3.0e-01 4.0e-01", 18},
      {"residue above 1e20", poleLine, " 1.0e+09 2.0e+09  3.0e+21 4.0e-01", 18},
      {"residue imaginary above 1e20", poleLine, " 1.0e+09 2.0e+09  3.0e-01 -4.0e+21", 18},
      {"real pole with a complex residue", " 3.0e+09 0.0e+00  1.0e-01 0.0e+00",
       " 3.0e+09 0.0e+00  1.0e-01 2.0e-01", 18},
      {"constant line off the real axis", " 1.0e+25 0.0e+00", " 1.0e+25 1.0e+00", 18},
  };
  ScratchDir dir;
  LogCapture quiet;
  {
    // The unchanged file reads in both starting states.
    auto fresh = NewFitter();
    EXPECT_EQ(fresh->ReadPoles(dir.Write("valid.pls", kValid).c_str()), 2);
    auto held = HeldFitter(dir);
    EXPECT_EQ(held->ReadPoles(dir.Write("valid.pls", kValid).c_str()), 2) << Message(*held);
  }
  for (const Corruption& c : corruptions) {
    SCOPED_TRACE(c.what);
    std::string text = kValid;
    const std::size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(text.find(c.from, at + 1), std::string::npos);
    text.replace(at, c.from.size(), c.to);
    const std::string path = dir.Write("corrupt.pls", text);
    std::string expected;
    if (c.code != 0) expected = FitErrorText(c.code);
    if (c.code == 18) expected = path + ":\n" + expected;
    for (bool held : {false, true}) {
      if ((held && c.start == Corruption::kFreshOnly) ||
          (!held && c.start == Corruption::kHeldOnly)) {
        continue;
      }
      SCOPED_TRACE(held ? "held" : "fresh");
      auto f = held ? HeldFitter(dir) : NewFitter();
      const Snapshot before = Take(*f);
      EXPECT_EQ(f->ReadPoles(path.c_str()), 0);
      EXPECT_EQ(Message(*f), expected);
      EXPECT_TRUE(Take(*f) == before);
    }
  }
}

}  // namespace
}  // namespace cfit
