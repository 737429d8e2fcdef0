// The port steps of `cfit convert`: new reference impedances, ports ended by
// loads, ports joined in parallel, ports reordered, and the voltage transfer
// from a source to a load.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "common.h"
#include "convert_steps.h"

namespace cfit_tool {

namespace {

// The words of a comma-separated list; an empty value has none.
std::vector<std::string> Words(const std::string& value) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (!value.empty()) {
    const std::size_t comma = value.find(',', start);
    words.push_back(value.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return words;
}

// A finite number, or a UsageError naming the step and what it needs.
double NumberOf(const std::string& word, const std::string& option, const char* needs) {
  char* end = nullptr;
  const double x = std::strtod(word.c_str(), &end);
  if (word.empty() || *end != '\0' || !std::isfinite(x)) {
    throw UsageError("--" + option + " needs " + needs + ", not '" + word + "'");
  }
  return x;
}

// Port numbers from 1 to the fitter's port count, as 0-based indices.
std::vector<int> PortIndices(const ConvertTarget& target, const std::string& option,
                             const std::string& value) {
  const int ports = target.fitter.GetPortCount();
  std::vector<int> indices;
  for (const std::string& word : Words(value)) {
    char* end = nullptr;
    const long n = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || n < 1 || n > ports) {
      throw UsageError("--" + option + " needs port numbers from 1 to " + std::to_string(ports) +
                       " separated by commas, not '" + value + "'");
    }
    indices.push_back(static_cast<int>(n - 1));
  }
  return indices;
}

void Renormalize(ConvertTarget& target, const std::string& value) {
  const char* needs = "one impedance in ohms above 0, or one per port (Z1,Z2,...)";
  std::vector<double> z;
  for (const std::string& word : Words(value)) {
    z.push_back(NumberOf(word, "renormalize", needs));
    if (!(z.back() > 0.0)) throw UsageError(std::string("--renormalize needs ") + needs);
  }
  const int ports = target.fitter.GetPortCount();
  if (z.empty() || (z.size() > 1 && z.size() != static_cast<std::size_t>(ports))) {
    throw UsageError(std::string("--renormalize needs ") + needs + "; the input has " +
                     std::to_string(ports) + " ports");
  }
  const int changed = z.size() == 1 ? target.fitter.SetReferenceImpedance(z[0])
                                    : target.fitter.ChangeReferenceImpedances(z.data());
  if (changed != 0) return;
  if (target.model && LibraryMessage(target.fitter).empty()) {
    throw Failure("cannot renormalise an S model without its data (--renormalize " + value +
                  "); renormalise the data before the fit");
  }
  FailWithLibraryMessage(target.fitter, "cannot renormalise (--renormalize " + value + ")");
}

void Terminate(ConvertTarget& target, const std::string& value) {
  const int ports = target.fitter.GetPortCount();
  const std::string letters = "somk";  // short, open, matched, keep: codes 0 to 3
  std::vector<int> codes;
  bool known = true;
  for (char c : value) {
    if (c == ',') continue;
    const std::size_t code = letters.find(static_cast<char>(std::tolower(c)));
    known = known && code != std::string::npos;
    codes.push_back(static_cast<int>(code));
  }
  if (!known || codes.size() != static_cast<std::size_t>(ports)) {
    throw UsageError("--terminate needs one letter per port (" + std::to_string(ports) +
                     "), k keep, s short, o open, m matched (such as k,k,m,s), not '" + value +
                     "'");
  }
  if (target.fitter.TerminatePorts(codes.data()) == 0) {
    FailWithLibraryMessage(target.fitter, "cannot terminate ports (--terminate " + value + ")");
  }
}

void Combine(ConvertTarget& target, const std::string& value) {
  const int ports = target.fitter.GetPortCount();
  std::vector<unsigned char> join(static_cast<std::size_t>(ports), 0);
  for (int k : PortIndices(target, "combine", value)) join[k] = 1;
  const long at = target.arguments.Integer("at", 0, ports).value_or(0);
  if (target.fitter.CombinePorts(join.data(), static_cast<int>(at)) == 0) {
    FailWithLibraryMessage(target.fitter, "cannot combine ports (--combine " + value + ")");
  }
}

void Reorder(ConvertTarget& target, const std::string& value) {
  const int ports = target.fitter.GetPortCount();
  const std::vector<int> perm = PortIndices(target, "reorder", value);
  if (perm.size() != static_cast<std::size_t>(ports) ||
      target.fitter.ReorderPorts(perm.data()) == 0) {
    throw UsageError("--reorder needs each port number from 1 to " + std::to_string(ports) +
                     " once (new port k is old port k of the list), not '" + value + "'");
  }
}

void Transfer(ConvertTarget& target, const std::string& value) {
  const char* needs =
      "RS,GL[,ORDER]: a source resistance in ohms, a load conductance in "
      "siemens and, for a 4-port, the port order";
  const std::vector<std::string> words = Words(value);
  if (words.size() != 2 && words.size() != 3) {
    throw UsageError(std::string("--transfer needs ") + needs + ", not '" + value + "'");
  }
  const double rs = NumberOf(words[0], "transfer", needs);
  const double gl = NumberOf(words[1], "transfer", needs);
  const double order = words.size() == 3 ? NumberOf(words[2], "transfer", needs) : 1324.0;
  if (order != std::floor(order) || std::abs(order) > 1e9) {
    throw UsageError(std::string("--transfer needs ") + needs + ", not '" + value + "'");
  }
  if (target.fitter.VoltageTransferFunction(rs, gl, static_cast<int>(order)) == 0) {
    FailWithLibraryMessage(target.fitter,
                           "cannot form the voltage transfer (--transfer " + value + ")");
  }
}

}  // namespace

std::vector<ConvertStep> PortSteps() {
  return {
      {{"renormalize", 0, "Z[,Z2,...]",
        "Step: new reference impedances in ohms, one for every port or one per port; S data "
        "are renormalised (an S model is dropped), Y and Z keep their values."},
       Renormalize},
      {{"terminate", 0, "CODES",
        "Step: one letter per port, k keep, s short, o open, m matched (such as k,k,m,s); the "
        "kept ports remain, in their order."},
       Terminate},
      {{"combine", 0, "P1,P2,...",
        "Step: join the ports (equal reference impedances) in parallel into one new port at "
        "the position --at gives; its impedance is theirs divided by their count."},
       Combine},
      {{"reorder", 0, "P1,...,PN",
        "Step: new port k is old port Pk (every port once); the model moves along."},
       Reorder},
      {{"transfer", 0, "RS,GL[,ORDER]",
        "Step: the voltage transfer of a 2- or 4-port driven from 1 V behind RS ohms into a "
        "load of GL siemens, as a 1-port. For a 4-port (differential, across port pairs) "
        "ORDER 1324 (the default) takes ports 1, 2 as the input pair and 3, 4 as the output "
        "pair; any other value takes 1, 3 and 2, 4."},
       Transfer},
  };
}

std::vector<OptionDef> PortStepModifiers() {
  return {{"at", 0, "K",
           "With --combine: the 0-based position of the joined port among the ports that stay "
           "(default 0, the first)."}};
}

}  // namespace cfit_tool
