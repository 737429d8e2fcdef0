// The Touchstone reader through the host operation: the rules the real files
// (and the scikit-rf cross-check of them) do not reach, each failure with its
// exact log lines, every real file, and malformed input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "api/file_operations.h"
#include "io/touchstone_reader.h"
#include "io_support.h"

namespace cfit {
namespace {

using namespace testing;

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
std::string Undetected(const std::string& path) {
  return "*** Unable to detect the number of ports from " + path + " ***\n";
}

struct Read {
  int result;
  std::string log;  // between the banner and the end line when both are there
  std::string path;
};

// Reads `text` from a scratch file; the start, banner and end lines are
// checked and cut off the log.
Read ReadText(cCfit& fitter, const std::string& text, const std::string& name = "t.snp") {
  const std::string path = Write(name, text);
  LogCapture log;
  const int result = fitter.ReadTouchstone(path.c_str());
  const std::string stamp = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] \\d\\d:\\d\\d:\\d\\d \\d{4}\n";
  std::smatch parts;
  const std::string file = std::regex_replace(path, std::regex("[.]"), "[.]");
  const std::regex framed(" Reading from touchstone file " + file + " start: " + stamp +
                          "\n\n ====== Reading data from touchstone file: " + file +
                          " ======\n\n([\\s\\S]*) Reading from touchstone file " + file +
                          "   end: " + stamp);
  const std::string text_ = log.text();
  if (std::regex_match(text_, parts, framed)) return {result, parts[1], path};
  return {result, text_, path};
}

Complex At(cCfit& fitter, int point, int i, int j) {
  return fitter.state().data->points()[static_cast<std::size_t>(point)].At(i, j);
}

struct Probe {
  int point, i, j;
  Complex value;
};

struct ReadCase {
  const char* why;
  std::string text;
  int result;  // port count, or 0
  int error;   // recorded code of a failure
  std::string log;
  int dataType;  // after the read, also a failed one
  std::vector<Probe> probes;
  double lastFrequency;  // of the last stored point, when not 0
};

const ReadCase kReads[] = {
    {"one split point sends the whole 2-port file to row order",
     "# HZ S RI R 50\n1 11 -11 21 -21 12 -12 22 -22\n2 11 -11 21 -21\n 12 -12 22 -22\n",
     2,
     0,
     CountLine(2),
     kS,
     {{0, 0, 1, {21, -21}}, {1, 1, 0, {12, -12}}},
     2},
    {"DB -400 is exactly 0",
     "# G S DB\n1 -400 30\n2 0 0\n",
     1,
     0,
     CountLine(2),
     kS,
     {{0, 0, 0, {0, 0}}, {1, 0, 0, {1, 0}}},
     2e9},
    {"storing stops at the first frequency not above its predecessor",
     "# GHZ S RI\n1 1 0\n2 2 0\n2 3 0\n3 4 0\n",
     1,
     0,
     CountLine(2),
     kS,
     {{1, 0, 0, {2, 0}}},
     2e9},
    {"a frequency alone on a line cuts its point",
     "# HZ S RI\n10 0.5 0\n20\n30 0.5\n",
     1,
     0,
     CountLine(2),
     kS,
     {{1, 0, 0, {0, 0}}},
     30},
    {"a bad data line is logged and skipped; the frequency of the last stays with zero values",
     "# GHZ S RI\n1 0.5 0\n2 x 0\n3 0.25 0\n4 a b\n5 c d\n",
     1,
     0,
     kBadLine + kBadLine + kBadLine + CountLine(3),
     kS,
     {{1, 0, 0, {0.25, 0}}, {2, 0, 0, {0, 0}}},
     5e9},
    {"infinite and not-a-number words convert like %le",
     "# GHZ S RI\n1 inf nan\n2 -INF 1e999\n",
     1,
     0,
     CountLine(2),
     kS,
     {},
     2e9},
    {"later option lines are skipped silently",
     "# MHZ S RI\n1 0.5 0\n# GHZ Q XX\n2 0.5 0\n   # junk\n3 1 0\n",
     1,
     0,
     CountLine(3),
     kS,
     {},
     3e6},
    {"data before any option line end the read",
     "! c\n1 0.5 0\n# GHZ S RI\n2 0.5 0\n",
     0,
     1003,
     kNoOption + kProblem,
     kNoData,
     {},
     0},
    {"a point overrunning a line end",
     "# GHZ S RI\n1 0.5 0\n2 0.5 0\n3 0.5\n0 4 0.5 0\n",
     0,
     1001,
     kIncorrectFormat + kProblem,
     kS,
     {},
     0},
};

TEST(TouchstoneReader, LayoutsValuesAndFailures) {
  for (const ReadCase& c : kReads) {
    SCOPED_TRACE(c.why);
    auto fitter = NewFitter(Unsymmetrised());
    const Read r = ReadText(*fitter, c.text);
    ASSERT_EQ(r.result, c.result) << Message(*fitter) << r.log;
    EXPECT_EQ(r.log, c.log);
    EXPECT_EQ(fitter->GetDataType(), c.dataType);
    // A failed read keeps the port count its detection found.
    EXPECT_EQ(fitter->GetPortCount(), NewFitter()->GetTouchstonePortCount(r.path.c_str()));
    if (c.result == 0) {
      EXPECT_EQ(Message(*fitter), FileMessage(r.path, c.error));
      EXPECT_FALSE(fitter->HasSampledData());
      EXPECT_EQ(fitter->state().elements, nullptr);
      EXPECT_EQ(fitter->GetFileComment(), nullptr);  // the failed file's comment is not taken
      // The fitter reads the next file as a fresh one would.
      EXPECT_EQ(ReadText(*fitter, "# GHZ S RI\n1 0.5 0\n").result, 1);
      continue;
    }
    EXPECT_NE(fitter->state().elements, nullptr);
    for (const Probe& p : c.probes) EXPECT_EQ(At(*fitter, p.point, p.i, p.j), p.value) << p.point;
    EXPECT_EQ(fitter->state().data->back().frequency(), c.lastFrequency);
  }
}

// Texts that must read to the same points: line ends, and the value pass
// that a form feed (white space between numbers, but part of a word when
// points are counted) forces instead of taking the values while counting.
TEST(TouchstoneReader, EquivalentTextsReadTheSame) {
  const std::string lf =
      "! c\n# GHz S RI R 50\n1 11 -11 21 -21\n 12 -12 22 -22\n\n2 1 2 3 4\n 5 6 7 8\n";
  std::string cr = lf;
  std::replace(cr.begin(), cr.end(), '\n', '\r');
  const std::string two = "# GHZ S RI\n1 11 -11 21 -21 12 -12 22 -22\n2 1 2 3 4 5 6 7 8";
  const std::string three = "# GHZ S MA\n1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 90";
  const std::pair<std::string, std::string> pairs[] = {
      {lf, cr}, {two + "\n", two + "\f\n"}, {three + "\n", three + "\f\n"}};
  for (const auto& [a, b] : pairs) {
    SCOPED_TRACE(b);
    auto first = NewFitter(Unsymmetrised());
    auto second = NewFitter(Unsymmetrised());
    const int n = ReadText(*first, a, "a.snp").result;
    ASSERT_GT(n, 0);
    ASSERT_EQ(ReadText(*second, b, "b.snp").result, n) << Message(*second);
    const auto& pa = first->state().data->points();
    const auto& pb = second->state().data->points();
    ASSERT_EQ(pa.size(), pb.size());
    for (std::size_t k = 0; k < pa.size(); ++k) {
      EXPECT_EQ(pa[k].frequency(), pb[k].frequency());
      for (int e = 0; e < n * n; ++e) EXPECT_EQ(pa[k].At(e / n, e % n), pb[k].At(e / n, e % n));
    }
  }
}

TEST(TouchstoneReader, OptionLineWordsPrefixesAndDefaults) {
  const struct {
    const char* line;
    int error;  // 0 when the read succeeds
    double scale;
    int dataType;
  } cases[] = {
      {"# G", 0, 1e9, kS},
      {"# M Y", 0, 1e6, kY},
      {"# K Z", 0, 1e3, kZ},
      {"# H P", 0, 1, kPulse},
      {"# ", 0, 1, kS},
      {"   # MHZ S RI", 0, 1e6, kS},
      {"# GHZ S RI R 50 junk", 0, 1e9, kS},
      {"# GHZ S RI R 50ohm", 0, 1e9, kS},
      {"# GHZX S RI", 1003, 0, kNoData},
      {"# THZ S RI", 1003, 0, kNoData},
      {"# GHZ H MA R 1", 1003, 0, kNoData},
      {"# GHZ SS RI", 1003, 0, kNoData},
      {"# GHZ S XY", 1001, 0, kS},
      {"# GHZ S R 50", 1001, 0, kS},  // R is taken as the format RI
      {"# GHZ S RI R", 1001, 0, kS},
      {"# GHZ S RI X 50", 1001, 0, kS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    auto fitter = NewFitter();
    const Read r = ReadText(*fitter, std::string(c.line) + "\n1 0.5 0.25\n");
    EXPECT_EQ(r.result, c.error == 0 ? 1 : 0);
    EXPECT_EQ(fitter->GetDataType(), c.dataType);
    if (c.error == 0) {
      EXPECT_EQ(fitter->state().data->front().frequency(), c.scale);
      EXPECT_EQ(r.log, CountLine(1));
    } else {
      EXPECT_EQ(Message(*fitter), FileMessage(r.path, c.error));
      EXPECT_EQ(r.log, kBadUnits + kProblem);
    }
  }
}

TEST(TouchstoneReader, ReferenceImpedancesPerPort) {
  const std::pair<const char*, std::vector<double>> cases[] = {
      {"# HZ S RI R1 10 R2 20", {10, 20, 10}},  // later ports take the first
      {"# HZ S RI r1 10 r2 20 r3 30 r4 40", {10, 20, 30}},
      {"# HZ S MA", {50, 50, 50}},
      {"# HZ S RI R 75 R2 20", {75, 75, 75}},
      {"# HZ S RI R1 10 R3 30", {}},  // names must count up from R1
      {"# HZ S RI R1 10 R2", {}},
      {"# HZ S RI R1 10 R2 x", {}},
  };
  for (const auto& [option, expected] : cases) {
    SCOPED_TRACE(option);
    auto fitter = NewFitter();
    const Read r =
        ReadText(*fitter, option + std::string("\n1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 0\n"));
    ASSERT_EQ(r.result, expected.empty() ? 0 : 3);
    EXPECT_EQ(fitter->state().impedances.value_or(std::vector<double>{}), expected);
    EXPECT_EQ(Message(*fitter), expected.empty() ? FileMessage(r.path, 1001) : "");
  }

  // Ten thousand impedances: the first N are used and the option record is
  // not overrun; beyond the room of N + 11 values pairs are not looked at;
  // a line beyond the port-count scan's line limit ends the scan.
  std::string many = "# GHZ S RI", junk = many, longer = many;
  for (int k = 1; k <= 10000; ++k) many += " R" + std::to_string(k) + " " + std::to_string(k % 10);
  for (int k = 1; k <= 13; ++k) junk += " R" + std::to_string(k) + " " + std::to_string(k);
  for (int k = 1; k <= 10000; ++k) longer += " R" + std::to_string(k) + " 50.000";
  const std::string point = "\n1 0.5 0 0.1 0 0.1 0 0.5 0\n";
  auto fitter = NewFitter();
  ASSERT_EQ(ReadText(*fitter, many + point).result, 2) << Message(*fitter);
  EXPECT_EQ(*fitter->state().impedances, (std::vector<double>{1, 2}));
  EXPECT_EQ(ReadText(*NewFitter(), junk + " junk" + point).result, 2);
  const Read r = ReadText(*NewFitter(), longer + point);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.log, Undetected(r.path));
}

TEST(TouchstoneReader, MissingUndetectableAndRefusedReads) {
  auto fitter = NewFitter();
  // An earlier message of another operation is cleared when reading starts.
  EXPECT_EQ(fitter->WriteTouchstone(Path("x.s1p").c_str(), 0), 0);
  const std::string missing = Path("missing.s2p");
  LogCapture log;
  EXPECT_EQ(fitter->ReadTouchstone(missing.c_str()), 0);
  EXPECT_EQ(Message(*fitter), missing + ":\nCannot open the touchstone file");
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(fitter->GetTouchstonePortCount(missing.c_str()), 0);
  EXPECT_EQ(log.text(), "*** Cannot open the file " + missing + " ***\n");

  for (const char* text : {"", "! only a comment\n# GHZ S RI\n", "# GHZ S RI\n1 2 3 4 5\n6 7\n"}) {
    auto other = NewFitter();
    const Read r = ReadText(*other, text);
    EXPECT_EQ(r.log, Undetected(r.path));
    EXPECT_EQ(Message(*other), FileMessage(r.path, 1001));
    EXPECT_EQ(other->GetPortCount(), 0);
  }

  // With data held: code 2, nothing logged; with a fit: code 3.
  const std::string good = Write("g.s1p", "# GHZ S RI\n1 0.5 0\n");
  ASSERT_EQ(ReadText(*fitter, "# GHZ S RI\n1 0.5 0\n").result, 1);
  log.clear();
  EXPECT_EQ(fitter->ReadTouchstone(good.c_str()), 0);
  EXPECT_EQ(Message(*fitter), FitErrorText(2));
  EXPECT_EQ(log.text(), "");
  auto fitted = NewFitter();
  MakeModel(*fitted, 1, kS, {50});
  AddTerm(*fitted, 0, 0, {1e9, 0}, {1, 0});
  EXPECT_EQ(fitted->ReadTouchstone(good.c_str()), 0);
  EXPECT_EQ(Message(*fitted), FitErrorText(3));
}

TEST(TouchstoneReader, HeaderCommentPortCountAndStoringSettings) {
  std::string longHead, longComment;  // the comment keeps at most 1023 characters
  for (int k = 0; k < 40; ++k) longComment += std::string(40, 'a' + k % 26) + "\n";
  for (int k = 0; k < 40; ++k) longHead += "!" + longComment.substr(41 * k, 41);
  for (const auto& [head, comment] :
       {std::pair<std::string, std::string>{"!first\n\n! second line\n!\n  ! not header\n",
                                            "first\n second line\n\n"},
        {longHead, longComment.substr(0, 1023)}}) {
    auto fitter = NewFitter();
    ASSERT_EQ(ReadText(*fitter, head + "# GHZ S RI\n!late\n1 1 0\n").result, 1);
    EXPECT_EQ(std::string(fitter->GetFileComment()), comment);
  }
  // Even counts before the first odd line are ignored; counting stops at the
  // next odd line; a line with a word that is no number counts 0.
  for (const auto& [text, n] :
       {std::pair<std::string, int>{"! c\n1 1 0 2 0 3 0 ! x\n 4 0 5 0 6 0\n 7 0 8 0 9 0\n", 3},
        {"1 2\nx 1 2 3\n1 2 3 4 5\n6 7 8 9\n1 2 3\n4 5\n", 2},
        {"1 2 3 4 5\n6 7 8 9 10 11\n", 0}}) {
    EXPECT_EQ(NewFitter()->GetTouchstonePortCount(Write("p.snp", text).c_str()), n) << text;
  }

  // Nearly symmetric data are symmetrised, the band comes from the data and
  // the working set grows to 2 N; point reduction logs its line.
  cFitParams params;
  params.maxFrequencyPoints = 1, params.maxColumns = 1, params.reducePoints = true;
  auto fitter = NewFitter(params);
  const Read r = ReadText(*fitter,
                          "# MHZ S RI\n10 0.5 0 0.1 0.001 0.1 0 0.5 0\n"
                          "20 0.5 0 0.2 0 0.2 0 0.5 0\n30 0.5 0 0.2 0 0.2 0 0.5 0\n"
                          "40 0.5 0 0.2 0 0.2 0 0.5 0\n");
  ASSERT_EQ(r.result, 2);
  EXPECT_EQ(r.log, CountLine(4) + "Number of points were reduced to 3\n");
  EXPECT_TRUE(fitter->IsSymmetric());
  EXPECT_EQ(At(*fitter, 0, 1, 0), At(*fitter, 0, 0, 1));
  EXPECT_EQ(fitter->state().settings.lowerBandFrequency, 1e7);
  EXPECT_EQ(fitter->state().settings.upperBandFrequency, 4e7);
  EXPECT_EQ(fitter->state().work.max_rows(), 4);
  EXPECT_EQ(fitter->state().work.max_cols(), 4);
}

// ---------------------------------------------------------------------------
// Every real file of the shared folder: whether it reads or how it fails,
// and why. With CFIT_SKRF_DUMP set to a folder the values of every file that
// reads are written there for the scikit-rf cross-check (skrf_crosscheck.py).

struct RealCase {
  const char* name;
  int ports;               // held after the read (detected even when it fails)
  int result;              // ReadTouchstone's result
  int points;              // stored points when it reads
  int dataType;            // after the read
  double impedance;        // of port 1 when it reads
  int error;               // recorded code when it fails
  const char* diagnostic;  // log line that explains a failure
  const char* why;
};

constexpr const char* kDetect = "*** Unable to detect the number of ports from ";
constexpr const char* kUnits = " Line with bad definition of units \n";
constexpr const char* kFormat = "*** Error: incorrect format of touchstone file ***\n";
constexpr const char* kNoOptionLine = "\n No option line found ! : default units used \n";

const RealCase kFiles[] = {
    {"active_tx_190ghz_measured.s2p", 2, 2, 801, 1, 50, 0, "", "MA in Hz"},
    {"aperture_waveguide_port_sim.s1p", 1, 1, 401, 1, 50, 0, "", "comment lines after points"},
    {"bandpass_filter_lumped_sim.s2p", 2, 2, 1000, 1, 50, 0, "", "long header, MA"},
    {"coax_line_sim_crlf.s2p", 2, 2, 101, 1, 50, 0, "", "CR LF line ends"},
    {"coupled_lines_diff_2xthru.s4p", 4, 4, 1000, 1, 50, 0, "", "4-port RI, row order"},
    {"cpw_sim_port_impedance_crlf.s2p", 2, 2, 101, 1, 50, 0, "", "CR LF, blank lines"},
    {"edge_utf8_bom.s2p", 2, 0, 0, 0, 0, 1003, kNoOptionLine,
     "the byte-order mark makes the first line a data line before the option line"},
    {"fourport_inline_comments_spec_example.s4p", 4, 4, 3, 1, 50, 0, "",
     "comments after the numbers of data lines are dropped"},
    {"fourport_measured_75ohm.s4p", 4, 4, 205, 1, 75, 0, "", "tabs, dB, 75 ohms"},
    {"hparam_spec_example_khz.s2p", 2, 0, 0, 0, 0, 1003, kUnits, "H parameters are refused"},
    {"ideal_tee_sim.s3p", 3, 3, 201, 1, 50, 0, "", "3-port RI"},
    {"lowpass_filter_measured.s2p", 2, 2, 2006, 1, 50, 0, "", "DB in MHz"},
    {"microstrip_line_sim_lowercase_option.s2p", 2, 2, 100, 1, 50, 0, "", "lower-case option"},
    {"multiport_sim_12.s12p", 12, 12, 5, 1, 50, 0, "", "rows wrap 4+4+4"},
    {"multiport_sim_21_single_point.s21p", 21, 21, 1, 1, 50, 0, "", "one point"},
    {"multiport_sim_22.s22p", 22, 22, 5, 1, 50, 0, "", "rows wrap 5x4+2"},
    {"multiport_sim_32.s32p", 32, 32, 3, 1, 50, 0, "", "32 ports, starts at 0 Hz"},
    {"multiport_sim_6.s6p", 6, 6, 5, 1, 50, 0, "", "rows wrap 4+2"},
    {"package_8port_sim.s8p", 8, 8, 300, 1, 50, 0, "", "tabs in the option line"},
    {"power_splitter_2way_measured.s3p", 3, 3, 169, 1, 50, 0, "", "trailing tabs"},
    {"reject_complex_reference.s2p", 2, 0, 0, 1, 0, 1001, kUnits, "R (50+50j) is no number"},
    {"reject_double_option_line.s2p", 2, 0, 0, 1, 0, 1001, kUnits, "first line has a complex R"},
    {"reject_no_data.s3p", 0, 0, 0, 0, 0, 1001, kDetect, "no numbers: no port count"},
    {"reject_option_r_without_value.s1p", 1, 0, 0, 1, 0, 1001, kUnits, "R without a value"},
    {"resonator_36mm_measured.s2p", 2, 2, 401, 1, 50, 0, "", "RI in Hz"},
    {"ring_slot_measured.s1p", 1, 1, 101, 1, 50, 0, "", "tab separated"},
    {"ring_slot_sim.s2p", 2, 2, 201, 1, 50, 0, "", "2-port RI"},
    {"short_delay_dc_start_crlf.s1p", 1, 1, 5, 1, 50, 0, "", "0 Hz first point, CR LF"},
    {"threeport_sim_db_port_impedance.s3p", 3, 3, 451, 1, 50, 0, "", "DB, no R"},
    {"transformer_4port_sim.s4p", 4, 4, 10036, 1, 50, 0, "", "largest file, DB"},
    {"transistor_with_noise_data.s2p", 2, 0, 0, 1, 0, 1001, kFormat,
     "the noise block's 5-number lines do not make whole points"},
    {"twoport_mixed_eol.s2p", 2, 2, 91, 1, 50, 0, "", "CR LF then LF"},
    {"v2_sixport_in_s6p_extension.s6p", 6, 0, 0, 0, 0, 1003, kNoOptionLine, "version 2 keyword"},
    {"v2_sixport_per_port_reference.ts", 6, 0, 0, 0, 0, 1003, kNoOptionLine, "version 2 keyword"},
    {"zparam_spec_example.s1p", 1, 1, 5, 3, 75, 0, "", "Z data stay Z, 75 ohms"},
};

// Files only the engine reader (version 2 allowed) reads: port count,
// points, impedance of port 1.
const struct {
  const char* name;
  int ports, points;
  double impedance;
} kEngineOnly[] = {
    {"edge_utf8_bom.s2p", 2, 1, 50},
    {"v2_sixport_in_s6p_extension.s6p", 6, 1001, 15.063},
    {"v2_sixport_per_port_reference.ts", 6, 17, 50},
};

// Full-precision values of a read, one point per line, for the cross-check.
void Dump(const FitterState& state, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr) << path;
  std::fprintf(out, "ports %d\ntype %d\nz0", state.portCount, state.dataType);
  for (double z : *state.impedances) std::fprintf(out, " %.17g", z);
  for (const PortMatrix& point : state.data->points()) {
    std::fprintf(out, "\n%.17g", point.frequency());
    for (int e = 0; e < point.order() * point.order(); ++e) {
      const Complex v = point.At(e / point.order(), e % point.order());
      std::fprintf(out, " %.17g %.17g", v.re, v.im);
    }
  }
  std::fclose(out);
}

