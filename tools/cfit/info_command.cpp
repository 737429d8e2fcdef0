// cfit info: what a Touchstone file or a pole file holds.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "log_file.h"
#include "passivity_report.h"

namespace cfit_tool {

namespace fs = std::filesystem;

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The words of a Touchstone option line that the library does not report
// back: the frequency unit and the number format, with the same defaults and
// prefix rules as the reader.
struct OptionLine {
  bool found = false;
  std::string text;
  std::string unit = "Hz";
  std::string format = "RI (real, imaginary)";
};

OptionLine ReadOptionLine(const fs::path& path) {
  OptionLine result;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    const char c = line[first];
    if (c == '!' || c == '%' || static_cast<unsigned char>(c) == 0xEF) continue;
    if (c != '#') {
      // A data line (or a keyword of another format) before any option line.
      if (c != '[') break;
      continue;
    }
    result.found = true;
    result.text = line.substr(first);
    std::istringstream words(Upper(line.substr(first + 1)));
    std::string word;
    const auto prefixOf = [](const std::string& w, const char* full) {
      return !w.empty() && std::string(full).compare(0, w.size(), w) == 0;
    };
    if (words >> word) {
      if (prefixOf(word, "GHZ"))
        result.unit = "GHz";
      else if (prefixOf(word, "MHZ"))
        result.unit = "MHz";
      else if (prefixOf(word, "KHZ"))
        result.unit = "kHz";
      else if (prefixOf(word, "HZ"))
        result.unit = "Hz";
      else
        result.unit = word;
    }
    words >> word;  // the parameter type, which the library reports itself
    if (words >> word) {
      if (prefixOf(word, "MA"))
        result.format = "MA (magnitude, angle)";
      else if (prefixOf(word, "DB"))
        result.format = "DB (dB, angle)";
      else if (prefixOf(word, "RI"))
        result.format = "RI (real, imaginary)";
      else
        result.format = word;
    } else {
      result.format = "RI (real, imaginary)";
    }
    break;
  }
  return result;
}

const char* TypeName(int dataType) {
  switch (dataType) {
    case 1: return "S (scattering parameters)";
    case 2: return "Y (admittance parameters)";
    case 3: return "Z (impedance parameters)";
    case 4: return "ABCD (chain parameters)";
    case 5: return "P (pulse model)";
    default: return "unknown";
  }
}

std::string Impedances(cFitAPI& fitter) {
  const int n = fitter.GetPortCount();
  const double* z = fitter.GetReferenceImpedances();
  if (z == nullptr || n <= 0) return "none";
  const bool equal = std::all_of(z, z + n, [&](double v) { return v == z[0]; });
  std::ostringstream out;
  if (equal) {
    out << z[0] << " ohm" << (n > 1 ? " on every port" : "");
  } else {
    for (int p = 0; p < n; ++p) out << (p > 0 ? ", " : "") << z[p];
    out << " ohm (ports 1 to " << n << ")";
  }
  return out.str();
}

void Line(std::ostream& out, const char* label, const std::string& value) {
  std::string padded = std::string(label) + ":";
  padded.resize(std::max<std::size_t>(padded.size() + 1, 13), ' ');
  out << padded << value << "\n";
}

void CommentLines(std::ostream& out, const char* comment) {
  if (comment == nullptr || *comment == '\0') {
    Line(out, "comment", "none");
    return;
  }
  std::istringstream lines(comment);
  std::string line;
  std::vector<std::string> kept;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    kept.push_back(line);
  }
  while (!kept.empty() && kept.back().find_first_not_of(" \t") == std::string::npos) {
    kept.pop_back();
  }
  if (kept.empty()) {
    Line(out, "comment", "none");
    return;
  }
  Line(out, "comment", kept.front());
  for (std::size_t k = 1; k < kept.size(); ++k) out << std::string(13, ' ') << kept[k] << "\n";
}

// "passive, largest measure 0.99 at 75 GHz", judged against 1.
std::string PassivityLine(const PassivityReading& reading) {
  if (!reading.known) return "unknown (" + reading.failure + ")";
  return std::string(reading.measure <= 1.0 ? "passive" : "not passive") + ", largest measure " +
         FormatMeasure(reading.measure) + " at " + FormatSweepFrequency(reading.frequency);
}

void DescribeTouchstone(const fs::path& path, double tolerance, std::ostream& out) {
  // Read without symmetrising so that the file's own asymmetry is measured.
  cFitParams params;
  params.symmetryTolerance = 0.0;
  Fitter fitter = CreateFitter(params);
  ReadTouchstoneFile(*fitter, path.string());
  const std::vector<double> frequencies = SampledFrequencies(*fitter);
  const OptionLine option = ReadOptionLine(path);
  double relative = 0.0, absolute = 0.0;
  fitter->CheckSymmetry(&relative, &absolute);

  Line(out, "file", path.string());
  Line(out, "kind", "Touchstone file");
  Line(out, "ports", std::to_string(fitter->GetPortCount()));
  Line(out, "points", std::to_string(frequencies.size()));
  if (!frequencies.empty()) {
    Line(out, "band",
         FormatFrequency(frequencies.front()) + " to " + FormatFrequency(frequencies.back()));
  }
  Line(out, "data type", TypeName(fitter->GetDataType()));
  Line(out, "format",
       option.found ? option.format + ", frequencies in " + option.unit +
                          " (option line: " + option.text + ")"
                    : "no option line (defaults)");
  Line(out, "reference", Impedances(*fitter));
  std::ostringstream symmetry;
  if (fitter->GetPortCount() == 1) {
    symmetry << "yes (one port)";
  } else if (relative < tolerance) {
    symmetry << "yes, relative asymmetry " << relative << " is below " << tolerance
             << " (fits symmetrise it)";
  } else {
    symmetry << "no, relative asymmetry " << relative << " (absolute " << absolute
             << ") is not below " << tolerance;
  }
  Line(out, "symmetric", symmetry.str());
  Line(out, "passivity", PassivityLine(CheckData(*fitter)));
  CommentLines(out, fitter->GetFileComment());
}

