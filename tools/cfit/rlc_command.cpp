// cfit rlc: the model of R, L and C in series, built from the component
// values and written as a pole file.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "log_file.h"

namespace cfit_tool {

namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.141592653589793;
// Largest residue magnitude a pole file holds.
constexpr double kLargestFileResidue = 1e20;

}  // namespace

double ParseComponentValue(const std::string& text, const std::string& what) {
  const char* start = text.c_str();
  char* end = nullptr;
  const double number = std::strtod(start, &end);
  const std::string suffix(end != nullptr && end != start ? end : start);
  double scale = 0.0;
  if (end == start) {
    scale = 0.0;
  } else if (suffix.empty()) {
    scale = 1.0;
  } else if (suffix == "M" || suffix == "meg" || suffix == "Meg" || suffix == "MEG") {
    scale = 1e6;
  } else if (suffix.size() == 1) {
    switch (suffix[0]) {
      case 'f':
      case 'F': scale = 1e-15; break;
      case 'p':
      case 'P': scale = 1e-12; break;
      case 'n':
      case 'N': scale = 1e-9; break;
      case 'u':
      case 'U': scale = 1e-6; break;
      case 'm': scale = 1e-3; break;
      case 'k':
      case 'K': scale = 1e3; break;
      case 'g':
      case 'G': scale = 1e9; break;
      case 't':
      case 'T': scale = 1e12; break;
      default: break;
    }
  }
  const double value = number * scale;
  if (scale == 0.0 || !std::isfinite(value) || !(value > 0.0)) {
    throw UsageError(what + " needs a value above 0 such as 10, 4.7k, 1n or 2.2p, not '" + text +
                     "'");
  }
  return value;
}

const CommandDef& RlcDef() {
  static const CommandDef def = WithCommonOptions(
      {"rlc",
       "R L C",
       "write the model of R, L and C in series as a pole file",
       "Builds the 1-port model of a resistor R (ohms), an inductor L (henries) and a "
       "capacitor C (farads) in series, exactly from the component values, and writes it "
       "as a pole file. Values take engineering suffixes: f p n u m k meg (or M) g t, so "
       "10, 4.7k, 1n and 2.2p; m is milli (1m = 0.001) and mega is meg or M.\n"
       "\n"
       "--type chooses what the model describes: z the impedance R + sL + 1/(sC) "
       "(reference impedance R; the pole at 0 Hz is held at 1e-10 Hz, with the residue "
       "1e10/(2 pi C), which a pole file holds only up to 1e20, so for C of at least 16 pF), "
       "y its admittance "
       "(reference impedance R), or s (the default) the reflection (Z - Z0)/(Z + Z0) with "
       "Z0 = R, or Z0 = 2R at critical damping (R = sqrt(L/C)). The report gives the "
       "resonance 1/(2 pi sqrt(LC)), the quality factor sqrt(L/C)/R and the reference "
       "impedance.\n"
       "\n"
       "Example:\n"
       "  cfit rlc 10 1n 2.2p --type y -o tank.pls",
       {
           {"output", 'o', "FILE", "The pole file to write (required)."},
           {"type", 0, "s|y|z", "What the model describes (default s)."},
           {"comment", 0, "TEXT", "Comment written at the head of the pole file."},
       }},
      "Write the library's run log to FILE.");
  return def;
}

int RunRlcCommand(const Arguments& a) {
  const auto& values = a.operands();
  if (values.size() != 3) {
    throw UsageError("needs three values R L C, got " + std::to_string(values.size()));
  }
  const double r = ParseComponentValue(values[0], "R");
  const double l = ParseComponentValue(values[1], "L");
  const double c = ParseComponentValue(values[2], "C");
  const std::string type = a.Text("type").value_or("s");
  const int code = type == "s" ? 1 : type == "y" ? 2 : type == "z" ? 3 : 0;
  if (code == 0) throw UsageError("--type takes s, y or z, not '" + type + "'");
  const std::optional<std::string> output = a.Text("output");
  if (!output) throw UsageError("needs -o FILE, the pole file to write");
  const std::string logPath = a.Text("log").value_or(std::string());
  RefuseOverwrite({}, {*output, logPath});
  EnsureDirectory(fs::path(*output).parent_path());

  const std::string comment = a.Text("comment").value_or(std::string());
  double z0 = 0.0;
  {
    LogFile log(logPath, a.Has("verbose"));
    Fitter fitter = CreateFitter(cFitParams{});
    if (a.Has("comment")) fitter->SetOutputComment(comment.c_str());
    if (fitter->BuildRLCModel(r, l, c, code) == 0) {
      FailWithLibraryMessage(*fitter, "cannot build the R-L-C model");
    }
    z0 = fitter->GetReferenceImpedances()[0];
    // A pole file holds residues up to 1e20 in magnitude; the Z model's
    // stand-in for the pole at 0 Hz has the residue 1e10 / (2 pi C).
    int count = 0;
    fitter->GetElementModelInfo(0, 0, &count, nullptr, nullptr, nullptr);
    std::vector<double> poles(2 * count + 2), residues(2 * count + 2);
    fitter->GetElementPolesResidues(0, 0, poles.data(), residues.data());
    for (int k = 0; k < count; ++k) {
      if (std::abs(residues[2 * k]) > kLargestFileResidue ||
          std::abs(residues[2 * k + 1]) > kLargestFileResidue) {
        throw Failure("the model has a residue of " +
                      FormatNumber(std::hypot(residues[2 * k], residues[2 * k + 1])) +
                      ", above the 1e20 a pole file holds (the Z model needs C of at least 16 pF); "
                      "--type s or y describe the same network");
      }
    }
    WritePoleFile(*fitter, *output);
  }
  std::cout << "model:      " << char(std::toupper(type[0])) << " of R = " << FormatNumber(r)
            << " ohm, L = " << FormatNumber(l) << " H, C = " << FormatNumber(c) << " F in series\n"
            << "resonance:  " << FormatFrequency(1.0 / (2.0 * kPi * std::sqrt(l * c))) << "\n"
            << "quality:    " << FormatNumber(std::sqrt(l / c) / r) << "\n"
            << "reference:  " << FormatNumber(z0) << " ohm\n"
            << "wrote:      " << *output << "\n";
  return kExitOk;
}

}  // namespace cfit_tool