// Every file through the host operation as the table says, and through the
// engine reader (the cfit program's) to the same values, except the files
// only the engine reader reads. The values dumped are the host's, or the
// engine's for those files.
TEST(TouchstoneRealFiles, EachFileReadsOrFailsAsExpected) {
  if (std::getenv("CFIT_TEST_DATA") == nullptr) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  const char* dumpFolder = std::getenv("CFIT_SKRF_DUMP");
  std::set<std::string> listed;
  for (const RealCase& file : kFiles) {
    SCOPED_TRACE(std::string(file.name) + ": " + file.why);
    listed.insert(file.name);
    const std::string path = RealFile(file.name);
    const std::string dump = dumpFolder ? std::string(dumpFolder) + "/" + file.name + ".dump" : "";
    auto fitter = NewFitter(Unsymmetrised());
    auto engine = NewFitter(Unsymmetrised());
    LogCapture log;
    EXPECT_EQ(fitter->ReadTouchstone(path.c_str()), file.result);
    EXPECT_EQ(fitter->GetPortCount(), file.ports);
    EXPECT_EQ(fitter->GetDataType(), file.dataType);
    if (file.result != 0) {
      EXPECT_EQ(fitter->GetErrorMessage(), nullptr) << Message(*fitter);
      EXPECT_EQ(fitter->state().data->point_count(), file.points);
      EXPECT_EQ(fitter->state().impedances->at(0), file.impedance);
      EXPECT_NE(log.text().find(CountLine(file.points)), std::string::npos);
      if (!dump.empty()) Dump(fitter->state(), dump);
    } else {
      EXPECT_EQ(Message(*fitter), FileMessage(path, file.error));
      EXPECT_NE(log.text().find(file.diagnostic), std::string::npos) << log.text();
      EXPECT_FALSE(fitter->HasSampledData());
    }

    const int enginePorts = ReadAnyTouchstone(*engine, path.c_str());
    const auto only = std::find_if(std::begin(kEngineOnly), std::end(kEngineOnly),
                                   [&](const auto& e) { return e.name == file.name; });
    if (only != std::end(kEngineOnly)) {
      ASSERT_EQ(enginePorts, only->ports) << Message(*engine);
      EXPECT_EQ(engine->state().data->point_count(), only->points);
      EXPECT_EQ(engine->state().impedances->at(0), only->impedance);
      if (!dump.empty()) Dump(engine->state(), dump);
      continue;
    }
    ASSERT_EQ(enginePorts, file.result);
    EXPECT_EQ(Message(*engine), Message(*fitter));
    if (file.result == 0) continue;
    EXPECT_EQ(*engine->state().impedances, *fitter->state().impedances);
    const auto& a = engine->state().data->points();
    const auto& b = fitter->state().data->points();
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
      EXPECT_EQ(a[k].frequency(), b[k].frequency());
      for (int e = 0; e < file.ports * file.ports; ++e) {
        ASSERT_EQ(a[k].At(e / file.ports, e % file.ports), b[k].At(e / file.ports, e % file.ports));
      }
    }
  }
  for (const auto& entry : std::filesystem::directory_iterator(std::getenv("CFIT_TEST_DATA"))) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "README.md" || listed.count(name)) << name << " is not in the table";
  }
}

