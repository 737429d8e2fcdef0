#include "io/subcircuit_writer.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "io/run_log.h"
#include "io/text_file.h"

namespace cfit {

namespace {

constexpr const char* kWritingOperation = " Writing subckt to ";
// Poles beyond this magnitude (in rad/s) stand for the constant term.
constexpr double kFinitePole = 1e20;
constexpr double kConstantPole = 1e25;

// The scale of port p: its reference impedance when all ports share one
// (every port's scale then cancels out of the waves), else its square root.
double PortScale(const Model& model, int p, bool equalImpedances) {
  const double z0 = (*model.impedances)[static_cast<std::size_t>(p)];
  return equalImpedances ? z0 : std::sqrt(z0);
}

// The wave-conversion circuit of port i (1-based): V0_i senses the port
// current, xv_i carries the incident wave and the pole terms feed the
// reflected wave into y_i.
void WritePortCircuit(OutputFile& file, int i, double z, bool equalImpedances) {
  if (!equalImpedances) {
    file.Print("FI_%d  x_%d  ref  V0_%d  %20.15le\n", i, i, i, (1.0 - z) / z);
  }
  file.Print("V0_%d  x_%d  y_%d  0\n", i, i, i);
  file.Print("RZ_%d  y_%d  ref  %20.15le\n", i, i, z);
  file.Print("FIX_%d  ref  xv_%d  V0_%d  1\n", i, i, i);
  file.Print("GVX_%d  ref  xv_%d  x_%d  ref  %20.15le\n", i, i, i, 1.0 / z);
  file.Print("RV_%d  xv_%d  ref  1\n", i, i);
}

// Pole term k of element (i, j) (1-based) with stored pole p and residue r.
// Returns false for a pole that no stable model holds.
bool WritePoleTerm(OutputFile& file, int i, int j, int k, Complex p, Complex r, bool delayed) {
  const double twoPi = 2.0 * std::acos(-1.0);
  const double a = twoPi * p.re;
  const double b = -twoPi * p.im;
  if (!(a > 0.0) || !(b >= 0.0)) return false;
  // A value that is not a number would reach the simulator as text it
  // cannot read.
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(r.re) || !std::isfinite(r.im)) {
    return false;
  }
  const double rr = r.re;
  const double ri = r.im;
  if (rr == 0.0 && (b == 0.0 || ri == 0.0)) return true;

  if (std::fabs(a) <= kFinitePole && std::fabs(b) <= kFinitePole) {
    if (delayed) {
      file.Print("GS_%d_%d_%d  ref  y_%d  LAPLACE  xdv_%d_%d  ref ", i, j, k, i, i, j);
    } else {
      file.Print("GS_%d_%d_%d  ref  y_%d  LAPLACE  xv_%d  ref ", i, j, k, i, j);
    }
    if (b == 0.0) {
      // a rr / (a + s)
      file.Print("%20.15le / %20.15le  1\n", a * rr, a);
      return true;
    }
    // The pair (D rr + m s) / (D + 2a s + s^2).
    const double d = a * a + b * b;
    const double m = rr * a + ri * b;
    if (m != 0.0) {
      file.Print("%20.15le %20.15le / %20.15le %20.15le  1\n", d * rr, m, d, 2.0 * a);
    } else {
      file.Print("%20.15le / %20.15le %20.15le  1\n", d * rr, d, 2.0 * a);
    }
    return true;
  }

  // The constant term: a plain controlled source.
  if (rr == 0.0) return true;
  if (delayed) {
    file.Print("GS_%d_%d_%d  ref  y_%d  xdv_%d_%d  ref ", i, j, k, i, i, j);
  } else {
    file.Print("GS_%d_%d_%d  ref  y_%d  xv_%d  ref ", i, j, k, i, j);
  }
  file.Print("%20.15le\n", rr);
  return true;
}

// Writes element (i, j) (0-based): the port circuit on the diagonal, the
// delay line and the pole terms. False on a corrupted pole.
bool WriteElement(OutputFile& file, const Model& model, int i, int j, bool equalImpedances) {
  const std::size_t own = model.Index(i, j);
  const bool individual = model.individual();
  static const PoleList kNone;
  const PoleList* poles = &model.commonPoles;
  double tau = 0.0;  // common-pole models carry no delay elements
  if (individual) {
    const std::size_t source = (model.symmetric && i < j) ? model.Index(j, i) : own;
    poles = source < model.elementPoles.size() ? &model.elementPoles[source] : &kNone;
    tau = own < model.delay.size() ? model.delay[own] : 0.0;
  }
  const double d = own < model.constant.size() ? model.constant[own] : 0.0;
  if (!std::isfinite(tau) || !std::isfinite(d)) return false;
  const int row = i + 1;
  const int column = j + 1;
  if (i == j) WritePortCircuit(file, row, PortScale(model, i, equalImpedances), equalImpedances);
  if (tau != 0.0) {
    file.Print("EDV_%d_%d  xdv_%d_%d  ref  DELAY  xv_%d  ref  TD=%20.15le\n", row, column, row,
               column, column, tau);
    file.Print("RDV_%d_%d  xdv_%d_%d  ref 1\n", row, column, row, column);
  }
  const bool delayed = tau > 0.0;

  int k = 0;
  for (const PoleTerm& term : *poles) {
    const Complex r = individual ? term.GetResidue00() : term.GetResidue(i, j);
    if (!WritePoleTerm(file, row, column, ++k, term.GetPole(), r, delayed)) return false;
  }
  if (d != 0.0) {
    WritePoleTerm(file, row, column, ++k, Complex(kConstantPole, 0.0), Complex(d, 0.0), delayed);
  }
  return true;
}

Status WriteNetlist(const std::string& name, const Model& model) {
  // The port circuits need one reference impedance per port.
  if (!model.impedances.has_value() ||
      model.impedances->size() < static_cast<std::size_t>(model.n)) {
    return Failure::Of(ErrorCode::kNoSFit);
  }
  OutputFile file(name.c_str());
  if (!file.is_open()) return Failure::OfFile(ErrorCode::kCannotWriteCircuit, name);
  const int n = model.n;

  file.Print("*** This subcircuit was generated by Korvalis simulation tool ");
  file.Print("%s ***\n", runlog::Timestamp().c_str());
  file.Print("*** Number of ports: %d   ***\n", n);
  file.Print(".subckt %s", NetlistName(name).c_str());
  for (int i = 1; i <= n; ++i) file.Print(" x_%d", i);
  file.Put(" ref\n");

  bool equalImpedances = true;
  for (int p = 1; p < n; ++p) {
    equalImpedances = equalImpedances &&
                      (*model.impedances)[static_cast<std::size_t>(p)] == (*model.impedances)[0];
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (!WriteElement(file, model, i, j, equalImpedances)) return ErrorCode::kCorruptedFit;
    }
  }
  file.Put(".ends\n");
  if (!file.Close()) return Failure::OfFile(ErrorCode::kCannotWriteCircuit, name);
  return Success();
}

}  // namespace

std::string NetlistName(const std::string& fileName) {
  const std::size_t slash = fileName.find_last_of("\\/");
  std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  for (char& c : name) {
    const bool valid =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!valid) c = '_';
  }
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) name = "x" + name;
  return name;
}

Status WriteSubcircuitFile(const std::string& fileName, const Model& model,
                           const RunContext& context) {
  context.StartLine(kWritingOperation, fileName);
  Status result = WriteNetlist(fileName, model);
  context.EndLine(kWritingOperation, fileName);
  return result;
}

}  // namespace cfit
