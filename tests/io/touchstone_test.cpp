// Touchstone files: the number scanner against the C library, the reader
// through the host operation (the rules the real files and the scikit-rf
// cross-check of them do not reach, each failure with its exact log lines,
// every real file, malformed input, version 2), and the writers (the exact
// layout of the lines, and every layout and format read back).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "api/file_operations.h"
#include "io/number_scan.h"
#include "io/touchstone_reader.h"
#include "io_support.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using namespace testing;
using Values = std::vector<std::vector<std::vector<Complex>>>;

// ---------------------------------------------------------------------------

// The C library's "%le" conversion is the reference: the scanner must accept
// exactly the texts it accepts and give bit-identical values, and a failed
// conversion leaves the value alone.
void ExpectSameAsScanf(const std::string& text) {
  double expected = -777.0, actual = -777.0;
  const int converted = std::sscanf(text.c_str(), "%le", &expected);
  ASSERT_EQ(ConvertsAsNumber(text.data(), text.data() + text.size(), &actual), converted == 1)
      << "'" << text << "'";
  EXPECT_TRUE(std::isnan(expected) ? std::isnan(actual)
                                   : std::memcmp(&expected, &actual, sizeof expected) == 0)
      << text << " " << actual;
}

// Accepted forms of Touchstone files, longest prefixes (trailing text,
// incomplete exponents, a comma that is no decimal point), rejected texts,
// special words and hexadecimal numbers, values out of range; then random
// values in the printed forms.
TEST(ScanDouble, AgreesWithScanfOnEveryForm) {
  const std::string texts =
      "0|-0|+0|1|+2|-3|1.|.5|-.5|+.5|1.5E3|1.5e3|1e+05|1e-05|1E+5|-6.0206"
      "|1.000000000000000e+09|-1.234567890123457e-01|00012|161.24|50.0|19.54500|  7|\t8"
      "|\v9|1.7976931348623157e308|4.9406564584124654e-324|2.2250738585072014e-308|0.1"
      "|0.30000000000000004|123456789012345678901234567890|1e22|1e23|9007199254740993"
      "|50ohm|1.5abc|1e|1e+|1e-x|1e5x|1..2|1,5|5.e|0.5!comment|3-4|2+3j|| |.|+|-|+.e1"
      "|e5|E5|+-1|-+1|--1|- 1|R|(50+50j)|x1|infi|infinit|in|n|na|0x|0xg|0xp1|0x-1|!|#"
      "|inf|INF|-inf|infx|infinity|-Infinity|iNfInItYx|nan|NaN|-nan|nanx|nan(12)|0x1p3"
      "|0x.8|0x1|0x1p|-0x1.8p1|0X1P-2|1e99999|-1e99999|1e400|1e-400|-1e-400|2e-324"
      "|0e99999|0.0000e999999|0.00001e309|1000e-330|0.000000000000000000001e-310"
      "|123456e99999999999999999999|1e-99999999999999999999|";
  for (std::size_t start = 0, bar; (bar = texts.find('|', start)) != std::string::npos;
       start = bar + 1) {
    ExpectSameAsScanf(texts.substr(start, bar - start));
  }
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-320, 308);
  const char* formats[] = {"%20.15le", "%.17g", "%g", "%+.6e", "%f"};
  char text[400];
  for (int k = 0; k < 20000; ++k) {
    std::snprintf(text, sizeof text, formats[k % 5],
                  mantissa(random) * std::pow(10.0, exponent(random)));
    ExpectSameAsScanf(text);
  }
  // The scan stops at the given end.
  const std::string digits = "12345";
  double value = 0.0;
  EXPECT_EQ(ScanDouble(digits.data(), digits.data() + 2, &value), digits.data() + 2);
  EXPECT_EQ(value, 12.0);
  EXPECT_EQ(ScanDouble(digits.data(), digits.data(), &value), nullptr);
}

// Numbers in log lines take the stream's defaults.
TEST(RunLog, NumbersTakeTheStreamDefaults) {
  testing::LogCapture log;
  runlog::Write("value ", 0.1234567, " count ", 42, " big ", 1.5e-12, "\n");
  EXPECT_EQ(log.text(), "value 0.123457 count 42 big 1.5e-12\n");
}

