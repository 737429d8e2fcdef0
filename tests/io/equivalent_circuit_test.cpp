// The equivalent-circuit netlist: its refusals, names that stay valid and
// distinct at 120 ports, state values of order 1 for poles from kHz to
// hundreds of GHz, and the netlists of models fitted to real files that
// equivalent_circuit_ngspice.py simulates in ngspice (AC and transient).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <numbers>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/network.h"
#include "fit/state_space.h"
#include "io/equivalent_circuit_writer.h"
#include "io_support.h"
#include "timedomain/time_response.h"

namespace cfit {
namespace {

using namespace testing;

Model OnePoleModel(int n, int type, Complex pole, Complex residue) {
  Model m = Model::Empty(n);
  m.dataType = type;
  m.impedances = std::vector<double>(static_cast<std::size_t>(n), 50.0);
  m.elementPoles[0].emplace_back().SetPole(pole);
  m.elementPoles[0].back().SetResidue00(residue);
  return m;
}

TEST(EquivalentCircuit, RefusesWhatItCannotWrite) {
  Model pulse = OnePoleModel(1, kPulse, {1e9, 0}, {1, 0});
  Model noImpedance = OnePoleModel(1, kS, {1e9, 0}, {1, 0});
  noImpedance.impedances.reset();
  Model zeroImpedance = OnePoleModel(2, kS, {1e9, 0}, {1, 0});
  (*zeroImpedance.impedances)[1] = 0.0;
  const struct {
    const char* name;
    Model model;
    std::string file;
    ErrorCode code;
  } cases[] = {
      {"pulse model", pulse, Path("p.cir"), ErrorCode::kUnknownDataType},
      {"S without impedances", noImpedance, Path("s.cir"), ErrorCode::kInvalidImpedance},
      {"S with a zero impedance", zeroImpedance, Path("s.cir"), ErrorCode::kInvalidImpedance},
      {"unstable pole", OnePoleModel(1, kY, {-1e9, 0}, {1, 0}), Path("y.cir"),
       ErrorCode::kCorruptedFit},
      {"unwritable file", OnePoleModel(1, kZ, {1e9, 0}, {1, 0}), "/dev/full",
       ErrorCode::kCannotWriteCircuit},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Status s = WriteEquivalentCircuitFile(c.file, c.model, nullptr);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.failure().code, c.code);
    if (c.code == ErrorCode::kCannotWriteCircuit) {
      EXPECT_EQ(s.failure().file, c.file);
    }
  }
}

// A 120-port common-pole S model with poles from 1 kHz to 300 GHz, with a
// proportional term: every element name is distinct (simulators compare
// names without case), every node and the subcircuit name is a valid name,
// every line an element of R, C, E, F, G, H, V or T, and the state elements'
// conductances and gains stay within a few decades of 1.
TEST(EquivalentCircuit, NamesAndStateValuesHoldAtManyPortsAndWidePoles) {
  const int n = 120;
  Model m = Model::Empty(n);
  m.dataType = kS;
  m.shape = PoleShape::kCommon;
  m.impedances = std::vector<double>(n, 50.0);
  for (double p : {1e3, 1e6, 1e9, 3e11}) {
    for (bool pair : {false, true}) {
      PoleTerm& t = m.commonPoles.emplace_back(n);
      t.SetPole(p, pair ? -4.0 * p : 0.0);
      for (int e = 0; e < n * n; e += 7) t.SetResidue(e / n, e % n, {0.01, pair ? 0.02 : 0.0});
    }
  }
  m.proportional[5] = 1e-12;
  ElementTable elements(n, kS);
  elements.SetAsymptote(kConstantAndProportional, 0, 5, 0.0, false);
  auto text = EquivalentCircuitText(m, &elements, "9-bad name.s120p");
  ASSERT_TRUE(text.ok());
  const std::regex name("[A-Za-z][A-Za-z0-9_]*");
  std::set<std::string> seen;
  int lines = 0, clashes = 0, badNames = 0, outOfRange = 0, capacitors = 0;
  std::istringstream in(*text);
  std::string subckt;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '*' || line[0] == '+') continue;
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w[0] == ".subckt") subckt = w[1];
    if (w[0][0] == '.') continue;
    ++lines;
    std::string lower = w[0];
    for (char& c : lower) c = static_cast<char>(std::tolower(c));
    clashes += !seen.insert(lower).second;
    badNames += std::string("RCEFGHVT").find(w[0][0]) == std::string::npos;
    for (std::size_t k = 1; k < w.size(); ++k) {
      const bool number = std::isdigit(static_cast<unsigned char>(w[k][0])) || w[k][0] == '-' ||
                          w[k].find('=') != std::string::npos;
      if (!number && w[k] != "ref" && w[k] != "0") badNames += !std::regex_match(w[k], name);
    }
    // The states' conductances, feeds and couplings: a value of order 1.
    if (w[0].starts_with("RX_") || w[0].starts_with("GX_") || w[0].starts_with("GW_")) {
      const double v = std::fabs(std::stod(w.back()));
      outOfRange += !(v >= 1e-3 && v <= 1e3);
    }
    capacitors += w[0][0] == 'C';
  }
  EXPECT_EQ(clashes + badNames + outOfRange, 0);
  EXPECT_TRUE(std::regex_match(subckt, name)) << subckt;
  // One state per real pole and two per pair, per input port; one
  // capacitor each, and one for the proportional term.
  EXPECT_EQ(capacitors, n * 12 + 1);
  EXPECT_GT(lines, n * 12 * 2);
}

