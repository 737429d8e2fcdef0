// Netlists of fitted real-file models for a circuit simulator.
//
// Each case fits a real file (or data made from one: the values delayed by a
// pure delay, or the ports given other reference impedances), writes the
// subcircuit netlist and checks what the case is meant to cover (delays
// present or absent, the impedances). With CFIT_NGSPICE_DUMP set to a folder
// the test also leaves there, per case, the netlist <case>.sp and the model's
// own evaluation <case>.eval on a linear grid across the data band, which
// ngspice_crosscheck.py compares with an AC analysis of the netlist:
//
//   ports N
//   z0 Z0_1 ... Z0_N
//   points K
//   f Re H11 Im H11 Re H12 Im H12 ... (K lines, elements row by row)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "fit/model_evaluation.h"
#include "model_test_support.h"
#include "support/log_capture.h"
#include "touchstone_test_support.h"

namespace cfit {
namespace {

using testing::LogCapture;
using testing::Message;
using testing::RealFile;
using testing::ScratchDir;

struct SimulatorCase {
  const char* name;
  const char* file;
  bool individualPoles;
  bool extractDelays;
  // The data are multiplied by exp(-j 2 pi f addedDelay) before the fit.
  double addedDelay;
  // Replaces the file's reference impedances when not empty.
  std::vector<double> impedances;
};

const std::vector<SimulatorCase>& Cases() {
  static const std::vector<SimulatorCase> cases = {
      {"ring1", "ring_slot_measured.s1p", true, false, 0.0, {}},
      {"ring1_delay", "ring_slot_measured.s1p", true, true, 5e-10, {}},
      {"filter2", "bandpass_filter_lumped_sim.s2p", true, false, 0.0, {}},
      {"microstrip2", "microstrip_line_sim_lowercase_option.s2p", true, false, 0.0, {}},
      {"microstrip2_delay_z",
       "microstrip_line_sim_lowercase_option.s2p",
       true,
       true,
       1e-9,
       {50, 75}},
      {"measured4_75", "fourport_measured_75ohm.s4p", true, false, 0.0, {}},
      {"coupled4_delay_z", "coupled_lines_diff_2xthru.s4p", true, true, 2e-9, {40, 50, 75, 100}},
      {"coupled4_common_z", "coupled_lines_diff_2xthru.s4p", false, false, 0.0, {25, 50, 50, 90}},
  };
  return cases;
}

// A fitter holding the case's data, fitted.
std::unique_ptr<cCfit> FitCase(const SimulatorCase& c) {
  LogCapture quiet;
  cFitParams params;
  params.individualPoles = c.individualPoles;
  params.extractDelays = c.extractDelays;
  auto fitter = std::make_unique<cCfit>();
  EXPECT_TRUE(fitter->Init(&params));
  const std::string file = RealFile(c.file).string();
  if (c.addedDelay == 0.0 && c.impedances.empty()) {
    EXPECT_GT(fitter->ReadTouchstone(file.c_str()), 0);
  } else {
    cCfit source;
    EXPECT_GT(source.ReadTouchstone(file.c_str()), 0);
    const FitterState& s = source.state();
    const int n = s.network.portCount;
    const std::vector<double> z = c.impedances.empty() ? *s.network.impedances : c.impedances;
    fitter->BeginData(n, s.network.dataType, z.data());
    std::vector<std::vector<double>> rows(static_cast<std::size_t>(n),
                                          std::vector<double>(2 * static_cast<std::size_t>(n)));
    std::vector<double*> pointers;
    for (auto& row : rows) pointers.push_back(row.data());
    for (const PortMatrix& p : s.network.data->points()) {
      const double f = p.frequency();
      const Complex turn = Exp(Complex(0.0, -2.0 * std::numbers::pi * f * c.addedDelay));
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
          const Complex v = p.At(i, j) * turn;
          rows[i][2 * j] = v.re;
          rows[i][2 * j + 1] = v.im;
        }
      }
      DataPointRecord record{f, pointers.data()};
      EXPECT_TRUE(fitter->AddDataPoint(&record));
    }
    fitter->EndData();
  }
  EXPECT_EQ(fitter->Fit(), 1) << Message(*fitter);
  return fitter;
}

void WriteEvaluation(const cCfit& fitter, const std::string& path) {
  const FitterState& s = fitter.state();
  const int n = s.network.portCount;
  const double low = s.network.data->front().frequency();
  const double high = s.network.data->back().frequency();
  constexpr int kPoints = 201;
  std::FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fprintf(out, "ports %d\nz0", n);
  for (double z : *s.network.impedances) std::fprintf(out, " %.17g", z);
  std::fprintf(out, "\npoints %d\n", kPoints);
  for (int k = 0; k < kPoints; ++k) {
    const double f = low + (high - low) * k / (kPoints - 1);
    std::fprintf(out, "%.17g", f);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const Complex h = EvaluateElement(s, i, j, f);
        std::fprintf(out, " %.17g %.17g", h.re, h.im);
      }
    }
    std::fputs("\n", out);
  }
  std::fclose(out);
}

TEST(SimulatorNetlists, FittedRealFilesGiveCompleteNetlists) {
  const char* dump = std::getenv("CFIT_NGSPICE_DUMP");
  ScratchDir scratch;
  for (const SimulatorCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    auto fitter = FitCase(c);
    const FitterState& s = fitter->state();
    ASSERT_TRUE(fitter->HasFit());
    double longest = 0.0;
    for (double tau : s.model->delay) longest = std::max(longest, tau);
    if (c.extractDelays) {
      EXPECT_GT(longest, 0.5 * c.addedDelay);
    } else {
      EXPECT_EQ(longest, 0.0);
    }
    if (!c.impedances.empty()) {
      EXPECT_EQ(*s.network.impedances, c.impedances);
    }

    const std::string stem =
        dump != nullptr ? (std::filesystem::path(dump) / c.name).string() : scratch.Path(c.name);
    const std::string netlist = stem + ".sp";
    LogCapture quiet;
    ASSERT_EQ(fitter->WriteSubcircuit(netlist.c_str()), 1) << Message(*fitter);
    const std::string text = testing::ReadFileBytes(netlist);
    EXPECT_EQ(text.substr(text.size() - 6), ".ends\n");
    EXPECT_EQ(text.find("DELAY") != std::string::npos, longest > 0.0);
    if (dump != nullptr) WriteEvaluation(*fitter, stem + ".eval");
  }
}

}  // namespace
}  // namespace cfit