// ---------------------------------------------------------------------------
// The Touchstone reader through the host operation: the rules the real files
// (and the scikit-rf cross-check of them) do not reach, each failure with its
// exact log lines, every real file, and malformed input.

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
  return fitter.state().network.data->points()[static_cast<std::size_t>(point)].At(i, j);
}

struct Probe {
  int point, i, j;
  Complex value;
};

// Layouts, values and option lines (unit prefixes, type letters, defaults,
// words after the impedance; impedances per port: later ports take the
// first, the names count up from R1), and failing reads with their code
// (1003: no such unit or type, or no option line; 1001: the syntax).
const std::string kThreePorts = "\n1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 0\n";
const struct ReadCase {
  std::string text;
  int result;  // port count, or the recorded code of a failure
  std::string log;
  int dataType;  // after the read, also a failed one
  std::vector<Probe> probes;
  double lastFrequency;  // of the last stored point
  std::vector<double> impedances = {};
} kReads[] = {
    // clang-format off
  // One split point sends the whole 2-port file to row order.
  {"# HZ S RI R 50\n1 11 -11 21 -21 12 -12 22 -22\n2 11 -11 21 -21\n 12 -12 22 -22\n", 2,
   CountLine(2), kS, {{0, 0, 1, {21, -21}}, {1, 1, 0, {12, -12}}}, 2, {50, 50}},
  // DB -400 is exactly 0.
  {"# G S DB\n1 -400 30\n2 0 0\n", 1, CountLine(2), kS,
   {{0, 0, 0, {0, 0}}, {1, 0, 0, {1, 0}}}, 2e9},
  // Storing stops at the first frequency not above its predecessor.
  {"# GHZ S RI\n1 1 0\n2 2 0\n2 3 0\n3 4 0\n", 1, CountLine(2), kS, {{1, 0, 0, {2, 0}}}, 2e9},
  // A frequency alone on a line cuts its point.
  {"# HZ S RI\n10 0.5 0\n20\n30 0.5\n", 1, CountLine(2), kS, {{1, 0, 0, {0, 0}}}, 30},
  // A bad data line is logged and supplies nothing, but its frequency
  // stays: the last of them leaves a point with zero values.
  {"# GHZ S RI\n1 0.5 0\n2 x 0\n3 0.25 0\n4 a b\n5 c d\n", 1,
   kBadLine + kBadLine + kBadLine + CountLine(3), kS,
   {{1, 0, 0, {0.25, 0}}, {2, 0, 0, {0, 0}}}, 5e9},
  // Infinite and not-a-number words convert like %le.
  {"# GHZ S RI\n1 inf nan\n2 -INF 1e999\n", 1, CountLine(2), kS, {}, 2e9},
  // Later option lines are skipped silently.
  {"# MHZ S RI\n1 0.5 0\n# GHZ Q XX\n2 0.5 0\n   # junk\n3 1 0\n", 1, CountLine(3), kS, {}, 3e6},
  {"# G Y\n1 1 0\n", 1, CountLine(1), kY, {}, 1e9, {50}},
  {"# K Z RI R 75\n1 1 0\n", 1, CountLine(1), kZ, {}, 1e3, {75}},
  {"   # H P RI R 50ohm junk\n1 1 0\n", 1, CountLine(1), kPulse, {}, 1, {50}},
  {"# \n1 1 0\n", 1, CountLine(1), kS, {}, 1, {50}},
  {"# HZ S RI R1 10 R2 20" + kThreePorts, 3, CountLine(1), kS, {}, 1, {10, 20, 10}},
  {"# HZ S RI r1 10 r2 20 r3 30 r4 40" + kThreePorts, 3, CountLine(1), kS, {}, 1, {10, 20, 30}},
  {"# HZ S RI R 75 R2 20" + kThreePorts, 3, CountLine(1), kS, {}, 1, {75, 75, 75}},
  // Data before any option line end the read; a point overruns a line end.
  {"! c\n1 0.5 0\n# GHZ S RI\n2 0.5 0\n", 1003, kNoOption + kProblem, kNoData, {}, 0},
  {"# GHZ S RI\n1 0.5 0\n2 0.5 0\n3 0.5\n0 4 0.5 0\n", 1001, kIncorrectFormat + kProblem, kS, {},
   0},
  {"# THZ S RI\n1 1 0\n", 1003, kBadUnits + kProblem, kNoData, {}, 0},
  {"# GHZ SS RI\n1 1 0\n", 1003, kBadUnits + kProblem, kNoData, {}, 0},
  {"# GHZ S XY\n1 1 0\n", 1001, kBadUnits + kProblem, kS, {}, 0},
  {"# GHZ S R 50\n1 1 0\n", 1001, kBadUnits + kProblem, kS, {}, 0},  // R taken as the format RI
  {"# GHZ S RI R\n1 1 0\n", 1001, kBadUnits + kProblem, kS, {}, 0},
  {"# HZ S RI R1 10 R3 30" + kThreePorts, 1001, kBadUnits + kProblem, kS, {}, 0},
  {"# HZ S RI R1 10 R2 x" + kThreePorts, 1001, kBadUnits + kProblem, kS, {}, 0},
    // clang-format on
};