// ---------------------------------------------------------------------------
// Each case fits a real file (or data made from one: delayed by a pure delay,
// given other reference impedances, converted to Y or Z) and writes its
// equivalent circuit. With CFIT_EQC_DUMP naming a folder the test leaves
// there, per case, the netlist <case>.cir (subcircuit <case>) and the
// model's evaluation <case>.eval on linear sweeps across the data band and
// beyond each end of it:
//
//   type S|Y|Z
//   ports N
//   z0 Z0_1 ... Z0_N
//   sweeps count start stop ...  (f = start + k (stop - start) / (count - 1))
//   points K
//   f Re H11 Im H11 Re H12 Im H12 ... (K lines, elements row by row)
//
// Where the folder also holds <case>.times (one time a line), the test
// writes <case>.resp: the closed-form responses (timedomain) of every
// element (m, 1) at those times to a unit step of 20 ps rise and to a unit
// trapezoid of 20 ps rise, fall beginning at 100 ps and 30 ps fall.

const ChangedFile kEqcCases[] = {
    {"ring1", "ring_slot_measured.s1p", true, 0.0, {}, kS},
    {"filter2", "bandpass_filter_lumped_sim.s2p", true, 0.0, {}, kS},
    {"microstrip2_delay_z", "microstrip_line_sim_lowercase_option.s2p", true, 1e-9, {50, 75}, kS},
    {"coupled4_delay_z", "coupled_lines_diff_2xthru.s4p", true, 2e-9, {40, 50, 75, 100}, kS},
    {"coupled4_common_z", "coupled_lines_diff_2xthru.s4p", false, 0.0, {25, 50, 50, 90}, kS},
    {"package8_common", "package_8port_sim.s8p", false, 0.0, {}, kS},
    {"measured4_common", "fourport_measured_75ohm.s4p", false, 0.0, {}, kS},
    {"filter2_y", "bandpass_filter_lumped_sim.s2p", true, 0.0, {}, kY},
    {"lowpass2_z", "lowpass_filter_measured.s2p", true, 0.0, {}, kZ},
    {"transformer4_y_common", "transformer_4port_sim.s4p", false, 0.0, {}, kY},
    {"ring1_passive", "ring_slot_measured.s1p", true, 0.0, {}, kS, true},
};

