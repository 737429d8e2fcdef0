// The mode steps of `cfit convert`: mixed-mode and standard-mode conversion of
// a 4-port, and conversion between parameter types.
#include <cstdlib>
#include <string>
#include <vector>

#include "common.h"
#include "convert_steps.h"

namespace cfit_tool {

namespace {

// Four whole numbers separated by commas, as "1,3,2,4".
std::vector<int> PortNumbers(const std::string& option, const std::string& value) {
  std::vector<int> numbers;
  std::size_t start = 0;
  while (numbers.size() < 5) {
    const std::size_t comma = value.find(',', start);
    const std::string word = value.substr(start, comma - start);
    char* end = nullptr;
    const long n = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || n < -1000 || n > 1000) break;
    numbers.push_back(static_cast<int>(n));
    if (comma == std::string::npos) {
      if (numbers.size() == 4) return numbers;
      break;
    }
    start = comma + 1;
  }
  throw UsageError("--" + option + " needs four port numbers a,b,c,d (such as 1,3,2,4), not '" +
                   value + "'");
}

void Mixed(ConvertTarget& target, const std::string& value) {
  const std::vector<int> p = PortNumbers("mixed", value);
  if (target.fitter.ConvertToMixedMode(p[0], p[1], p[2], p[3]) == 0) {
    FailWithLibraryMessage(target.fitter, "cannot convert to mixed mode (--mixed " + value + ")");
  }
}

void Standard(ConvertTarget& target, const std::string& value) {
  const std::vector<int> p = PortNumbers("standard", value);
  if (target.fitter.ConvertToStandardMode(p[0], p[1], p[2], p[3]) == 0) {
    FailWithLibraryMessage(target.fitter,
                           "cannot convert to standard mode (--standard " + value + ")");
  }
}

void To(ConvertTarget& target, const std::string& value) {
  std::string lower = value;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  int type = 0;
  if (lower == "s") type = 1;
  if (lower == "y") type = 2;
  if (lower == "z") type = 3;
  if (lower == "abcd") type = 4;
  if (type == 0) throw UsageError("--to needs s, y, z or abcd, not '" + value + "'");
  if (target.fitter.ConvertDataType(type) == 0) {
    FailWithLibraryMessage(target.fitter, "cannot convert to " + lower + " parameters");
  }
}

}  // namespace

std::vector<ConvertStep> ModeSteps() {
  return {
      {{"mixed", 0, "a,b,c,d",
        "Step: to mixed mode, pairs (a, b) and (c, d) of a 4-port (a, c positive)."},
       Mixed},
      {{"standard", 0, "a,b,c,d",
        "Step: from mixed mode back to standard mode, the pairs' terminals at ports a, b, c, d."},
       Standard},
      {{"to", 0, "TYPE",
        "Step: convert the data to s, y, z or abcd parameters (abcd from 2-port S data only)."},
       To},
  };
}

}  // namespace cfit_tool