TEST(TouchstoneReader, LayoutsValuesOptionLinesAndFailures) {
  for (const ReadCase& c : kReads) {
    SCOPED_TRACE(c.text);
    auto fitter = NewFitter(Unsymmetrised());
    const Read r = ReadText(*fitter, c.text);
    ASSERT_EQ(r.result, c.result > 1000 ? 0 : c.result) << Message(*fitter) << r.log;
    EXPECT_EQ(r.log, c.log);
    EXPECT_EQ(fitter->GetDataType(), c.dataType);
    // A failed read keeps the port count its detection found.
    EXPECT_EQ(fitter->GetPortCount(), NewFitter()->GetTouchstonePortCount(r.path.c_str()));
    if (r.result == 0) {
      EXPECT_EQ(Message(*fitter), FileMessage(r.path, c.result));
      // No data, impedances or comment of the failed file are taken, and the
      // fitter reads the next file as a fresh one would.
      EXPECT_TRUE(!fitter->HasSampledData() && fitter->state().network.elements == nullptr &&
                  !fitter->state().network.impedances && fitter->GetFileComment() == nullptr);
      EXPECT_EQ(ReadText(*fitter, "# GHZ S RI\n1 0.5 0\n").result, 1);
      continue;
    }
    EXPECT_TRUE(fitter->state().network.elements != nullptr && Message(*fitter).empty());
    for (const Probe& p : c.probes) EXPECT_EQ(At(*fitter, p.point, p.i, p.j), p.value) << p.point;
    EXPECT_EQ(fitter->state().network.data->back().frequency(), c.lastFrequency);
    EXPECT_TRUE(c.impedances.empty() || *fitter->state().network.impedances == c.impedances);
  }
}

// Both fitters hold the same points, bit for bit or within `tolerance`
// relative to each value.
void ExpectSamePoints(const cCfit& a, const cCfit& b, double tolerance = 0.0) {
  const auto& pa = a.state().network.data->points();
  const auto& pb = b.state().network.data->points();
  ASSERT_EQ(pa.size(), pb.size());
  const int n = a.state().network.portCount;
  for (std::size_t k = 0; k < pa.size(); ++k) {
    ASSERT_LE(std::fabs(pa[k].frequency() - pb[k].frequency()), tolerance * pb[k].frequency());
    for (int e = 0; e < n * n; ++e) {
      const Complex x = pa[k].At(e / n, e % n), y = pb[k].At(e / n, e % n);
      ASSERT_TRUE(x == y || Abs(x - y) <= tolerance * Abs(y)) << k << " " << e;
    }
  }
}

