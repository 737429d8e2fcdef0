// Model files: the pole file (its exact lines and log, models of real files
// read back as they evaluate, every check of the read) and the subcircuit
// netlist (its exact lines, its refusals, and the netlists of fitted
// real-file models that ngspice_crosscheck.py simulates); every writer's
// faults on files it cannot write.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "io/pole_file.h"
#include "io/subcircuit_writer.h"
#include "io_support.h"

namespace cfit {
namespace {

using namespace testing;
using Values = std::vector<std::vector<std::vector<Complex>>>;

// ---------------------------------------------------------------------------
// The pole file: its exact lines and log, models of real files read back as
// they evaluate, and every check of the read, which fails and leaves the
// fitter exactly as it was.

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
  EXPECT_TRUE(g->HasFit() && g->GetDataType() == kY &&
              s.network.impedances == std::vector<double>{50});
  EXPECT_NEAR(s.model->delay[0], 1.0123456789012345e-8, 1e-22);
  EXPECT_NEAR(s.model->proportional[0], 1.2345678901234567e-12, 1e-26);
  EXPECT_LT(LargestDifference(*f, *g, 1e9, 1e11), 1e-9);
}

// Fitted models of real files: the file read back evaluates as the fitted
// model, and an individual model written again gives the same bytes.
TEST(PoleFile, FittedModelsOfRealFilesRoundTrip) {
  for (const auto& [file, individual, symmetric] :
       {std::tuple{"microstrip_line_sim_lowercase_option.s2p", true, true},
        std::tuple{"fourport_measured_75ohm.s4p", true, false},
        std::tuple{"power_splitter_2way_measured.s3p", false, true},
        std::tuple{"fourport_measured_75ohm.s4p", false, false}}) {
    SCOPED_TRACE(file);
    cFitParams params;
    params.individualPoles = individual;
    auto fitted = FittedRealFile(file, params);
    const FitterState& a = fitted->state();
    LogCapture quiet;
    ASSERT_EQ(fitted->WritePoles(Path("first.pls").c_str()), 1);
    auto read = NewFitter();
    ASSERT_EQ(read->ReadPoles(Path("first.pls").c_str()), a.network.portCount);
    const FitterState& b = read->state();
    EXPECT_TRUE(read->GetDataType() == kS && b.network.impedances == a.network.impedances &&
                b.settings.individualPoles && read->IsSymmetric() == symmetric);
    EXPECT_LT(LargestDifference(*fitted, *read, 1e6, a.network.data->back().frequency()), 1e-12);
    ASSERT_EQ(read->WritePoles(Path("second.pls").c_str()), 1);
    EXPECT_TRUE(!individual ||
                ReadFileBytes(Path("second.pls")) == ReadFileBytes(Path("first.pls")));
    // Every element holds its own copy of the common poles.
    for (const PoleList& poles : b.model->elementPoles)
      EXPECT_TRUE(individual || poles.size() == a.model->commonPoles.size());
  }
}

// Type letters, comments, the work storage a read sizes, a missing file, the
// port limit and the port-count probe (the refusals in the wrong states are
// in the api tests).
TEST(PoleFile, HeadOfTheFileAndPortLimit) {
  LogCapture log;
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
  EXPECT_EQ(
      std::pair(read->state().workspace.work.max_rows(), read->state().workspace.work.max_cols()),
      std::pair(1000, 200));
  // A missing file names itself.
  for (auto call : {&cCfit::ReadPoles, &cCfit::GetPolesPortCount}) {
    auto other = NewFitter();
    EXPECT_EQ((other.get()->*call)(Path("missing.pls").c_str()), 0);
    EXPECT_EQ(Message(*other), Path("missing.pls") + ":\nCannot open file to read fitted data");
  }

  // A model over the port limit was written into a file the reader refuses:
  // it is refused when written.
  for (int n : {kMaxPoleFilePorts, kMaxPoleFilePorts + 1}) {
    auto big = OneTermModel(n, kS);
    const std::string file = Path("big" + std::to_string(n) + ".pls");
    const bool fits = n <= kMaxPoleFilePorts;
    EXPECT_EQ(big->WritePoles(file.c_str()), fits ? 1 : 0);
    EXPECT_EQ(fits ? big->GetPolesPortCount(file.c_str()) : std::filesystem::exists(file),
              fits * n);
    EXPECT_EQ(Message(*big), fits ? "" : FileMessage(file, 9));
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
  const struct {
    std::string from, to;
    int code;    // 0: fails without a message
    int starts;  // 1: a fresh fitter, 2: the held fitter, 3: both
  } corruptions[] = {
      // The type letter or the port count differs from the held data; no,
      // too many or no number of ports; impedances <= 0, above 1e6, no
      // number, NaN; delays < 0 or above 1e5; an asymptote not finite, or of
      // an S or pulse model; pole counts above 5000 or no number; the file
      // ending early; pole lines with a word, a negative real part, above the
      // real axis, infinite, a residue above 1e20, a real pole with a complex
      // residue, a constant off the real axis.
      {"Y 2", "Z 2", 15, 2},
      {"Y 2", "Y 3", 16, 2},
      {"Y 2", "Y 0", 0, 3},
      {"Y 2", "Y 1001", 0, 3},
      {"Y 2", "Y two", 0, 3},
      {"7.500000e+01", "-75", 17, 3},
      {"7.500000e+01", "1.5e6", 17, 3},
      {"7.500000e+01", "ohm", 17, 3},
      {"7.500000e+01", "nan", 17, 3},
      {"delay: 1.0e-09", "delay: -1.0e-09", 18, 3},
      {"delay: 1.0e-09", "delay: 2e5", 18, 3},
      {"asymp: 2.0e-12", "asymp: inf", 18, 3},
      {"Y 2", "2", 18, 3},
      {"Y 2", "P 2", 18, 1},
      {"2\n" + pole, "5001\n" + pole, 18, 3},
      {"2\n" + pole, "two\n" + pole, 18, 3},
      {last, " 4.0e+09 0.0e+00  1.0e-01 0.0e+00\n", 18, 3},
      {pole, " 1.0e+09 2.0e+09  3.0e-01 four", 18, 3},
      {pole, " -1.0e+09 2.0e+09  3.0e-01 4.0e-01", 18, 3},
      {pole, " 1.0e+09 -2.0e+09  3.0e-01 4.0e-01", 18, 3},
      {pole, " 1.0e+09 inf  3.0e-01 4.0e-01", 18, 3},
      {pole, " 1.0e+09 2.0e+09  3.0e+21 4.0e-01", 18, 3},
      {" 3.0e+09 0.0e+00  1.0e-01 0.0e+00", " 3.0e+09 0.0e+00  1.0e-01 2.0e-01", 18, 3},
      {" 1.0e+25 0.0e+00", " 1.0e+25 1.0e+00", 18, 3},
      // Found by fuzzing: constant lines of one element add up, and a sum
      // beyond the residue bound was taken, written back as one line and
      // that copy then refused; the sum itself is refused now.
      {"2\n" + pole + "\n 1.0e+25 0.0e+00  5.0e-01",
       "3\n" + pole + "\n 1.0e+25 0.0e+00  1e20 0\n 1.0e+25 0.0e+00  1e20", 18, 3},
  };
  LogCapture quiet;
  // The unchanged file reads in both starting states.
  EXPECT_EQ(NewFitter()->ReadPoles(Write("valid.pls", kValid).c_str()), 2);
  auto valid = HeldFitter();
  EXPECT_EQ(valid->ReadPoles(Write("valid.pls", kValid).c_str()), 2) << Message(*valid);
  for (const auto& c : corruptions) {
    SCOPED_TRACE(c.to);
    std::string text = kValid;
    const std::size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(text.find(c.from, at + 1), std::string::npos);
    text.replace(at, c.from.size(), c.to);
    const std::string path = Write("corrupt.pls", text);
    const std::string expected = c.code == 0    ? ""
                                 : c.code == 18 ? FileMessage(path, 18)
                                                : FitErrorText(c.code);
    for (int held : {0, 1}) {
      if ((c.starts & (1 << held)) == 0) continue;
      auto f = held ? HeldFitter() : NewFitter();
      const auto before = Take(*f);
      EXPECT_EQ(f->ReadPoles(path.c_str()), 0) << held;
      EXPECT_EQ(Message(*f), expected) << held;
      EXPECT_TRUE(Take(*f) == before) << held;
    }
  }

  // Constant lines that cancel read as one constant 0, and its copy reads.
  auto within = NewFitter();
  const std::string cancel = "1\nR0: 50\n3\n1 1 1 1\n1e25 0 1e20 0\n1e25 0 -1e20 0\n";
  ASSERT_EQ(within->ReadPoles(Write("cancel.pls", cancel).c_str()), 1);
  EXPECT_EQ(within->state().model->constant[0], 0.0);
  ASSERT_EQ(within->WritePoles(Path("copy.pls").c_str()), 1);
  EXPECT_EQ(NewFitter()->ReadPoles(Path("copy.pls").c_str()), 1);
}

// ---------------------------------------------------------------------------
// The subcircuit netlist: its exact lines for the forms fitted models of the
// real files seldom reach, its refusals, and the netlists of fitted real-file
// models that ngspice_crosscheck.py simulates. Also every writer's faults on
// files it cannot write.

const double kTwoPi = 2.0 * std::numbers::pi;

TEST(Subcircuit, OnePortNetlistAndLog) {
  auto f = OneTermModel(1, kS, {1e9, 0}, {-0.5, 0});
  const std::string path = Path("one.sp");
  LogCapture log;
  ASSERT_EQ(f->WriteSubcircuit(path.c_str()), 1);
  EXPECT_EQ(Stamped(ReadFileBytes(path)),
            "*** This subcircuit was generated by Korvalis simulation tool <time> ***\n"
            "*** Number of ports: 1   ***\n.subckt one x_1 ref\nV0_1  x_1  y_1  0\n"
            "RZ_1  y_1  ref  5.000000000000000e+01\nFIX_1  ref  xv_1  V0_1  1\n"
            "GVX_1  ref  xv_1  x_1  ref  2.000000000000000e-02\nRV_1  xv_1  ref  1\n"
            "GS_1_1_1  ref  y_1  LAPLACE  xv_1  ref -3.141592653589793e+09 / "
            "6.283185307179586e+09  1\n.ends\n");
  EXPECT_EQ(Stamped(log.text()),
            "\n ******************************************\n ****** Writing subckt to " + path +
                " ******\n ******************************************\n Writing subckt to " + path +
                " start: <time>\n Writing subckt to " + path + "   end: <time>\n");
}

// Zero terms write nothing but keep their number, a pair with m != 0 and one
// with m = 0 take their two forms, and the constant is a plain controlled
// source numbered last.
TEST(Subcircuit, PoleTermForms) {
  auto f = NewFitter();
  MakeModel(*f, 2, kS, {50, 50});
  AddTerm(*f, 1, 0, {2e9, 0}, {0, 0});
  AddTerm(*f, 1, 0, {1e9, -3e9}, {0.2, 0.1});
  AddTerm(*f, 1, 0, {1e9, -1e9}, {1, -1});  // m = rr a + ri b = 0
  AddTerm(*f, 1, 0, {5e9, -2e9}, {0, 0});
  At(f->state().model->constant, *f, 1, 0) = 0.3;
  LogCapture quiet;
  ASSERT_EQ(f->WriteSubcircuit(Path("terms.sp").c_str()), 1);
  std::vector<std::string> terms;
  for (const std::string& line : Lines(ReadFileBytes(Path("terms.sp")))) {
    if (line.rfind("GS_", 0) == 0) terms.push_back(line);
  }
  const double a = kTwoPi * 1e9, b = kTwoPi * 3e9, d = a * a + b * b;
  EXPECT_EQ(terms, (std::vector<std::string>{
                       "GS_2_1_2  ref  y_2  LAPLACE  xv_1  ref " + Num(d * 0.2) + " " +
                           Num(0.2 * a + 0.1 * b) + " / " + Num(d) + " " + Num(2 * a) + "  1",
                       "GS_2_1_3  ref  y_2  LAPLACE  xv_1  ref " + Num(2 * a * a) + " / " +
                           Num(2 * a * a) + " " + Num(2 * a) + "  1",
                       "GS_2_1_5  ref  y_2  xv_1  ref " + Num(0.3)}));
}

TEST(Subcircuit, RefusalsAndNames) {
  LogCapture log;
  // Without a fit: the banner, then error 12 and no file (the other
  // refusals are in the api tests).
  const std::string path = Path("none.sp");
  EXPECT_EQ(NewFitter()->WriteSubcircuit(path.c_str()), 0);
  EXPECT_EQ(log.text(),
            "\n ******************************************\n ****** Writing subckt to " + path +
                " ******\n ******************************************\n");
  EXPECT_FALSE(std::filesystem::exists(path));
  // A pole on the imaginary axis, or one above the real axis, stops the
  // netlist there: the lines before it stay and ".ends" is missing.
  for (Complex bad : {Complex(0, -1e9), Complex(1e9, 1e9)}) {
    auto g = OneTermModel(2, kS);
    AddTerm(*g, 0, 1, bad, {0.5, 0.1});
    EXPECT_EQ(g->WriteSubcircuit(Path("broken.sp").c_str()), 0);
    EXPECT_EQ(Message(*g), "Cannot generate subcircuit: fitted data corrupted");
    EXPECT_EQ(Lines(ReadFileBytes(Path("broken.sp"))).back().substr(0, 9), "GS_1_1_1 ");
  }
  // Names made of file names are valid netlist names.
  const std::pair<const char*, const char*> names[] = {
      {"models/line.rev2.sp", "line"}, {"C:\\nets\\Pkg_7.cir", "Pkg_7"},
      {"my board.cir", "my_board"},    {"a-b+c(d).cir", "a_b_c_d_"},
      {"3port.cir", "x3port"},         {"dir/.cir", "x"}};
  for (const auto& [file, name] : names) EXPECT_EQ(NetlistName(file), name) << file;
}

// Files a full device never took: every writer fails with its message.
TEST(WriteFaults, EveryWriterFailsWhenTheDeviceIsFull) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  auto fitter = FittedRealFile("ring_slot_sim.s2p");
  const std::string full = "/dev/full";
  const std::pair<std::function<int(const char*)>, std::string> cases[] = {
      {[&](const char* p) { return fitter->WriteTouchstone(p, 1); }, FitErrorText(6)},
      {[&](const char* p) { return fitter->WriteDataTable(p, -1, -1, true, false, 0); },
       FitErrorText(6)},
      {[&](const char* p) { return fitter->WritePoles(p); },
       full + ":\nCannot open file to write fitted data"},
      {[&](const char* p) { return fitter->WriteSubcircuit(p); },
       full + ":\nCannot open file to write equivalent circuit"}};
  for (const auto& [write, message] : cases) {
    fitter->state().session.error.Clear();
    LogCapture quiet;
    EXPECT_EQ(write(full.c_str()), 0);
    EXPECT_EQ(Message(*fitter), message);
  }
}

// ---------------------------------------------------------------------------
// Each case fits a real file (or data made from one: the values delayed by a
// pure delay, or the ports given other reference impedances) and writes its
// netlist. With CFIT_NGSPICE_DUMP set to a folder the test leaves there, per
// case, the netlist <case>.sp and the model's own evaluation <case>.eval on
// a linear grid across the data band:
//
//   ports N
//   z0 Z0_1 ... Z0_N
//   points K
//   f Re H11 Im H11 Re H12 Im H12 ... (K lines, elements row by row)

const ChangedFile kCases[] = {
    {"ring1", "ring_slot_measured.s1p", true, 0.0, {}},
    {"ring1_delay", "ring_slot_measured.s1p", true, 5e-10, {}},
    {"filter2", "bandpass_filter_lumped_sim.s2p", true, 0.0, {}},
    {"microstrip2", "microstrip_line_sim_lowercase_option.s2p", true, 0.0, {}},
    {"microstrip2_delay_z", "microstrip_line_sim_lowercase_option.s2p", true, 1e-9, {50, 75}},
    {"measured4_75", "fourport_measured_75ohm.s4p", true, 0.0, {}},
    {"coupled4_delay_z", "coupled_lines_diff_2xthru.s4p", true, 2e-9, {40, 50, 75, 100}},
    {"coupled4_common_z", "coupled_lines_diff_2xthru.s4p", false, 0.0, {25, 50, 50, 90}},
};

void WriteEvaluation(const FitterState& s, const std::string& path) {
  const int n = s.network.portCount, kPoints = 201;
  const double low = s.network.data->front().frequency(), high = s.network.data->back().frequency();
  std::ofstream out(path);
  out.precision(17);
  out << "ports " << n << "\nz0";
  for (double z : *s.network.impedances) out << " " << z;
  out << "\npoints " << kPoints;
  for (int k = 0; k < kPoints; ++k) {
    const double f = low + (high - low) * k / (kPoints - 1);
    out << "\n" << f;
    for (int e = 0; e < n * n; ++e) {
      const Complex h = EvaluateElement(s, e / n, e % n, f);
      out << " " << h.re << " " << h.im;
    }
  }
}

TEST(SimulatorNetlists, FittedRealFilesGiveCompleteNetlists) {
  const char* dump = std::getenv("CFIT_NGSPICE_DUMP");
  for (const ChangedFile& c : kCases) {
    SCOPED_TRACE(c.name);
    auto fitter = FitChangedFile(c);
    const FitterState& s = fitter->state();
    ASSERT_TRUE(fitter->HasFit());
    double longest = 0.0;
    for (double tau : s.model->delay) longest = std::max(longest, tau);
    EXPECT_TRUE(c.addedDelay > 0.0 ? longest > 0.5 * c.addedDelay : longest == 0.0) << longest;
    const std::string stem = dump != nullptr ? std::string(dump) + "/" + c.name : Path(c.name);
    LogCapture quiet;
    ASSERT_EQ(fitter->WriteSubcircuit((stem + ".sp").c_str()), 1) << Message(*fitter);
    const std::string text = ReadFileBytes(stem + ".sp");
    EXPECT_EQ(text.substr(text.size() - 6), ".ends\n");
    EXPECT_EQ(text.find("DELAY") != std::string::npos, longest > 0.0);
    if (dump != nullptr) WriteEvaluation(s, stem + ".eval");
  }
}

}  // namespace
}  // namespace cfit
