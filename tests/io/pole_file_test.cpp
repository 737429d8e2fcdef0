// The pole file: its exact lines and log, models of real files read back as
// they evaluate, and every check of the read, which fails and leaves the
// fitter exactly as it was.
#include "io/pole_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "io_support.h"

namespace cfit {
namespace {

using namespace testing;
using Values = std::vector<std::vector<std::vector<Complex>>>;

// The log with every asctime timestamp replaced by "<time>".
std::string Stamped(const std::string& log) {
  static const std::regex stamp(
      "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] \\d\\d:\\d\\d:\\d\\d \\d{4}");
  return std::regex_replace(log, stamp, "<time>");
}

// The delay and asymptote keep 15 digits: a 10 ns delay read back is off by
// less than 1e-14 of itself, so its phase at 100 GHz stays within 1e-10 rad.
TEST(PoleFile, OnePortModelWritesItsLinesAndLogAndReadsBack) {
  const std::string path = Path("y.pls");
  auto f = NewFitter();
  MakeModel(*f, 1, kY, {50});
  AddTerm(*f, 0, 0, {1e9, -2e9}, {3, 4});
  At(f->state().model->constant, *f, 0, 0) = 0.5;
  At(f->state().model->proportional, *f, 0, 0) = 1.2345678901234567e-12;
  At(f->state().model->delay, *f, 0, 0) = 1.0123456789012345e-8;
  LogCapture log;
  ASSERT_EQ(f->WritePoles(path.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(path),
            "Y 1\nR0:  5.000000e+01\ndelay: 1.01234567890123e-08\nasymp: 1.23456789012346e-12\n2\n"
            "  1.00000000000000e+09   2.00000000000000e+09    3.00000000000000e+00   "
            "4.00000000000000e+00\n"
            "  1.00000000000000e+25   0.00000000000000e+00    5.00000000000000e-01   "
            "0.00000000000000e+00\n");
  EXPECT_EQ(Stamped(log.text()),
            "\n ******************************************\n ****** Writing poles to " + path +
                " ********\n ******************************************\n"
                " Writing poles to " +
                path + " start: <time>\n Writing poles to " + path + "   end: <time>\n");
  auto g = NewFitter();
  log.clear();
  ASSERT_EQ(g->ReadPoles(path.c_str()), 1);
  EXPECT_EQ(Stamped(log.text()), " Reading from pls file " + path +
                                     " Start: <time>\n Reading from pls file " + path +
                                     " End: <time>\n");
  const FitterState& s = g->state();
  EXPECT_EQ(s.network.dataType, kY);
  EXPECT_EQ(s.network.impedances, std::vector<double>{50});
  ASSERT_EQ(s.model->PoleCount(0, 0), 1);
  EXPECT_EQ(s.model->elementPoles[0][0].GetPole(), Complex(1e9, -2e9));
  EXPECT_EQ(s.model->elementPoles[0][0].GetResidue00(), Complex(3, 4));
  EXPECT_EQ(s.model->constant[0], 0.5);
  EXPECT_NEAR(s.model->delay[0], 1.0123456789012345e-8, 1e-22);
  EXPECT_NEAR(s.model->proportional[0], 1.2345678901234567e-12, 1e-26);
  EXPECT_TRUE(g->HasFit());
  EXPECT_LT(LargestDifference(*f, *g, 1e9, 1e11), 1e-9);
}

// Fitted models of real files: the file read back evaluates as the fitted
// model, and an individual model written again gives the same bytes.
TEST(PoleFile, FittedModelsOfRealFilesRoundTrip) {
  for (const auto& [file, individual, symmetric] :
       {std::tuple{"microstrip_line_sim_lowercase_option.s2p", true, true},
        std::tuple{"fourport_measured_75ohm.s4p", true, false},
        std::tuple{"power_splitter_2way_measured.s3p", false, true}}) {
    SCOPED_TRACE(file);
    cFitParams params;
    params.individualPoles = individual;
    auto fitted = FittedRealFile(file, params);
    const FitterState& a = fitted->state();
    ASSERT_EQ(a.network.symmetric, symmetric);
    LogCapture quiet;
    ASSERT_EQ(fitted->WritePoles(Path("first.pls").c_str()), 1);
    auto read = NewFitter();
    ASSERT_EQ(read->ReadPoles(Path("first.pls").c_str()), a.network.portCount);
    const FitterState& b = read->state();
    EXPECT_EQ(b.network.dataType, kS);
    EXPECT_EQ(b.network.impedances, a.network.impedances);
    EXPECT_TRUE(b.settings.individualPoles);
    EXPECT_EQ(b.network.symmetric, symmetric);
    EXPECT_LT(LargestDifference(*fitted, *read, a.network.data->front().frequency(),
                                a.network.data->back().frequency()),
              1e-12);
    ASSERT_EQ(read->WritePoles(Path("second.pls").c_str()), 1);
    EXPECT_TRUE(!individual ||
                ReadFileBytes(Path("second.pls")) == ReadFileBytes(Path("first.pls")));
    // Every element holds its own copy of the common poles.
    for (const PoleList& poles : b.model->elementPoles) {
      EXPECT_EQ(poles.size(), individual ? poles.size() : a.model->commonPoles.size());
    }
  }
}

// Type letters, comments, refusals, the work storage a read sizes, the port
// limit and the port-count probe.
TEST(PoleFile, HeadOfTheFileAndRefusals) {
  LogCapture log;
  // Without a fit nothing is written, not even the banner.
  auto empty = NewFitter();
  EXPECT_EQ(empty->WritePoles(Path("none.pls").c_str()), 0);
  EXPECT_EQ(Message(*empty), "Fitted data not available");
  EXPECT_EQ(log.text(), "");
  EXPECT_FALSE(std::filesystem::exists(Path("none.pls")));
  for (const std::string& file : {Path("no/such/folder.pls"), std::string()}) {
    auto f = OneTermModel(1, kS);
    EXPECT_EQ(f->WritePoles(file.empty() ? nullptr : file.c_str()), 0);
    EXPECT_EQ(Message(*f),
              (file.empty() ? "" : file + ":\n") + "Cannot open file to write fitted data");
  }
  // An ABCD model writes no letter and comes back as S, also into a fitter
  // that holds Y data.
  ASSERT_EQ(OneTermModel(2, kABCD)->WritePoles(Path("abcd.pls").c_str()), 1);
  EXPECT_EQ(ReadFileBytes(Path("abcd.pls")).substr(0, 2), "2\n");
  auto held = NewFitter();
  held->BeginData(2, kY, nullptr);
  ASSERT_EQ(held->ReadPoles(Path("abcd.pls").c_str()), 2);
  EXPECT_EQ(held->GetDataType(), kS);
  // The output comment leads the file and is the read's file comment; the
  // read sizes the work storage for a later fit.
  auto h = OneTermModel(1, kS);
  h->SetOutputComment("first line\nsecond line");
  const std::string path = Path("comment.pls");
  ASSERT_EQ(h->WritePoles(path.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(path).substr(0, 27), "!first line\n!second line\n1\n");
  cFitParams small;
  small.maxFrequencyPoints = 10, small.maxColumns = 5;
  auto read = NewFitter(small);
  ASSERT_EQ(read->ReadPoles(path.c_str()), 1);
  EXPECT_STREQ(read->GetFileComment(), "first line\nsecond line\n");
  EXPECT_EQ(read->state().workspace.work.max_rows(), 1000);
  EXPECT_EQ(read->state().workspace.work.max_cols(), 200);
  // A fitter with a fit refuses to read; a missing file names itself.
  EXPECT_EQ(read->ReadPoles(path.c_str()), 0);
  EXPECT_EQ(Message(*read), "Cannot read from pls: object already contains fit");
  for (auto call : {&cCfit::ReadPoles, &cCfit::GetPolesPortCount}) {
    auto other = NewFitter();
    EXPECT_EQ((other.get()->*call)(Path("missing.pls").c_str()), 0);
    EXPECT_EQ(Message(*other), Path("missing.pls") + ":\nCannot open file to read fitted data");
  }

  // A model over the port limit was written into a file the reader refuses:
  // it is refused when written.
  for (int n : {kMaxPoleFilePorts, kMaxPoleFilePorts + 1}) {
    auto model = OneTermModel(n, kS);
    cCfit& big = *model;
    const std::string file = Path("big" + std::to_string(n) + ".pls");
    const bool fits = n <= kMaxPoleFilePorts;
    EXPECT_EQ(big.WritePoles(file.c_str()), fits ? 1 : 0);
    EXPECT_EQ(std::filesystem::exists(file) ? big.GetPolesPortCount(file.c_str()) : 0,
              fits ? n : 0);
    EXPECT_EQ(Message(big), fits ? "" : FileMessage(file, 9));
  }
  // The port-count probe leaves the file comment alone.
  read->state().session.fileComment = "kept";
  EXPECT_EQ(read->GetPolesPortCount(Write("h.pls", "!c\n\n!d\nY 4\nR0:").c_str()), 4);
  EXPECT_STREQ(read->GetFileComment(), "kept");
}

// A valid 2-port Y file; each corruption below changes one piece of it.
const std::string kValid =
    "!comment of the file\nY 2\nR0:  5.000000e+01 7.500000e+01\ndelay: 1.0e-09\nasymp: 2.0e-12\n"
    "2\n 1.0e+09 2.0e+09  3.0e-01 4.0e-01\n 1.0e+25 0.0e+00  5.0e-01 0.0e+00\n"
    "1\n 3.0e+09 0.0e+00  1.0e-01 0.0e+00\n1\n 4.0e+09 0.0e+00  1.0e-01 0.0e+00\n0\n";

// What a read may change.
auto Take(const cCfit& f) {
  const FitterState& s = f.state();
  return std::tuple(s.network.portCount, s.network.dataType, s.network.impedances,
                    s.network.data ? s.network.data->id().value() : 0, s.model.get(),
                    s.model ? s.model->constant : std::vector<double>{}, s.network.elements.get(),
                    s.network.elements ? s.network.elements->DcFlagAt(0, 1, 0, 1) : -1,
                    s.settings.individualPoles, s.network.symmetric, s.session.fileComment,
                    s.workspace.work.max_rows(), s.workspace.work.max_cols());
}

// A fitter that holds 2-port Y data with 50 and 75 ohms, a model without
// poles (so no fit), an element option, a file comment and flags that a read
// would change.
std::unique_ptr<cCfit> HeldFitter() {
  auto f = NewFitter();
  Load(*f, 2, kY, {50, 75}, {1e8, 2e8, 3e8},
       Values(3, {{{1, 0}, {0.5, 0.1}}, {{0.5, 0.1}, {2, 0}}}));
  EXPECT_EQ(
      f->ReadPoles(Write("constants.pls", "Y 2\nR0: 50 75\n1\n 1e25 0 0.5 0\n0\n0\n0\n").c_str()),
      2);
  EXPECT_FALSE(f->HasFit());
  f->SetElementDcOption(0, 0, 1, 0.25);
  f->state().settings.individualPoles = false;
  f->state().network.symmetric = false;
  f->state().session.fileComment = "held comment";
  return f;
}

TEST(PoleFile, EveryCheckOfTheReadFailsAndLeavesTheFitterAsItWas) {
  const std::string pole = " 1.0e+09 2.0e+09  3.0e-01 4.0e-01";
  const std::string last = " 4.0e+09 0.0e+00  1.0e-01 0.0e+00\n0\n";
  enum Start { kBoth, kFreshOnly, kHeldOnly };
  const struct {
    const char* what;
    std::string from, to;
    int code;  // 0: fails without a message
    Start start;
  } corruptions[] = {
      {"type letter differs", "Y 2", "Z 2", 15, kHeldOnly},
      {"port count differs", "Y 2", "Y 3", 16, kHeldOnly},
      {"no ports", "Y 2", "Y 0", 0, kBoth},
      {"too many ports", "Y 2", "Y 1001", 0, kBoth},
      {"port count missing", "Y 2", "Y two", 0, kBoth},
      {"zero impedance", "7.500000e+01", "0", 17, kBoth},
      {"negative impedance", "7.500000e+01", "-75", 17, kBoth},
      {"impedance above 1e6", "7.500000e+01", "1.5e6", 17, kBoth},
      {"impedance not a number", "7.500000e+01", "ohm", 17, kBoth},
      {"impedance NaN", "7.500000e+01", "nan", 17, kBoth},
      {"negative delay", "delay: 1.0e-09", "delay: -1.0e-09", 18, kBoth},
      {"delay above 1e5", "delay: 1.0e-09", "delay: 2e5", 18, kBoth},
      {"delay not a number", "delay: 1.0e-09", "delay: soon", 18, kBoth},
      {"asymptote not finite", "asymp: 2.0e-12", "asymp: inf", 18, kBoth},
      {"asymptote of an S model", "Y 2", "2", 18, kBoth},
      {"asymptote of a pulse model", "Y 2", "P 2", 18, kFreshOnly},
      {"pole count above 5000", "2\n" + pole, "5001\n" + pole, 18, kBoth},
      {"negative pole count", "2\n" + pole, "-1\n" + pole, 18, kBoth},
      {"pole count not a number", "2\n" + pole, "two\n" + pole, 18, kBoth},
      {"file ends early", last, " 4.0e+09 0.0e+00  1.0e-01 0.0e+00\n", 18, kBoth},
      {"pole line cut short", last, " 4.0e+09 0.0e+00  1.0e-01\n", 18, kBoth},
      {"word in a pole line", pole, " 1.0e+09 2.0e+09  3.0e-01 four", 18, kBoth},
      {"negative pole real part", pole, " -1.0e+09 2.0e+09  3.0e-01 4.0e-01", 18, kBoth},
      {"pole above the real axis", pole, " 1.0e+09 -2.0e+09  3.0e-01 4.0e-01", 18, kBoth},
      {"infinite pole", pole, " 1.0e+09 inf  3.0e-01 4.0e-01", 18, kBoth},
      {"residue above 1e20", pole, " 1.0e+09 2.0e+09  3.0e+21 4.0e-01", 18, kBoth},
      {"residue imaginary above 1e20", pole, " 1.0e+09 2.0e+09  3.0e-01 -4.0e+21", 18, kBoth},
      {"real pole with a complex residue", " 3.0e+09 0.0e+00  1.0e-01 0.0e+00",
       " 3.0e+09 0.0e+00  1.0e-01 2.0e-01", 18, kBoth},
      {"constant line off the real axis", " 1.0e+25 0.0e+00", " 1.0e+25 1.0e+00", 18, kBoth},
      // Found by fuzzing: constant lines of one element add up, and a sum
      // beyond the residue bound was taken, written back as one line and
      // that copy then refused; the sum itself is refused now.
      {"constant lines adding beyond the residue bound",
       "2\n" + pole + "\n 1.0e+25 0.0e+00  5.0e-01",
       "3\n" + pole + "\n 1.0e+25 0.0e+00  1e20 0\n 1.0e+25 0.0e+00  1e20", 18, kBoth},
  };
  LogCapture quiet;
  // The unchanged file reads in both starting states.
  EXPECT_EQ(NewFitter()->ReadPoles(Write("valid.pls", kValid).c_str()), 2);
  auto valid = HeldFitter();
  EXPECT_EQ(valid->ReadPoles(Write("valid.pls", kValid).c_str()), 2) << Message(*valid);
  for (const auto& c : corruptions) {
    SCOPED_TRACE(c.what);
    std::string text = kValid;
    const std::size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(text.find(c.from, at + 1), std::string::npos);
    text.replace(at, c.from.size(), c.to);
    const std::string path = Write("corrupt.pls", text);
    const std::string expected = c.code == 0    ? ""
                                 : c.code == 18 ? FileMessage(path, 18)
                                                : FitErrorText(c.code);
    for (bool held : {false, true}) {
      if ((held && c.start == kFreshOnly) || (!held && c.start == kHeldOnly)) continue;
      auto f = held ? HeldFitter() : NewFitter();
      const auto before = Take(*f);
      EXPECT_EQ(f->ReadPoles(path.c_str()), 0) << held;
      EXPECT_EQ(Message(*f), expected) << held;
      EXPECT_TRUE(Take(*f) == before) << held;
    }
  }

  // Constant lines that cancel read as one constant 0, and its copy reads.
  auto within = NewFitter();
  ASSERT_EQ(
      within->ReadPoles(
          Write("cancel.pls", "1\nR0: 50\n3\n1 1 1 1\n1e25 0 1e20 0\n1e25 0 -1e20 0\n").c_str()),
      1);
  EXPECT_EQ(within->state().model->constant[0], 0.0);
  ASSERT_EQ(within->WritePoles(Path("copy.pls").c_str()), 1);
  EXPECT_EQ(NewFitter()->ReadPoles(Path("copy.pls").c_str()), 1);
}

}  // namespace
}  // namespace cfit