// The grids an AC analysis sweeps: the data frequencies as runs of evenly
// spaced points (one run per spacing; the files of the cases have one to
// five), and ten points beyond each end of the band.
struct Sweep {
  int count;
  double start, stop;
};
std::vector<Sweep> Sweeps(const FitterState& s) {
  std::vector<double> f;
  for (ConstMatrixView p : s.network.data->points()) f.push_back(p.frequency());
  std::vector<Sweep> sweeps;
  if (f.front() > 0.0) sweeps.push_back({10, 0.01 * f.front(), 0.9 * f.front()});
  for (std::size_t k = 0; k < f.size();) {
    std::size_t last = k + 1 < f.size() ? k + 1 : k;
    const double step = f[last] - f[k];
    while (last + 1 < f.size() && std::fabs(f[last + 1] - f[last] - step) <= 1e-9 * step) ++last;
    sweeps.push_back({static_cast<int>(last - k + 1), f[k], f[last]});
    k = last + 1;
  }
  sweeps.push_back({10, 1.1 * f.back(), 10.0 * f.back()});
  return sweeps;
}

void WriteEvaluation(const FitterState& s, const std::string& path) {
  const int n = s.network.portCount;
  const std::vector<Sweep> sweeps = Sweeps(s);
  std::ofstream out(path);
  out.precision(17);
  out << "type "
      << "-SYZ"[s.network.dataType] << "\nports " << n << "\nz0";
  for (int p = 0; p < n; ++p)
    out << " " << (s.network.impedances ? (*s.network.impedances)[p] : 50);
  out << "\nsweeps";
  int points = 0;
  for (const Sweep& w : sweeps) {
    out << " " << w.count << " " << w.start << " " << w.stop;
    points += w.count;
  }
  double slowest = 0.0;  // the slowest time constant of the poles, seconds
  for (int i = 0; i < n; ++i) {
    slowest = std::max(slowest, 1.0 / (2 * std::numbers::pi * PoleRange(s, i).low * 4.0));
  }
  out << "\nslowest " << slowest << "\npoints " << points;
  for (const Sweep& w : sweeps) {
    for (int k = 0; k < w.count; ++k) {
      const double f = w.count == 1 ? w.start : w.start + k * (w.stop - w.start) / (w.count - 1);
      out << "\n" << f;
      for (int e = 0; e < n * n; ++e) {
        const Complex h = EvaluateElement(s, e / n, e % n, f);
        out << " " << h.re << " " << h.im;
      }
    }
  }
  out << "\n";
}

// The closed-form responses of elements (m, 1) at the times of <stem>.times
// into <stem>.resp: per time the N step responses, then the N trapezoid
// responses (see above).
void WriteResponses(const FitterState& s, const std::string& stem) {
  const int n = s.network.portCount;
  TimeResponseParameters step{.kind = 3, .riseTime = 20e-12, .fallTime = 1.0};
  step.width = 1.0;  // beyond every time: a step of 20 ps rise
  TimeResponseParameters trapezoid{.kind = 3, .riseTime = 20e-12, .fallTime = 30e-12};
  trapezoid.width = 100e-12;
  std::vector<TimeDomainElement> elements;
  for (int m = 0; m < n; ++m) elements.push_back(TimeDomainElementOf(ViewOf(s), m, 0));
  std::ifstream times(stem + ".times");
  std::ofstream out(stem + ".resp");
  out.precision(17);
  for (double t; times >> t;) {
    for (const TimeResponseParameters* p : {&step, &trapezoid}) {
      for (const TimeDomainElement& e : elements)
        out << EvaluateTimeResponse(e, *p, t).value << " ";
    }
    out << "\n";
  }
}

