// Every real Touchstone file of the shared test folder, read as the fitter
// reads it. The table says for each whether it reads or how it fails, and
// why. With CFIT_SKRF_DUMP set to a folder, the values of every file that
// reads are written there for the scikit-rf cross-check (skrf_crosscheck.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "api/file_operations.h"
#include "support/log_capture.h"
#include "touchstone_test_support.h"

namespace cfit {
namespace {

using testing::Message;
using testing::NewFitter;

struct RealFile {
  const char* name;
  int ports;               // port count held after the read (detected even when it fails)
  int result;              // ReadTouchstone's result
  int points;              // stored points when it reads
  int dataType;            // data type after the read
  double impedance;        // reference impedance of port 1 when it reads
  int error;               // recorded code when it fails
  const char* diagnostic;  // log line that explains a failure
  const char* why;
};

constexpr const char* kDetect = "*** Unable to detect the number of ports from ";
constexpr const char* kUnits = " Line with bad definition of units \n";
constexpr const char* kFormat = "*** Error: incorrect format of touchstone file ***\n";
constexpr const char* kNoOption = "\n No option line found ! : default units used \n";

const RealFile kFiles[] = {
    {"active_tx_190ghz_measured.s2p", 2, 2, 801, 1, 50, 0, "", "MA in Hz"},
    {"aperture_waveguide_port_sim.s1p", 1, 1, 401, 1, 50, 0, "",
     "no R: 50 ohms; the comment lines after each point are skipped"},
    {"bandpass_filter_lumped_sim.s2p", 2, 2, 1000, 1, 50, 0, "", "long header, MA"},
    {"coax_line_sim_crlf.s2p", 2, 2, 101, 1, 50, 0, "", "CR LF line ends"},
    {"coupled_lines_diff_2xthru.s4p", 4, 4, 1000, 1, 50, 0, "", "4-port RI, row order"},
    {"cpw_sim_port_impedance_crlf.s2p", 2, 2, 101, 1, 50, 0, "",
     "CR LF, blank lines between points"},
    {"edge_utf8_bom.s2p", 2, 0, 0, 0, 0, 1003, kNoOption,
     "the byte-order mark makes the first line a data line before the option line"},
    {"fourport_inline_comments_spec_example.s4p", 4, 4, 3, 1, 50, 0, "",
     "comments after the numbers of data lines are dropped"},
    {"fourport_measured_75ohm.s4p", 4, 4, 205, 1, 75, 0, "", "tabs, dB, 75 ohms"},
    {"hparam_spec_example_khz.s2p", 2, 0, 0, 0, 0, 1003, kUnits,
     "H parameters: only S, Y, Z (and P) are supported"},
    {"ideal_tee_sim.s3p", 3, 3, 201, 1, 50, 0, "", "3-port RI"},
    {"lowpass_filter_measured.s2p", 2, 2, 2006, 1, 50, 0, "", "DB in MHz"},
    {"microstrip_line_sim_lowercase_option.s2p", 2, 2, 100, 1, 50, 0, "", "lower-case option line"},
    {"multiport_sim_12.s12p", 12, 12, 5, 1, 50, 0, "", "rows wrap 4+4+4"},
    {"multiport_sim_21_single_point.s21p", 21, 21, 1, 1, 50, 0, "", "one point"},
    {"multiport_sim_22.s22p", 22, 22, 5, 1, 50, 0, "", "rows wrap 5x4+2"},
    {"multiport_sim_32.s32p", 32, 32, 3, 1, 50, 0, "", "32 ports, starts at 0 Hz"},
    {"multiport_sim_6.s6p", 6, 6, 5, 1, 50, 0, "", "rows wrap 4+2"},
    {"package_8port_sim.s8p", 8, 8, 300, 1, 50, 0, "", "tabs in the option line"},
    {"power_splitter_2way_measured.s3p", 3, 3, 169, 1, 50, 0, "",
     "trailing tabs on the option line"},
    {"reject_complex_reference.s2p", 2, 0, 0, 1, 0, 1001, kUnits, "R (50+50j) is not a number"},
    {"reject_double_option_line.s2p", 2, 0, 0, 1, 0, 1001, kUnits,
     "the first option line already has a complex R"},
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
    {"v2_sixport_in_s6p_extension.s6p", 6, 0, 0, 0, 0, 1003, kNoOption,
     "version 2 keyword line before the option line"},
    {"v2_sixport_per_port_reference.ts", 6, 0, 0, 0, 0, 1003, kNoOption,
     "version 2 keyword line before the option line"},
    {"zparam_spec_example.s1p", 1, 1, 5, 3, 75, 0, "", "Z data stay Z, 75 ohms"},
};

std::string DataFolder() {
  const char* folder = std::getenv("CFIT_TEST_DATA");
  return folder != nullptr ? folder : "";
}

// Full-precision values of a read, one point per line, for the cross-check.
void Dump(const FitterState& state, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr) << path;
  std::fprintf(out, "ports %d\ntype %d\nz0", state.network.portCount, state.network.dataType);
  for (double z : *state.network.impedances) std::fprintf(out, " %.17g", z);
  std::fprintf(out, "\n");
  for (const PortMatrix& point : state.network.data->points()) {
    std::fprintf(out, "%.17g", point.frequency());
    for (int i = 0; i < point.order(); ++i) {
      for (int j = 0; j < point.order(); ++j) {
        std::fprintf(out, " %.17g %.17g", point.At(i, j).re, point.At(i, j).im);
      }
    }
    std::fprintf(out, "\n");
  }
  std::fclose(out);
}

// Files only the engine reader (version 2 allowed) reads: the byte-order
// mark and the version 2.0 files; port count, points, impedance of port 1.
struct EngineOnlyFile {
  const char* name;
  int ports;
  int points;
  double impedance;
};
const EngineOnlyFile kEngineOnly[] = {
    {"edge_utf8_bom.s2p", 2, 1, 50},
    {"v2_sixport_in_s6p_extension.s6p", 6, 1001, 15.063},
    {"v2_sixport_per_port_reference.ts", 6, 17, 50},
};

// Every file through the host operation as the table says, and through the
// engine reader (the cfit program's) to the same values, except the files
// only the engine reader reads. The values dumped for the scikit-rf
// cross-check are the host's, or the engine's for those files.
TEST(TouchstoneRealFiles, EachFileReadsOrFailsAsExpected) {
  const std::string folder = DataFolder();
  if (folder.empty()) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  const char* dumpFolder = std::getenv("CFIT_SKRF_DUMP");
  cFitParams params;
  params.symmetryTolerance = 0.0;  // keep the values as written
  for (const RealFile& file : kFiles) {
    SCOPED_TRACE(std::string(file.name) + ": " + file.why);
    const std::string path = folder + "/" + file.name;
    const std::string dump =
        dumpFolder != nullptr ? std::string(dumpFolder) + "/" + file.name + ".dump" : "";
    auto fitter = NewFitter(params);
    auto engine = NewFitter(params);
    testing::LogCapture log;
    EXPECT_EQ(fitter->ReadTouchstone(path.c_str()), file.result);
    EXPECT_EQ(fitter->GetPortCount(), file.ports);
    EXPECT_EQ(fitter->GetDataType(), file.dataType);
    if (file.result != 0) {
      EXPECT_EQ(fitter->GetErrorMessage(), nullptr) << Message(*fitter);
      ASSERT_NE(fitter->state().network.data, nullptr);
      EXPECT_EQ(fitter->state().network.data->point_count(), file.points);
      ASSERT_TRUE(fitter->state().network.impedances.has_value());
      EXPECT_EQ(fitter->state().network.impedances->at(0), file.impedance);
      EXPECT_NE(log.text().find("\n" + std::to_string(file.points) + " data points were read"),
                std::string::npos);
      if (!dump.empty()) Dump(fitter->state(), dump);
    } else {
      EXPECT_EQ(Message(*fitter), path + ":\n" + FitErrorText(file.error));
      EXPECT_NE(log.text().find(file.diagnostic), std::string::npos) << log.text();
      EXPECT_FALSE(fitter->HasSampledData());
    }

    const int enginePorts = ReadAnyTouchstone(*engine, path.c_str());
    const auto* only = std::find_if(std::begin(kEngineOnly), std::end(kEngineOnly),
                                    [&](const EngineOnlyFile& e) { return e.name == file.name; });
    if (only != std::end(kEngineOnly)) {
      ASSERT_EQ(enginePorts, only->ports) << Message(*engine);
      EXPECT_EQ(engine->state().network.data->point_count(), only->points);
      EXPECT_EQ(engine->state().network.impedances->at(0), only->impedance);
      if (!dump.empty()) Dump(engine->state(), dump);
      continue;
    }
    ASSERT_EQ(enginePorts, file.result);
    EXPECT_EQ(Message(*engine), Message(*fitter));
    if (file.result == 0) continue;
    EXPECT_EQ(*engine->state().network.impedances, *fitter->state().network.impedances);
    const auto& a = engine->state().network.data->points();
    const auto& b = fitter->state().network.data->points();
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
      EXPECT_EQ(a[k].frequency(), b[k].frequency());
      for (int i = 0; i < file.ports; ++i) {
        for (int j = 0; j < file.ports; ++j) ASSERT_EQ(a[k].At(i, j), b[k].At(i, j));
      }
    }
  }
}

TEST(TouchstoneRealFiles, TheTableCoversEveryFileOfTheFolder) {
  const std::string folder = DataFolder();
  if (folder.empty()) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  std::set<std::string> listed;
  for (const RealFile& file : kFiles) listed.insert(file.name);
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name == "README.md") continue;
    EXPECT_TRUE(listed.count(name)) << name << " is not in the table";
  }
}

TEST(TouchstoneRealFiles, PortCountOfEveryFile) {
  const std::string folder = DataFolder();
  if (folder.empty()) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  for (const RealFile& file : kFiles) {
    SCOPED_TRACE(file.name);
    auto fitter = NewFitter();
    testing::LogCapture log;
    EXPECT_EQ(fitter->GetTouchstonePortCount((folder + "/" + file.name).c_str()), file.ports);
  }
}

}  // namespace
}  // namespace cfit
