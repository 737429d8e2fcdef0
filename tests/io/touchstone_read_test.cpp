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
  return fitter.state().network.data->points()[static_cast<std::size_t>(point)].At(i, j);
}

struct Probe {
  int point, i, j;
  Complex value;
};

struct ReadCase {
  std::string text;
  int result;  // port count, or the recorded code of a failure
  std::string log;
  int dataType;  // after the read, also a failed one
  std::vector<Probe> probes;
  double lastFrequency;  // of the last stored point
};
ReadCase Case(std::string text, int result, std::string log, int type, std::vector<Probe> probes,
              double last) {
  return {std::move(text), result, std::move(log), type, std::move(probes), last};
}

const ReadCase kReads[] = {
    // One split point sends the whole 2-port file to row order.
    Case("# HZ S RI R 50\n1 11 -11 21 -21 12 -12 22 -22\n2 11 -11 21 -21\n 12 -12 22 -22\n", 2,
         CountLine(2), kS, {{0, 0, 1, {21, -21}}, {1, 1, 0, {12, -12}}}, 2),
    // DB -400 is exactly 0.
    Case("# G S DB\n1 -400 30\n2 0 0\n", 1, CountLine(2), kS,
         {{0, 0, 0, {0, 0}}, {1, 0, 0, {1, 0}}}, 2e9),
    // Storing stops at the first frequency not above its predecessor.
    Case("# GHZ S RI\n1 1 0\n2 2 0\n2 3 0\n3 4 0\n", 1, CountLine(2), kS, {{1, 0, 0, {2, 0}}}, 2e9),
    // A frequency alone on a line cuts its point.
    Case("# HZ S RI\n10 0.5 0\n20\n30 0.5\n", 1, CountLine(2), kS, {{1, 0, 0, {0, 0}}}, 30),
    // A bad data line is logged and supplies nothing, but its frequency
    // stays: the last of them leaves a point with zero values.
    Case("# GHZ S RI\n1 0.5 0\n2 x 0\n3 0.25 0\n4 a b\n5 c d\n", 1,
         kBadLine + kBadLine + kBadLine + CountLine(3), kS,
         {{1, 0, 0, {0.25, 0}}, {2, 0, 0, {0, 0}}}, 5e9),
    // Infinite and not-a-number words convert like %le.
    Case("# GHZ S RI\n1 inf nan\n2 -INF 1e999\n", 1, CountLine(2), kS, {}, 2e9),
    // Later option lines are skipped silently.
    Case("# MHZ S RI\n1 0.5 0\n# GHZ Q XX\n2 0.5 0\n   # junk\n3 1 0\n", 1, CountLine(3), kS, {},
         3e6),
    // Data before any option line end the read; a point overruns a line end.
    Case("! c\n1 0.5 0\n# GHZ S RI\n2 0.5 0\n", 1003, kNoOption + kProblem, kNoData, {}, 0),
    Case("# GHZ S RI\n1 0.5 0\n2 0.5 0\n3 0.5\n0 4 0.5 0\n", 1001, kIncorrectFormat + kProblem, kS,
         {}, 0),
};

TEST(TouchstoneReader, LayoutsValuesAndFailures) {
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
      EXPECT_FALSE(fitter->HasSampledData());
      EXPECT_EQ(fitter->state().network.elements, nullptr);
      EXPECT_EQ(fitter->GetFileComment(), nullptr);  // the failed file's comment is not taken
      // The fitter reads the next file as a fresh one would.
      EXPECT_EQ(ReadText(*fitter, "# GHZ S RI\n1 0.5 0\n").result, 1);
      continue;
    }
    EXPECT_NE(fitter->state().network.elements, nullptr);
    for (const Probe& p : c.probes) EXPECT_EQ(At(*fitter, p.point, p.i, p.j), p.value) << p.point;
    EXPECT_EQ(fitter->state().network.data->back().frequency(), c.lastFrequency);
  }
}