// Largest |H_realisation - H_model| over every element at 0 Hz, across the
// band and beyond it, relative to the model's scale: the largest of |H| and
// of the sum of |d| and the terms' |R| of an element (the model's own values
// are only defined to the rounding of its largest terms, which cancel in a
// common-pole fit of nearly lossless lines).
double RelativeMismatch(const Model& model, const ElementTable* elements, const StateSpace& ss) {
  Model undelayed = model;
  std::fill(undelayed.delay.begin(), undelayed.delay.end(), 0.0);
  const ModelView view{&undelayed, elements, undelayed.individual(), undelayed.symmetric};
  double worst = 0.0, scale = 0.0;
  for (int e = 0; e < model.n * model.n; ++e) {
    const int i = e / model.n, j = e % model.n;
    double terms = std::fabs(model.constant[static_cast<std::size_t>(e)]);
    const std::size_t source = model.symmetric && i < j ? model.Index(j, i) : model.Index(i, j);
    for (const PoleTerm& t : model.individual() ? model.elementPoles[source] : model.commonPoles) {
      terms += Abs(model.individual() ? t.GetResidue00() : t.GetResidue(i, j));
    }
    scale = std::max(scale, terms);
  }
  for (double f : {0.0, 1e3, 1e6, 1e8, 3e8, 1e9, 2.5e9, 7e9, 2e10, 6e10, 3e11, 1e13}) {
    const std::vector<Complex> h = EvaluateRealization(ss, f);
    for (int e = 0; e < model.n * model.n; ++e) {
      const Complex want = EvaluateElement(view, e / model.n, e % model.n, f);
      worst = std::max(worst, Abs(h[static_cast<std::size_t>(e)] - want));
      scale = std::max(scale, Abs(want));
    }
  }
  return worst / scale;
}

// The netlists of the real-file cases; the realisation they are written
// from evaluates as the model (delays removed), dense and sparse, with one
// state per real pole and two per pair per input port for common poles.
TEST(EquivalentCircuit, FittedRealFilesGiveNetlists) {
  bool symmetric = false, proportional = false;
  const char* dump = std::getenv("CFIT_EQC_DUMP");
  for (const ChangedFile& c : kEqcCases) {
    SCOPED_TRACE(c.name);
    auto fitter = FitChangedFile(c);
    ASSERT_TRUE(fitter->HasFit());
    const FitterState& s = fitter->state();
    const std::string stem = dump != nullptr ? std::string(dump) + "/" + c.name : Path(c.name);
    const Status written =
        WriteEquivalentCircuitFile(stem + ".cir", *s.model, s.network.elements.get(), c.name);
    ASSERT_TRUE(written.ok());
    const std::string text = ReadFileBytes(stem + ".cir");
    const Model& model = *s.model;
    auto dense = Realize(model, s.network.elements.get());
    auto sparse = Realize(model, s.network.elements.get(), false);
    ASSERT_TRUE(dense.ok() && sparse.ok());
    EXPECT_LT(RelativeMismatch(model, s.network.elements.get(), *dense), 1e-12);
    EXPECT_LT(RelativeMismatch(model, s.network.elements.get(), *sparse), 1e-12);
    EXPECT_TRUE(sparse->a.empty() && sparse->b.empty() && sparse->c.empty());
    int perList = 0;
    for (const PoleTerm& t : model.commonPoles) perList += t.IsReal() ? 1 : 2;
    EXPECT_TRUE(model.individual() || dense->states == model.n * perList);
    symmetric = symmetric || model.symmetric;
    for (double x : dense->e) proportional = proportional || x != 0.0;
    double longest = 0.0;
    for (double tau : s.model->delay) longest = std::max(longest, tau);
    EXPECT_TRUE(c.addedDelay > 0.0 ? longest > 0.5 * c.addedDelay : longest == 0.0) << longest;
    EXPECT_EQ(text.find("TD=") != std::string::npos, longest > 0.0);
    if (dump != nullptr) WriteEvaluation(s, stem + ".eval");
    if (dump != nullptr && std::ifstream(stem + ".times")) WriteResponses(s, stem);
  }
  EXPECT_TRUE(symmetric && proportional);
}

}  // namespace
}  // namespace cfit