// Texts that must read to the same points: line ends, and the value pass
// that a form feed (white space between numbers, but part of a word when
// points are counted) forces instead of taking the values while counting.
TEST(TouchstoneReader, EquivalentTextsReadTheSame) {
  const std::string lf =
      "! c\n# GHz S RI\n1 11 -11 21 -21\n 12 -12 22 -22\n\n2 1 2 3 4\n 5 6 7 8\n";
  std::string cr = lf;
  std::replace(cr.begin(), cr.end(), '\n', '\r');
  const std::string two = "# GHZ S RI\n1 11 -11 21 -21 12 -12 22 -22\n2 1 2 3 4 5 6 7 8";
  const std::string three = "# GHZ S MA\n1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 90";
  for (const auto& [a, b] : {std::pair{lf, cr}, std::pair{two + "\n", two + "\f\n"},
                             std::pair{three + "\n", three + "\f\n"}}) {
    auto first = NewFitter(Unsymmetrised()), second = NewFitter(Unsymmetrised());
    ASSERT_GT(ReadText(*first, a, "a.snp").result, 0);
    ASSERT_EQ(ReadText(*second, b, "b.snp").result, first->GetPortCount()) << Message(*second);
    ExpectSamePoints(*first, *second);
  }
}

TEST(TouchstoneReader, ManyImpedancesOnTheOptionLine) {
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
  EXPECT_EQ(*fitter->state().network.impedances, (std::vector<double>{1, 2}));
  EXPECT_EQ(ReadText(*NewFitter(), junk + " junk" + point).result, 2);
  const Read r = ReadText(*NewFitter(), longer + point);
  EXPECT_EQ(r.log, Undetected(r.path));
}

// A missing file and files without a port count; an earlier message of
// another operation is cleared when reading starts.
TEST(TouchstoneReader, MissingAndUndetectableFiles) {
  auto fitter = NewFitter();
  EXPECT_EQ(fitter->WriteTouchstone(Path("x.s1p").c_str(), 0), 0);
  const std::string missing = Path("missing.s2p");
  LogCapture log;
  EXPECT_EQ(fitter->ReadTouchstone(missing.c_str()), 0);
  EXPECT_EQ(Message(*fitter), missing + ":\nCannot open the touchstone file");
  EXPECT_EQ(fitter->GetTouchstonePortCount(missing.c_str()), 0);
  EXPECT_EQ(log.text(), "*** Cannot open the file " + missing + " ***\n");
  for (const char* text : {"", "! only a comment\n# GHZ S RI\n", "# GHZ S RI\n1 2 3 4 5\n6 7\n"}) {
    auto other = NewFitter();
    const Read r = ReadText(*other, text);
    EXPECT_EQ(r.log, Undetected(r.path));
    EXPECT_EQ(Message(*other), FileMessage(r.path, 1001));
  }
}