// Texts that must read to the same points: line ends, and the value pass
// that a form feed (white space between numbers, but part of a word when
// points are counted) forces instead of taking the values while counting.
// Both fitters hold the same points, bit for bit.
void ExpectSamePoints(const cCfit& a, const cCfit& b) {
  const auto& pa = a.state().network.data->points();
  const auto& pb = b.state().network.data->points();
  ASSERT_EQ(pa.size(), pb.size());
  const int n = a.state().network.portCount;
  for (std::size_t k = 0; k < pa.size(); ++k) {
    ASSERT_EQ(pa[k].frequency(), pb[k].frequency());
    for (int e = 0; e < n * n; ++e) ASSERT_EQ(pa[k].At(e / n, e % n), pb[k].At(e / n, e % n)) << k;
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

// Option lines: unit prefixes, type letters, defaults, words after the
// impedance; failing words with their code (1003: no such unit or type).
// Impedances per port: later ports take the first; the names count up
// from R1.
TEST(TouchstoneReader, OptionLines) {
  const std::string three = "\n1 1 0 2 0 3 0\n 4 0 5 0 6 0\n 7 0 8 0 9 0\n";
  const struct {
    std::string text;
    int error, dataType;
    double scale;
    std::vector<double> impedances;
  } cases[] = {
      {"# G\n1 1 0\n", 0, kS, 1e9, {50}},
      {"# M Y\n1 1 0\n", 0, kY, 1e6, {50}},
      {"# K Z RI R 75\n1 1 0\n", 0, kZ, 1e3, {75}},
      {"   # H P RI R 50ohm junk\n1 1 0\n", 0, kPulse, 1, {50}},
      {"# \n1 1 0\n", 0, kS, 1, {50}},
      {"# HZ S RI R1 10 R2 20" + three, 0, kS, 1, {10, 20, 10}},
      {"# HZ S RI r1 10 r2 20 r3 30 r4 40" + three, 0, kS, 1, {10, 20, 30}},
      {"# HZ S RI R 75 R2 20" + three, 0, kS, 1, {75, 75, 75}},
      {"# THZ S RI\n1 1 0\n", 1003, kNoData, 0, {}},
      {"# GHZ H MA R 1\n1 1 0\n", 1003, kNoData, 0, {}},
      {"# GHZ SS RI\n1 1 0\n", 1003, kNoData, 0, {}},
      {"# GHZ S XY\n1 1 0\n", 1001, kS, 0, {}},
      {"# GHZ S R 50\n1 1 0\n", 1001, kS, 0, {}},  // R is taken as the format RI
      {"# GHZ S RI R\n1 1 0\n", 1001, kS, 0, {}},
      {"# GHZ S RI X 50\n1 1 0\n", 1001, kS, 0, {}},
      {"# HZ S RI R1 10 R3 30" + three, 1001, kS, 0, {}},
      {"# HZ S RI R1 10 R2 x" + three, 1001, kS, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto fitter = NewFitter();
    const Read r = ReadText(*fitter, c.text);
    EXPECT_EQ(r.result, c.error == 0 ? static_cast<int>(c.impedances.size()) : 0);
    EXPECT_EQ(fitter->GetDataType(), c.dataType);
    EXPECT_EQ(fitter->state().network.impedances.value_or(std::vector<double>{}), c.impedances);
    EXPECT_EQ(Message(*fitter), c.error == 0 ? "" : FileMessage(r.path, c.error));
    EXPECT_EQ(r.log, c.error == 0 ? CountLine(1) : kBadUnits + kProblem);
    EXPECT_EQ(c.error == 0 ? fitter->state().network.data->front().frequency() : 0.0, c.scale);
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
  EXPECT_EQ(*fitter->state().network.impedances, (std::vector<double>{1, 2}));
  EXPECT_EQ(ReadText(*NewFitter(), junk + " junk" + point).result, 2);
  const Read r = ReadText(*NewFitter(), longer + point);
  EXPECT_EQ(r.log, Undetected(r.path));
}

// A missing file, a file without a port count, and reads refused while data
// (code 2) or a fit (code 3) are held; an earlier message of another
// operation is cleared when reading starts.
TEST(TouchstoneReader, MissingUndetectableAndRefusedReads) {
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
  ASSERT_EQ(ReadText(*fitter, "# GHZ S RI\n1 0.5 0\n").result, 1);
  auto fitted = OneTermModel(1, kS);
  for (cCfit* f : {fitter.get(), fitted.get()}) {
    log.clear();
    EXPECT_EQ(f->ReadTouchstone(Path("t.snp").c_str()), 0);
    EXPECT_EQ(Message(*f), FitErrorText(f == fitter.get() ? 2 : 3));
    EXPECT_EQ(log.text(), "");
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
  EXPECT_TRUE(fitter->IsSymmetric());
  EXPECT_EQ(At(*fitter, 0, 1, 0), At(*fitter, 0, 0, 1));
  const auto& settings = fitter->state().settings;
  EXPECT_EQ(std::pair(settings.lowerBandFrequency, settings.upperBandFrequency),
            std::pair(1e7, 4e7));
  EXPECT_EQ(std::pair(fitter->state().workspace.work.max_rows(),
                      fitter->state().workspace.work.max_cols()),
            std::pair(4, 4));
}

// ---------------------------------------------------------------------------
// Every real file of the shared folder: whether it reads or how it fails.
// With CFIT_SKRF_DUMP set to a folder the values of every file that reads are
// written there for the scikit-rf cross-check (skrf_crosscheck.py), which
// checks their points, values and impedances.

struct RealCase {
  const char* name;
  int ports;               // held after the read (detected even when it fails)
  int error;               // 0: reads
  const char* diagnostic;  // log line that explains a failure
};

const std::string kUnits = " Line with bad definition of units \n";
const RealCase kFiles[] = {
    {"active_tx_190ghz_measured.s2p", 2, 0, ""},
    {"aperture_waveguide_port_sim.s1p", 1, 0, ""},
    {"bandpass_filter_lumped_sim.s2p", 2, 0, ""},
    {"coax_line_sim_crlf.s2p", 2, 0, ""},
    {"coupled_lines_diff_2xthru.s4p", 4, 0, ""},
    {"cpw_sim_port_impedance_crlf.s2p", 2, 0, ""},
    // The byte-order mark makes the first line a data line before the
    // option line; version 2 files have a keyword line there.
    {"edge_utf8_bom.s2p", 2, 1003, kNoOption.c_str()},
    {"v2_sixport_in_s6p_extension.s6p", 6, 1003, kNoOption.c_str()},
    {"v2_sixport_per_port_reference.ts", 6, 1003, kNoOption.c_str()},
    {"fourport_inline_comments_spec_example.s4p", 4, 0, ""},
    {"fourport_measured_75ohm.s4p", 4, 0, ""},
    {"hparam_spec_example_khz.s2p", 2, 1003, kUnits.c_str()},
    {"ideal_tee_sim.s3p", 3, 0, ""},
    {"lowpass_filter_measured.s2p", 2, 0, ""},
    {"microstrip_line_sim_lowercase_option.s2p", 2, 0, ""},
    {"multiport_sim_12.s12p", 12, 0, ""},
    {"multiport_sim_21_single_point.s21p", 21, 0, ""},
    {"multiport_sim_22.s22p", 22, 0, ""},
    {"multiport_sim_32.s32p", 32, 0, ""},
    {"multiport_sim_6.s6p", 6, 0, ""},
    {"package_8port_sim.s8p", 8, 0, ""},
    {"power_splitter_2way_measured.s3p", 3, 0, ""},
    // R (50+50j) is no number, also when a later option line has a real R.
    {"reject_complex_reference.s2p", 2, 1001, kUnits.c_str()},
    {"reject_double_option_line.s2p", 2, 1001, kUnits.c_str()},
    {"reject_no_data.s3p", 0, 1001, "*** Unable to detect the number of ports from "},
    {"reject_option_r_without_value.s1p", 1, 1001, kUnits.c_str()},
    {"resonator_36mm_measured.s2p", 2, 0, ""},
    {"ring_slot_measured.s1p", 1, 0, ""},
    {"ring_slot_sim.s2p", 2, 0, ""},
    {"short_delay_dc_start_crlf.s1p", 1, 0, ""},
    {"threeport_sim_db_port_impedance.s3p", 3, 0, ""},
    {"transformer_4port_sim.s4p", 4, 0, ""},
    // The noise block's 5-number lines do not make whole points.
    {"transistor_with_noise_data.s2p", 2, 1001, kIncorrectFormat.c_str()},
    {"twoport_mixed_eol.s2p", 2, 0, ""},
    {"zparam_spec_example.s1p", 1, 0, ""},
};
// Files only the engine reader (version 2 allowed) reads, with their ports.
const std::pair<std::string, int> kEngineOnly[] = {{"edge_utf8_bom.s2p", 2},
                                                   {"v2_sixport_in_s6p_extension.s6p", 6},
                                                   {"v2_sixport_per_port_reference.ts", 6}};

// Full-precision values of a read, one point per line, for the cross-check.
void Dump(const FitterState& state, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  std::fprintf(out, "ports %d\ntype %d\nz0", state.network.portCount, state.network.dataType);
  for (double z : *state.network.impedances) std::fprintf(out, " %.17g", z);
  for (ConstMatrixView point : state.network.data->points()) {
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
  const char* dumps = std::getenv("CFIT_SKRF_DUMP");
  std::set<std::string> listed = {"README.md"};
  for (const RealCase& file : kFiles) {
    SCOPED_TRACE(file.name);
    listed.insert(file.name);
    const std::string path = RealFile(file.name);
    const std::string dump = dumps != nullptr ? std::string(dumps) + "/" + file.name + ".dump" : "";
    auto fitter = NewFitter(Unsymmetrised()), engine = NewFitter(Unsymmetrised());
    LogCapture log;
    EXPECT_EQ(fitter->ReadTouchstone(path.c_str()), file.error == 0 ? file.ports : 0);
    EXPECT_EQ(fitter->GetPortCount(), file.ports);
    EXPECT_EQ(Message(*fitter), file.error == 0 ? "" : FileMessage(path, file.error));
    EXPECT_NE(log.text().find(file.error == 0 ? " data points were read" : file.diagnostic),
              std::string::npos);
    if (file.error == 0 && !dump.empty()) Dump(fitter->state(), dump);
    const int enginePorts = ReadAnyTouchstone(*engine, path.c_str());
    if (std::count(std::begin(kEngineOnly), std::end(kEngineOnly),
                   std::pair{std::string(file.name), enginePorts})) {
      if (!dump.empty()) Dump(engine->state(), dump);
      continue;
    }
    ASSERT_EQ(Message(*engine), Message(*fitter));
    if (file.error != 0) continue;
    EXPECT_EQ(*engine->state().network.impedances, *fitter->state().network.impedances);
    ExpectSamePoints(*engine, *fitter);
  }
  for (const auto& entry : std::filesystem::directory_iterator(std::getenv("CFIT_TEST_DATA"))) {
    EXPECT_TRUE(listed.count(entry.path().filename().string())) << entry.path();
  }
  // Z data stay Z; scikit-rf reads S data only.
  auto z = NewFitter();
  LogCapture quiet;
  ASSERT_EQ(z->ReadTouchstone(RealFile("zparam_spec_example.s1p").c_str()), 1);
  EXPECT_EQ(z->GetDataType(), kZ);
  EXPECT_EQ(z->GetReferenceImpedances()[0], 75);
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
// Version 2.0 files, read by the engine reader with version 2 allowed; the
// host's reader keeps reading version 1 only. The byte-order mark and the
// real version 2 files are in the real-file table.

Result<TouchstoneFile> ReadV2(const std::string& text,
                              TouchstoneDialect dialect = TouchstoneDialect::kVersion2Allowed) {
  std::ostringstream log;
  return ReadTouchstoneFile(Write("v2.ts", text), {dialect}, RunContext(log, nullptr, nullptr));
}

TEST(TouchstoneVersion2, KeywordsLayoutsAndFaults) {
  const std::string two =
      "[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 2\n"
      "[Two-Port Data Order] ";
  const std::string data2 = "\n[Number of Frequencies] 1\n[Network Data]\n1 11 0 2 0 3 0 22 0\n";
  const std::string three =
      "[VERSION] 2.0\n# MHz Z MA R 50\n[number of ports]   3\n[Number of Frequencies] 2\n"
      "[Reference] 10 20 ! the third on the next line\n 30\n[Matrix Format] ";
  const std::string oneport = "[Version] 2.0\n# Hz S RI\n[Number of Ports] 1\n";
  // Real parts of (0, 1), (1, 0), (1, 1) of the first point, or the code.
  const std::pair<std::string, std::vector<double>> cases[] = {
      {two + "12_21" + data2, {2, 3, 22}},
      {two + "21_12" + data2, {3, 2, 22}},
      {three + "Lower\n[Network Data]\n1 1 0\n2 0 3 0 ! row 2\n4 0 5 0 6 0\n"
               "2 1 0 2 0 3 0 4 0 5 0 6 0\n[Noise Data]\n1 2 3 4 5\n[End]\n",
       {2, 2, 3}},
      {three + "upper\n[Network Data]\n1 1 0 2 0 4 0\n3 0 5 0\n6 0\n"
               "2 1 0 2 0 4 0 3 0 5 0 6 0\n[End]\n",
       {2, 2, 3}},
      {two + "12_21" + data2 + "2 1 0\n", {1001}},  // more numbers than the frequencies need
      {"[Version] 2.0\n[Number of Ports] 1\n[Number of Frequencies] 1\n[Network Data]\n1 2 3\n",
       {1003}},  // no option line
      {oneport + "[Mixed-Mode Order] D1,1\n[Number of Frequencies] 1\n[Network Data]\n1 2 3\n",
       {1001}},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    const Result<TouchstoneFile> read = ReadV2(text);
    EXPECT_FALSE(ReadV2(text, TouchstoneDialect::kVersion1).ok());
    if (expected.size() == 1) {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(static_cast<int>(*read.failure().code), expected[0]);
      continue;
    }
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read->version, 2);
    const ConstMatrixView first = read->points.at(0);
    EXPECT_EQ((std::vector{first.At(0, 1).re, first.At(1, 0).re, first.At(1, 1).re}), expected);
    if (read->portCount == 2) continue;
    // MA in MHz, 2 points, the matrix mirrored from its triangle.
    EXPECT_EQ(read->dataType, kZ);
    EXPECT_EQ(read->points.size(), 2u);
    EXPECT_EQ(first.frequency(), 1e6);
    EXPECT_EQ((std::vector{first.At(2, 2).re, first.At(2, 1).re, first.At(1, 2).re}),
              (std::vector<double>{6, 5, 5}));
    EXPECT_EQ(read->impedances, (std::vector<double>{10, 20, 30}));
  }
}

}  // namespace
}  // namespace cfit