// ---------------------------------------------------------------------------
// Malformed input: every read ends cleanly with one of the reader's errors,
// without a crash or an overrun (the sanitizer build checks the memory
// side), and leaves an object that reads a valid file afterwards.

const std::string kValid =
    "! valid 2-port\n# GHZ S RI R 50\n1 0.5 0.1 0.2 0.3 0.2 0.3 0.4 0.1\n"
    "2 0.4 0.1 0.2 0.3 0.2 0.3 0.4 0.2\n3 0.3 0.1 0.2 0.3 0.2 0.3 0.4 0.3\n";

// Reads `bytes`: expects failure with `error` (0: any of the reader's
// codes), or any success when `error` is -1.
void ExpectClean(const std::string& bytes, int error) {
  auto fitter = NewFitter();
  const std::string path = Write("bad.s2p", bytes);
  LogCapture log;
  const int result = fitter->ReadTouchstone(path.c_str());
  const std::string message = Message(*fitter);
  if (error == -1 && result != 0) {
    EXPECT_GE(fitter->state().data->point_count(), 1);
    return;
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(message, error > 0 ? FileMessage(path, error) : message);
  if (error <= 0) {
    EXPECT_TRUE(message == FileMessage(path, 1001) || message == FileMessage(path, 1003) ||
                message == FitErrorText(24))
        << message;
  }
  fitter->GetPortCount();
  fitter->GetFileComment();
  if (fitter->HasSampledData()) return;
  EXPECT_EQ(fitter->ReadTouchstone(Write("good.s2p", kValid).c_str()), 2) << Message(*fitter);
  EXPECT_EQ(fitter->state().data->point_count(), 3);
}

TEST(TouchstoneMalformed, TruncatedGarbageLongLinesHugeNumbersAndNulBytes) {
  // Cut anywhere: fewer points (a cut inside the first point can leave a
  // layout of fewer ports), or one of the reader's errors.
  for (std::size_t size = 0; size < kValid.size(); ++size) ExpectClean(kValid.substr(0, size), -1);
  ExpectClean(kValid.substr(0, kValid.size() - 10), 1001);  // a point cut in the middle
  std::mt19937 random(99);
  for (int round = 0; round < 20; ++round) {
    std::string bytes(1 + random() % 20000, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    ExpectClean(bytes, 0);
    ExpectClean(kValid + bytes, 0);
  }
  std::string numbers;
  while (numbers.size() < (1u << 20)) numbers += "0.125 ";
  const std::string longComment = "!" + std::string(1 << 20, 'c') + "\n";
  std::string nulCut = kValid;
  nulCut[nulCut.find("0.4 0.2")] = '\0';  // a NUL ends the text of its line
  const std::pair<std::string, int> cases[] = {
      {"# GHZ S RI\n" + numbers + "\n", 1001},  // beyond the port-count scan's line limit
      {kValid + numbers + "\n", 1001},          // the long line overruns
      {longComment + kValid, 1001},             // ends the port-count scan when first
      {std::string(2 << 20, '7'), 1001},
      {"# GHZ S RI\n" + std::string(50000, '9') + "\n", 1001},
      {"# GHZ S RI\n1" + std::string(3 << 20, '0') + " 0.5 0\n", 1001},
      {std::string(4096, '\0'), 1001},
      {nulCut, 1001},
      {std::string("\0", 1) + kValid.substr(kValid.find('#')), 1003},  // hides the option line
      {kValid + longComment, -1},
      {std::string("!a\0b\n", 5) + kValid, -1},
  };
  for (const auto& [bytes, code] : cases) ExpectClean(bytes, code);
}

// ---------------------------------------------------------------------------
// Version 2.0 files and the byte-order mark, read by the engine reader (the
// cfit program's) with version 2 allowed; the host's reader keeps reading
// version 1 only.

Result<TouchstoneFile> ReadV2(const std::string& text,
                              TouchstoneDialect dialect = TouchstoneDialect::kVersion2Allowed) {
  std::ostringstream log;
  return ReadTouchstoneFile(Write("v2.ts", text), {dialect}, RunContext(log, nullptr, nullptr));
}

TEST(TouchstoneVersion2, KeywordsLayoutsAndFaults) {
  const std::string two =
      "! comment\n[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 2\n[Two-Port Data Order] ";
  const std::string data2 = "\n[Number of Frequencies] 1\n[Network Data]\n1 11 0 2 0 3 0 22 0\n";
  const std::string three =
      "[VERSION] 2.0\n# MHz Z MA R 50\n[number of ports]   3\n[Number of Frequencies] 2\n"
      "[Reference] 10 20 ! the third on the next line\n 30\n[Matrix Format] ";
  const std::string lower =
      "Lower\n[Network Data]\n1 1 0\n2 0 3 0 ! row 2\n4 0 5 0 6 0\n"
      "2 1 0 2 0 3 0 4 0 5 0 6 0\n[Noise Data]\n1 2 3 4 5\n[End]\n";
  const std::string upper =
      "upper\n[Network Data]\n1 1 0 2 0 4 0\n3 0 5 0\n6 0\n2 1 0 2 0 4 0 3 0 5 0 6 0\n[End]\n";
  const std::string oneport = "[Version] 2.0\n[Number of Ports] 1\n";
  const struct {
    const char* what;
    std::string text;
    int ports;  // 0: the read fails with `error`
    ErrorCode error;
    double s12, s21, s22;  // real parts of the first point
  } cases[] = {
      {"12_21 order", two + "12_21" + data2, 2, {}, 2, 3, 22},
      {"21_12 order, the version 1 order", two + "21_12" + data2, 2, {}, 3, 2, 22},
      {"lower triangle, reference over two lines", three + lower, 3, {}, 2, 2, 3},
      {"upper triangle", three + upper, 3, {}, 2, 2, 3},
      {"more numbers than the frequencies need", two + "12_21" + data2 + "2 1 0\n", 0,
       ErrorCode::kTouchstoneSyntax, 0, 0, 0},
      {"no option line", oneport + "[Number of Frequencies] 1\n[Network Data]\n1 2 3\n", 0,
       ErrorCode::kUnsupportedParameters, 0, 0, 0},
      {"mixed-mode order",
       oneport + "# Hz S RI\n[Mixed-Mode Order] D1,1\n[Number of Frequencies] 1\n"
                 "[Network Data]\n1 2 3\n",
       0, ErrorCode::kTouchstoneSyntax, 0, 0, 0},
      {"a word that is no number", two + "12_21" + data2 + "x\n", 0, ErrorCode::kTouchstoneSyntax,
       0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Result<TouchstoneFile> read = ReadV2(c.text);
    EXPECT_FALSE(ReadV2(c.text, TouchstoneDialect::kVersion1).ok());
    if (c.ports == 0) {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.failure().code, c.error);
      continue;
    }
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read->version, 2);
    EXPECT_EQ(read->portCount, c.ports);
    const PortMatrix& first = read->points.at(0);
    EXPECT_EQ(first.At(0, 1).re, c.s12);
    EXPECT_EQ(first.At(1, 0).re, c.s21);
    EXPECT_EQ(first.At(1, 1).re, c.s22);
    if (c.ports == 3) {
      // MA in MHz, 2 points, the matrix mirrored from its triangle.
      EXPECT_EQ(read->dataType, kZ);
      EXPECT_EQ(read->points.size(), 2u);
      EXPECT_EQ(first.frequency(), 1e6);
      EXPECT_EQ(first.At(2, 2).re, 6);
      EXPECT_EQ(first.At(2, 1).re, 5);
      EXPECT_EQ(first.At(1, 2).re, 5);
      EXPECT_EQ(read->impedances, (std::vector<double>{10, 20, 30}));
    }
  }
  const std::string bom = "\xEF\xBB\xBF! caf\xC3\xA9\n# GHz S RI\n1 0.5 0\n";
  const Result<TouchstoneFile> read = ReadV2(bom);
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read->version, 1);
  EXPECT_EQ(read->comment, " caf\xC3\xA9\n");
  EXPECT_EQ(read->points[0].At(0, 0).re, 0.5);
  EXPECT_EQ(read->points[0].frequency(), 1e9);
  EXPECT_FALSE(ReadV2(bom, TouchstoneDialect::kVersion1).ok());

  // The engine entry installs a read into a fitter made by the factory as a
  // host read installs it.
  cFitParams params = Unsymmetrised();
  std::unique_ptr<cFitAPI> fitter(cFitAPI::Create(&params));
  LogCapture log;
  EXPECT_EQ(ReadAnyTouchstone(*fitter, RealFile("v2_sixport_per_port_reference.ts").c_str()), 6);
  EXPECT_EQ(fitter->GetDataType(), kS);
  ASSERT_NE(fitter->GetReferenceImpedances(), nullptr);
  EXPECT_EQ(fitter->GetReferenceImpedances()[2], 0.01);
  EXPECT_NE(log.text().find(CountLine(17)), std::string::npos);
}

}  // namespace
}  // namespace cfit