// The header comment (at most 1023 characters), the port count of a file,
// and what storing derives: nearly symmetric data are symmetrised, the band
// comes from the data, the working set grows to 2 N, point reduction logs
// its line.
TEST(TouchstoneReader, HeaderCommentPortCountAndStoringSettings) {
  std::string longHead, longComment;
  for (int k = 0; k < 40; ++k) longComment += std::string(40, 'a' + k % 26) + "\n";
  for (int k = 0; k < 40; ++k) longHead += "!" + longComment.substr(41 * k, 41);
  for (const auto& [head, comment] : {std::pair<std::string, std::string>{
                                          "!first\n\n! second\n!\n ! not\n", "first\n second\n\n"},
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
  cFitParams params;
  params.maxFrequencyPoints = 1, params.maxColumns = 1, params.reducePoints = true;
  auto fitter = NewFitter(params);
  const std::string flat = "0.5 0 0.2 0 0.2 0 0.5 0\n";
  const Read r = ReadText(*fitter, "# MHZ S RI\n10 0.5 0 0.1 0.001 0.1 0 0.5 0\n20 " + flat +
                                       "30 " + flat + "40 " + flat);
  ASSERT_EQ(r.result, 2);
  EXPECT_EQ(r.log, CountLine(4) + "Number of points were reduced to 3\n");
  EXPECT_TRUE(fitter->IsSymmetric() && At(*fitter, 0, 1, 0) == At(*fitter, 0, 0, 1));
  const FitterState& s = fitter->state();
  EXPECT_TRUE(s.settings.lowerBandFrequency == 1e7 && s.settings.upperBandFrequency == 4e7 &&
              s.workspace.work.max_rows() == 4 && s.workspace.work.max_cols() == 4);
}

// ---------------------------------------------------------------------------
// Every real file of the shared folder: whether it reads or how it fails.
// With CFIT_SKRF_DUMP set to a folder the values of every file that reads are
// written there for the scikit-rf cross-check (skrf_crosscheck.py), which
// checks their points, values and impedances.

// The files that fail, with the ports their detection finds, the code and
// the log line that explains the failure; every other file reads, with the
// ports its extension names.
struct RealCase {
  const char* name;
  int ports, error;
  const char* diagnostic;
};
const std::string kUnits = " Line with bad definition of units \n";
const RealCase kFailing[] = {
    // The byte-order mark makes the first line a data line before the
    // option line; version 2 files have a keyword line there.
    {"edge_utf8_bom.s2p", 2, 1003, kNoOption.c_str()},
    {"v2_sixport_in_s6p_extension.s6p", 6, 1003, kNoOption.c_str()},
    {"v2_sixport_per_port_reference.ts", 6, 1003, kNoOption.c_str()},
    {"hparam_spec_example_khz.s2p", 2, 1003, kUnits.c_str()},
    // R (50+50j) is no number, also when a later option line has a real R.
    {"reject_complex_reference.s2p", 2, 1001, kUnits.c_str()},
    {"reject_double_option_line.s2p", 2, 1001, kUnits.c_str()},
    {"reject_no_data.s3p", 0, 1001, "*** Unable to detect the number of ports from "},
    {"reject_option_r_without_value.s1p", 1, 1001, kUnits.c_str()},
    // The noise block's 5-number lines do not make whole points.
    {"transistor_with_noise_data.s2p", 2, 1001, kIncorrectFormat.c_str()},
};
// Of those, the files the engine reader (version 2 allowed) reads.
const std::set<std::string> kEngineOnly = {"edge_utf8_bom.s2p", "v2_sixport_in_s6p_extension.s6p",
                                           "v2_sixport_per_port_reference.ts"};

// Full-precision values of a read, one point per line, for the cross-check.
void Dump(const FitterState& state, const std::string& path) {
  std::ofstream out(path);
  out.precision(17);
  out << "ports " << state.network.portCount << "\ntype " << state.network.dataType << "\nz0";
  for (double z : *state.network.impedances) out << " " << z;
  for (ConstMatrixView p : state.network.data->points()) {
    out << "\n" << p.frequency();
    for (int e = 0; e < p.order() * p.order(); ++e)
      out << " " << p.At(e / p.order(), e % p.order()).re << " "
          << p.At(e / p.order(), e % p.order()).im;
  }
}

// Every file through the host operation as the table says, and through the
// engine reader (the cfit program's) to the same values, except the files
// only the engine reader reads. The values dumped are the host's, or the
// engine's for those files.
TEST(TouchstoneRealFiles, EachFileReadsOrFailsAsExpected) {
  const char* folder = std::getenv("CFIT_TEST_DATA");
  if (folder == nullptr) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  const char* dumps = std::getenv("CFIT_SKRF_DUMP");
  int reads = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string(), path = entry.path().string();
    if (name == "README.md") continue;
    SCOPED_TRACE(name);
    const auto* failing = std::find_if(std::begin(kFailing), std::end(kFailing),
                                       [&](const RealCase& c) { return c.name == name; });
    const RealCase file = failing != std::end(kFailing)
                              ? *failing
                              : RealCase{name.c_str(), std::stoi(name.substr(name.rfind(".s") + 2)),
                                         0, " data points were read"};
    const std::string dump = dumps != nullptr ? std::string(dumps) + "/" + name + ".dump" : "";
    auto fitter = NewFitter(Unsymmetrised()), engine = NewFitter(Unsymmetrised());
    LogCapture log;
    EXPECT_EQ(fitter->ReadTouchstone(path.c_str()), file.error == 0 ? file.ports : 0);
    EXPECT_EQ(fitter->GetPortCount(), file.ports);
    EXPECT_EQ(Message(*fitter), file.error == 0 ? "" : FileMessage(path, file.error));
    EXPECT_NE(log.text().find(file.diagnostic), std::string::npos);
    reads += file.error == 0;
    // Z data stay Z (scikit-rf reads S data only).
    EXPECT_TRUE(name != "zparam_spec_example.s1p" ||
                (fitter->GetDataType() == kZ && fitter->GetReferenceImpedances()[0] == 75));
    if (file.error == 0 && !dump.empty()) Dump(fitter->state(), dump);
    const int enginePorts = ReadAnyTouchstone(*engine, path.c_str());
    if (kEngineOnly.count(name)) {
      EXPECT_EQ(enginePorts, file.ports);
      if (!dump.empty()) Dump(engine->state(), dump);
      continue;
    }
    ASSERT_EQ(Message(*engine), Message(*fitter));
    if (file.error != 0) continue;
    EXPECT_EQ(*engine->state().network.impedances, *fitter->state().network.impedances);
    ExpectSamePoints(*engine, *fitter);
    // Written and read back, the file gives the same points to the 16 digits
    // written (every layout of the real files' port counts).
    auto back = NewFitter(Unsymmetrised());
    ASSERT_EQ(fitter->WriteTouchstone(Path("back.snp").c_str(), 0), 1);
    ASSERT_EQ(back->ReadTouchstone(Path("back.snp").c_str()), file.ports) << Message(*back);
    EXPECT_EQ(*back->state().network.impedances, *fitter->state().network.impedances);
    ExpectSamePoints(*back, *fitter, 1e-15);
  }
  EXPECT_EQ(reads, 26);
}

// ---------------------------------------------------------------------------
// Malformed input: every read ends cleanly with one of the reader's errors,
// without a crash or an overrun (the sanitizer build checks the memory
// side), and leaves an object that reads a valid file afterwards.

const std::string kValid =
    "! valid 2-port\n# GHZ S RI R 50\n1 0.5 0.1 0.2 0.3 0.2 0.3 0.4 0.1\n"
    "2 0.4 0.1 0.2 0.3 0.2 0.3 0.4 0.2\n3 0.3 0.1 0.2 0.3 0.2 0.3 0.4 0.3\n";

// Reads `bytes`: a failure with `error` (0: any of the reader's codes), or
// with -1 also any success.
void ExpectClean(const std::string& bytes, int error) {
  auto fitter = NewFitter();
  const std::string path = Write("bad.s2p", bytes);
  LogCapture log;
  if (fitter->ReadTouchstone(path.c_str()) != 0 && error == -1) return;
  const std::string message = Message(*fitter);
  EXPECT_TRUE(error > 0 ? message == FileMessage(path, error)
                        : message == FileMessage(path, 1001) ||
                              message == FileMessage(path, 1003) || message == FitErrorText(24))
      << message;
  fitter->GetPortCount();
  fitter->GetFileComment();
  if (fitter->HasSampledData()) return;
  EXPECT_EQ(fitter->ReadTouchstone(Write("good.s2p", kValid).c_str()), 2) << Message(*fitter);
}

TEST(TouchstoneMalformed, TruncatedGarbageLongLinesHugeNumbersAndNulBytes) {
  for (std::size_t size = 0; size < kValid.size(); ++size) ExpectClean(kValid.substr(0, size), -1);
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
      {kValid.substr(0, kValid.size() - 10), 1001},  // a point cut in the middle
      {"# GHZ S RI\n" + numbers + "\n", 1001},       // beyond the port-count scan's line limit
      {kValid + numbers + "\n", 1001},               // the long line overruns
      {longComment + kValid, 1001},                  // ends the port-count scan when first
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
// Version 2.0 files, read by the engine reader with version 2 allowed; the
// host's reader keeps reading version 1 only. The byte-order mark and the
// real version 2 files are in the real-file table.

Result<TouchstoneFile> ReadV2(const std::string& text,
                              TouchstoneDialect dialect = TouchstoneDialect::kVersion2Allowed) {
  std::ostringstream log;
  return ReadTouchstoneFile(Write("v2.ts", text), {dialect}, RunContext(log, nullptr, nullptr));
}

TEST(TouchstoneVersion2, KeywordsLayoutsAndFaults) {
  const std::string three =
      "[VERSION] 2.0\n# MHz Z MA R 50\n[number of ports]   3\n[Number of Frequencies] 2\n"
      "[Reference] 10 20 ! the third on the next line\n 30\n[Matrix Format] ";
  // MA in MHz, 2 points, the matrix mirrored from either triangle; a mixed-mode
  // order is refused.
  for (const std::string& text :
       {three + "Lower\n[Network Data]\n1 1 0\n2 0 3 0 ! row 2\n4 0 5 0 6 0\n"
                "2 1 0 2 0 3 0 4 0 5 0 6 0\n[Noise Data]\n1 2 3 4 5\n[End]\n",
        three + "upper\n[Network Data]\n1 1 0 2 0 4 0\n3 0 5 0\n6 0\n"
                "2 1 0 2 0 4 0 3 0 5 0 6 0\n[End]\n"}) {
    SCOPED_TRACE(text);
    const Result<TouchstoneFile> read = ReadV2(text);
    EXPECT_FALSE(ReadV2(text, TouchstoneDialect::kVersion1).ok());
    ASSERT_TRUE(read.ok());
    const ConstMatrixView first = read->points[0];
    EXPECT_TRUE(read->version == 2 && read->dataType == kZ && read->points.size() == 2u &&
                first.frequency() == 1e6 && read->impedances == std::vector<double>({10, 20, 30}));
    EXPECT_EQ((std::vector{first.At(0, 1).re, first.At(1, 0).re, first.At(1, 1).re,
                           first.At(2, 2).re, first.At(2, 1).re, first.At(1, 2).re}),
              (std::vector<double>{2, 2, 3, 6, 5, 5}));
  }
  const Result<TouchstoneFile> mixed = ReadV2(
      "[Version] 2.0\n# Hz S RI\n[Number of Ports] 1\n[Mixed-Mode Order] D1,1\n"
      "[Number of Frequencies] 1\n[Network Data]\n1 2 3\n");
  ASSERT_FALSE(mixed.ok());
  EXPECT_EQ(*mixed.failure().code, ErrorCode::kTouchstoneSyntax);
}

// ---------------------------------------------------------------------------
// The Touchstone and data-table writers: the exact layout of the lines, the
// failures, and every layout and format read back by the reader.

// Element (i, j) of point k = ((k+1)(i+1) + 0.1 j, -(j+1) / (i+2)).
Values Distinct(int n, int points) {
  Values v(points, std::vector<std::vector<Complex>>(n, std::vector<Complex>(n)));
  for (int e = 0; e < points * n * n; ++e) {
    const int k = e / (n * n), i = e / n % n, j = e % n;
    v[k][i][j] = {(k + 1) * (i + 1) + 0.1 * j, -(j + 1.0) / (i + 2)};
  }
  return v;
}
std::string Pair(Complex z) { return " " + Num(z.re) + " " + Num(z.im); }

// The file the writer makes of a fitter loaded with `values` at 1, 2, ... Hz.
std::string Written(int n, int type, const Values& values, int format = 0,
                    const char* comment = nullptr, std::vector<double> z0 = {}) {
  auto fitter = NewFitter();
  std::vector<double> frequencies;
  for (std::size_t k = 0; k < values.size(); ++k) frequencies.push_back(k + 1.0);
  Load(*fitter, n, type, z0.empty() ? std::vector<double>(n, 50.0) : z0, frequencies, values);
  if (comment != nullptr) fitter->SetOutputComment(comment);
  EXPECT_EQ(fitter->WriteTouchstone(Path("w.snp").c_str(), format), 1) << Message(*fitter);
  return ReadFileBytes(Path("w.snp"));
}

// A 2-port point is one line in the order 11 21 12 22; others are one row
// per line, wrapped after four elements from five ports on. The option line
// names the type, the format and one impedance or one per port.
TEST(TouchstoneWriter, LinesOfEachLayoutTypeAndFormat) {
  const std::string header =
      "! Touchstone generated by fitter/viewer \n# HZ S  RI R 5.000000e+01\n! \n";
  for (int n : {1, 2, 3, 5, 6}) {
    const auto m = Distinct(n, 1)[0];
    std::string expected = header + Num(1);
    if (n == 2) expected += Pair(m[0][0]) + Pair(m[1][0]) + Pair(m[0][1]) + Pair(m[1][1]) + "\n";
    for (int e = 0; n != 2 && e < n * n; ++e) {
      expected += Pair(m[e / n][e % n]);
      if ((n >= 5 && e % n % 4 == 3) || e % n == n - 1) {
        expected += e == n * n - 1 ? "\n" : "\n" + std::string(22, ' ');
      }
    }
    EXPECT_EQ(Written(n, kS, {m}), expected) << n;
  }
  const std::string z = " R1 5.000000e+01 R2 7.500000e+01 ";
  for (const auto& [type, format, line] : {std::tuple{kY, 1, "# HZ Y  MA" + z},
                                           {kZ, 2, "# HZ Z  DB" + z},
                                           {kABCD, 0, "# HZ A  RI" + z},
                                           {kPulse, 0, "# HZ P  RI" + z}}) {
    EXPECT_EQ(Lines(Written(2, type, Distinct(2, 1), format, nullptr, {50, 75}))[1], line);
  }
}

TEST(TouchstoneWriter, FormatsTheZeroElementInDbAndCommentLines) {
  const Values values = {{{Complex(0, 0)}}, {{Complex(-3, 4)}}};
  const double angle = std::atan2(4.0, -3.0) * 57.29577951308232;
  EXPECT_EQ(Lines(Written(1, kS, values, 1))[4], Num(2) + " " + Num(5) + " " + Num(angle));
  const std::string db = Written(1, kS, values, 2);
  EXPECT_EQ(Lines(db)[3], Num(1) + " " + Num(-200) + " " + Num(0));
  EXPECT_EQ(Lines(db)[4],
            Num(2) + " " + Num(20 * std::log(5.0) / std::log(10.0)) + " " + Num(angle));
  // -200 dB reads back as a magnitude of 1e-10, not 0.
  auto back = NewFitter(Unsymmetrised());
  LogCapture log;
  ASSERT_EQ(back->ReadTouchstone(Write("db.s1p", db).c_str()), 1);
  EXPECT_NEAR(Abs(back->state().network.data->front().At(0, 0)), 1e-10, 1e-25);
  // Only the first 1024 characters of the comment are written.
  const std::string longText(3000, 'x');
  for (const auto& [comment, lines] :
       {std::pair<const char*, std::string>{"two\nlines\n", "!two\n!lines\n"},
        {"cr\rand crlf\r\nend", "!cr\r!and crlf\r!\n!end\n"},
        {"", ""},
        {longText.c_str(), "!" + longText.substr(0, 1024) + "\n"}}) {
    EXPECT_EQ(Written(1, kS, {{{Complex(1, 0)}}}, 0, comment).substr(0, lines.size() + 5),
              lines + "# HZ ");
  }
}

// The data table: one element as 1 - S, or S + offset under a header, or
// every element when an index is out of range (the refusals in the wrong
// states are in the api tests).
TEST(TouchstoneWriter, TheDataTable) {
  const std::string path = Path("f.s1p");
  auto fitter = NewFitter();
  const Values v = Distinct(2, 2);
  Load(*fitter, 2, kS, {50, 50}, {1e6, 2e6}, v);
  ASSERT_EQ(fitter->WriteDataTable(path.c_str(), 0, 0, false, true, 1.0), 1);
  EXPECT_EQ(ReadFileBytes(path), " " + Num(1e6) + " " + Pair(Complex(1, 0) - v[0][0][0]) + "\n " +
                                     Num(2e6) + " " + Pair(Complex(1, 0) - v[1][0][0]) + "\n");
  ASSERT_EQ(fitter->WriteDataTable(path.c_str(), 1, 0, true, false, 0.5), 1);
  EXPECT_EQ(Lines(ReadFileBytes(path))[3],
            " " + Num(1e6) + " " + Pair(v[0][1][0] + Complex(0.5, 0)));
  ASSERT_EQ(fitter->WriteDataTable(path.c_str(), 2, 2, false, true, 7.0), 1);
  EXPECT_EQ(Lines(ReadFileBytes(path))[0], " " + Num(1e6) + " " + Pair(v[0][0][0]) + " " +
                                               Pair(v[0][0][1]) + " " + Pair(v[0][1][0]) + " " +
                                               Pair(v[0][1][1]));
}

}  // namespace
}  // namespace cfit