void DescribePoleFile(const fs::path& path, std::ostream& out) {
  Fitter fitter = CreateFitter(cFitParams{});
  const int ports = ReadPoleFile(*fitter, path.string());
  const char type = TypeLetter(fitter->GetDataType());
  const bool symmetric = fitter->IsSymmetric();

  // Pole counts, delays and the span of the pole frequencies, when the
  // library can report them.
  std::ostringstream poles, delays;
  int total = 0, listed = 0, delayed = 0;
  double lowest = 0.0, highest = 0.0;
  bool known = true;
  for (int i = 0; i < ports && known; ++i) {
    for (int j = 0; j < ports; ++j) {
      if (symmetric && j > i) continue;
      int count = 0;
      double constant = 0.0, proportional = 0.0, delay = 0.0;
      if (fitter->GetElementModelInfo(i, j, &count, &constant, &proportional, &delay) == 0) {
        known = false;
        break;
      }
      total += count;
      if (listed++ < 16) {
        poles << (listed > 1 ? ", " : "") << ElementName(type, ports, i, j) << " " << count;
      }
      if (delay != 0.0 && delayed++ < 16) {
        delays << (delayed > 1 ? ", " : "") << ElementName(type, ports, i, j) << " "
               << FormatTime(delay);
      }
      std::vector<double> p(2 * static_cast<std::size_t>(std::max(count, 0)) + 2);
      std::vector<double> r(p.size());
      const int copied = count > 0 ? fitter->GetElementPolesResidues(i, j, p.data(), r.data()) : 0;
      for (int k = 0; k < std::min(copied, count); ++k) {
        const double f = std::hypot(p[2 * k], p[2 * k + 1]);
        if (lowest == 0.0 || f < lowest) lowest = f;
        highest = std::max(highest, f);
      }
    }
  }

  Line(out, "file", path.string());
  Line(out, "kind", "pole file (a fitted model)");
  Line(out, "ports", std::to_string(ports));
  Line(out, "points", "none (a model has no sampled points; 'cfit sweep' makes some)");
  if (known && highest > 0.0) {
    Line(out, "band", "poles from " + FormatFrequency(lowest) + " to " + FormatFrequency(highest));
  }
  Line(out, "data type", TypeName(fitter->GetDataType()));
  Line(out, "format", "pole file: poles and residues per element");
  Line(out, "reference", Impedances(*fitter));
  Line(out, "symmetric", symmetric ? "yes" : "no");
  if (known) {
    if (listed > 16) poles << ", ...";
    Line(out, "poles",
         std::to_string(total) + " in all" + (symmetric && ports > 1 ? " (lower triangle)" : "") +
             ": " + poles.str());
    if (delayed > 16) delays << ", ...";
    Line(out, "delays", delayed == 0 ? std::string("none") : delays.str());
  }
  Line(out, "passivity", PassivityLine(CheckModel(*fitter)));
  CommentLines(out, fitter->GetFileComment());
}

}  // namespace

const CommandDef& InfoDef() {
  static const CommandDef def = WithCommonOptions(
      {"info",
       "FILE",
       "describe a Touchstone file or a pole file",
       "Reads FILE, a Touchstone file or a pole file (.pls), and prints its port count, "
       "number of points and frequency band, data type, number format, reference "
       "impedances, whether the matrix is symmetric (reciprocal), its passivity and its "
       "header comment. For a pole file it also gives the pole count and delay of every "
       "element.\n"
       "\n"
       "The passivity line gives the largest passivity measure of the data (at every "
       "point) or of the model (swept adaptively, up to infinite frequency) and where it "
       "occurs: the square of the largest singular value for S parameters, 1 minus the "
       "smallest eigenvalue of the Hermitian part for Y or Z; the network is passive where "
       "it is at most 1. 'cfit check' gives the bands where it is not.\n"
       "\n"
       "The kind of file is taken from its extension: .pls is a pole file, anything else "
       "a Touchstone file; --as overrides that.",
       {
           {"as", 0, "KIND", "Read FILE as 'touchstone' or 'poles' whatever its extension."},
           {"symmetry-tolerance", 0, "X",
            "Relative asymmetry below which a Touchstone matrix counts as symmetric "
            "(default 0.005, as in a fit)."},
       }},
      "Keep the library's run log in FILE (by default it is discarded).");
  return def;
}

int RunInfoCommand(const Arguments& a) {
  const fs::path path = a.SingleOperand("the file to describe (FILE)");
  const bool poles = ReadsAsPoleFile(a, path);
  const double tolerance = a.Number("symmetry-tolerance", 0.0, 1.0).value_or(0.005);

  const std::string logPath = a.Text("log").value_or(std::string());
  RequireFile(path);
  RefuseOverwrite({path}, {logPath});
  std::ostringstream report;
  {
    LogFile log(logPath, a.Has("verbose"));
    if (poles) {
      DescribePoleFile(path, report);
    } else {
      DescribeTouchstone(path, tolerance, report);
    }
  }
  std::cout << report.str();
  return kExitOk;
}

}  // namespace cfit_tool
