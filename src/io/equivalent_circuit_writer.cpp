// The circuit, per port i (reference impedance z, terminal p_i):
//
//   S: p_i -VP_i(0 V, senses the port current I)- n_i -RP_i(z)- o_i
//      -EP_i(2 sqrt(z) b)- ref, so V = z I + 2 sqrt(z) b; the incident wave
//      a = (V + z I) / (2 sqrt(z)) is node a_i, made by EA_i (V / (2 sqrt z))
//      in series with HA_i (I sqrt(z) / 2).
//   Y: a_i copies the port voltage (EA_i); GP_i draws the current b into the
//      port.
//   Z: a_i is the port current (HA_i over the sense source VP_i); EP_i sets
//      the port voltage to b.
//
// The output b_i is the voltage of node b_i across RB_i (1 ohm), into which
// controlled sources feed the currents C x (GC), D u (GD) and the
// proportional term (FE). The input u of element (i, j) is node a_j, or,
// when the element has a delay tau, node u_i_j: a_j sent down a lossless
// 1-ohm line of delay tau, matched at both ends (ET drives it with 2 a_j
// through 1 ohm, RU terminates it).
//
// Each state is a node x_q with a capacitor to ref and a conductance. State
// scaling: a block of pole magnitude |p| (rad/s) has capacitors of 1 / |p|
// farad, so its conductance is |sigma| / |p| <= 1, its feed from the input a
// transconductance of 1 and the coupling of a pair's two states +-omega / |p|
// (<= 1): the node voltages are the input low-passed at gain of order 1 and
// every conductance and gain of the states stays within a few decades of 1
// whatever the pole, from kHz to hundreds of GHz; only the capacitors carry
// the time scale. The proportional term e of element (i, j) is a capacitor
// of |e| / (2 pi) farad charged by a copy of the input, whose current is fed
// to b_i with the sign of e (j f e = s e / (2 pi)).
#include "io/equivalent_circuit_writer.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <numbers>

#include "core/network.h"
#include "fit/state_space.h"
#include "io/subcircuit_writer.h"
#include "io/text_file.h"

namespace cfit {

namespace {

// Appends printf-formatted text.
[[gnu::format(printf, 2, 3)]] void Add(std::string& out, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length > 0)
    out.append(line, static_cast<std::size_t>(std::min<int>(length, sizeof line - 1)));
}

// 15 significant digits.
std::string Value(double x) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", x);
  return text;
}

// The input node of element (i, j), 1-based.
std::string InputNode(const StateSpace& ss, int i, int j) {
  const double tau = ss.delay[static_cast<std::size_t>((i - 1) * ss.ports + (j - 1))];
  return tau > 0.0 ? "u_" + std::to_string(i) + "_" + std::to_string(j) : "a_" + std::to_string(j);
}

void AddPort(std::string& out, int type, int i, double z) {
  if (type == kS) {
    const double root = std::sqrt(z);
    Add(out, "VP_%d p_%d n_%d 0\n", i, i, i);
    Add(out, "RP_%d n_%d o_%d %s\n", i, i, i, Value(z).c_str());
    Add(out, "EP_%d o_%d ref b_%d ref %s\n", i, i, i, Value(2.0 * root).c_str());
    Add(out, "EA_%d a_%d m_%d p_%d ref %s\n", i, i, i, i, Value(0.5 / root).c_str());
    Add(out, "HA_%d m_%d ref VP_%d %s\n", i, i, i, Value(0.5 * root).c_str());
  } else if (type == kY) {
    Add(out, "EA_%d a_%d ref p_%d ref 1\n", i, i, i);
    Add(out, "GP_%d p_%d ref b_%d ref 1\n", i, i, i);
  } else {
    Add(out, "VP_%d p_%d o_%d 0\n", i, i, i);
    Add(out, "EP_%d o_%d ref b_%d ref 1\n", i, i, i);
    Add(out, "HA_%d a_%d ref VP_%d 1\n", i, i, i);
  }
  Add(out, "RB_%d b_%d ref 1\n", i, i);
}

// Which elements read their input: those with states, a constant or a
// proportional term.
std::vector<bool> UsedElements(const StateSpace& ss) {
  const int n = ss.ports;
  std::vector<bool> used(static_cast<std::size_t>(n * n), false);
  for (std::size_t k = 0; k < used.size(); ++k) used[k] = ss.d[k] != 0.0 || ss.e[k] != 0.0;
  for (const StateBlock& block : ss.blocks) {
    for (int i = 0; i < n; ++i) {
      if (block.output < 0 || block.output == i) {
        used[static_cast<std::size_t>(i * n + block.input)] = true;
      }
    }
  }
  return used;
}

void AddDelayLine(std::string& out, int i, int j, double tau) {
  Add(out, "ET_%d_%d t_%d_%d ref a_%d ref 2\n", i, j, i, j, j);
  Add(out, "RT_%d_%d t_%d_%d w_%d_%d 1\n", i, j, i, j, i, j);
  Add(out, "TD_%d_%d w_%d_%d ref u_%d_%d ref Z0=1 TD=%s\n", i, j, i, j, i, j, Value(tau).c_str());
  Add(out, "RU_%d_%d u_%d_%d ref 1\n", i, j, i, j);
}

void AddBlock(std::string& out, const StateSpace& ss, const StateBlock& block) {
  const double magnitude = block.gain;  // |p|
  for (int q = 0; q < block.size; ++q) {
    const int x = block.first + q + 1;
    Add(out, "CX_%d x_%d ref %s\n", x, x, Value(1.0 / magnitude).c_str());
    Add(out, "RX_%d x_%d ref %s\n", x, x, Value(magnitude / -block.sigma).c_str());
  }
  const int first = block.first + 1;
  // The feed from the input: one output's element input for individual
  // poles; a_j (never delayed) for common poles.
  const std::string input = block.output >= 0 ? InputNode(ss, block.output + 1, block.input + 1)
                                              : "a_" + std::to_string(block.input + 1);
  Add(out, "GX_%d ref x_%d %s ref 1\n", first, first, input.c_str());
  if (block.size == 2) {
    Add(out, "GW_%d ref x_%d x_%d ref %s\n", first, first, first + 1,
        Value(block.omega / magnitude).c_str());
    Add(out, "GW_%d ref x_%d x_%d ref %s\n", first + 1, first + 1, first,
        Value(-block.omega / magnitude).c_str());
  }
  for (int i = 0; i < ss.ports; ++i) {
    for (int q = 0; q < block.size; ++q) {
      const double c = block.c[static_cast<std::size_t>(i * block.size + q)];
      if (c == 0.0) continue;
      const int x = block.first + q + 1;
      Add(out, "GC_%d_%d ref b_%d x_%d ref %s\n", i + 1, x, i + 1, x, Value(c).c_str());
    }
  }
}

void AddDirectTerms(std::string& out, const StateSpace& ss, int i, int j) {
  const std::size_t k = static_cast<std::size_t>((i - 1) * ss.ports + (j - 1));
  const std::string input = InputNode(ss, i, j);
  if (ss.d[k] != 0.0) {
    Add(out, "GD_%d_%d ref b_%d %s ref %s\n", i, j, i, input.c_str(), Value(ss.d[k]).c_str());
  }
  if (ss.e[k] != 0.0) {
    Add(out, "EE_%d_%d e_%d_%d ref %s ref 1\n", i, j, i, j, input.c_str());
    Add(out, "VE_%d_%d e_%d_%d k_%d_%d 0\n", i, j, i, j, i, j);
    Add(out, "CE_%d_%d k_%d_%d ref %s\n", i, j, i, j,
        Value(std::fabs(ss.e[k]) / (2.0 * std::numbers::pi)).c_str());
    Add(out, "FE_%d_%d ref b_%d VE_%d_%d %s\n", i, j, i, i, j, ss.e[k] > 0.0 ? "1" : "-1");
  }
}

const char* TypeName(int type) { return type == kS ? "S" : (type == kY ? "Y" : "Z"); }

}  // namespace

Result<std::string> EquivalentCircuitText(const Model& model, const ElementTable* elements,
                                          const std::string& name) {
  const int type = model.dataType;
  if (type != kS && type != kY && type != kZ) return ErrorCode::kUnknownDataType;
  if (type == kS) {
    bool valid = model.impedances.has_value() && model.n > 0 &&
                 model.impedances->size() >= static_cast<std::size_t>(model.n);
    for (int p = 0; valid && p < model.n; ++p) {
      const double z = (*model.impedances)[static_cast<std::size_t>(p)];
      valid = std::isfinite(z) && z > 0.0;
    }
    if (!valid) return ErrorCode::kInvalidImpedance;
  }
  Result<StateSpace> realised = Realize(model, elements, false);
  if (!realised.ok()) return realised.failure();
  const StateSpace& ss = *realised;
  const int n = ss.ports;

  std::string out;
  Add(out, "* Equivalent circuit of a fitted %d-port %s model, %d states\n", n, TypeName(type),
      ss.states);
  Add(out, "* Terminals: p_1 to p_%d, then the reference node ref\n", n);
  Add(out, ".subckt %s", NetlistName(name).c_str());
  for (int i = 1; i <= n; ++i) {
    Add(out, i % 16 == 0 ? "\n+ p_%d" : " p_%d", i);
  }
  out += " ref\n";

  const std::vector<bool> used = UsedElements(ss);
  for (int i = 1; i <= n; ++i) {
    const double z = type == kS ? (*model.impedances)[static_cast<std::size_t>(i - 1)] : 0.0;
    Add(out, "* port %d\n", i);
    AddPort(out, type, i, z);
  }
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      const std::size_t k = static_cast<std::size_t>((i - 1) * n + (j - 1));
      if (ss.delay[k] > 0.0 && used[k]) AddDelayLine(out, i, j, ss.delay[k]);
      AddDirectTerms(out, ss, i, j);
    }
  }
  for (const StateBlock& block : ss.blocks) AddBlock(out, ss, block);
  out += ".ends\n";
  return out;
}

Status WriteEquivalentCircuitFile(const std::string& fileName, const Model& model,
                                  const ElementTable* elements, const std::string& name) {
  Result<std::string> text = EquivalentCircuitText(model, elements, name.empty() ? fileName : name);
  if (!text.ok()) return text.failure();
  OutputFile file(fileName.c_str());
  if (!file.is_open()) return Failure::OfFile(ErrorCode::kCannotWriteCircuit, fileName);
  file.Put(text->c_str());
  if (!file.Close()) return Failure::OfFile(ErrorCode::kCannotWriteCircuit, fileName);
  return Success();
}

}  // namespace cfit
