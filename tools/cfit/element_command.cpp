// cfit element: is a 2-port Touchstone file the measurement of one component
// in series or in shunt? For such a component: its resonance, its impedance
// at a few frequencies, and on request its own 1-port data or (shunt) the
// exact shunt-element matrix.
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "log_file.h"

namespace cfit_tool {

namespace fs = std::filesystem;

namespace {

enum class Shape { kSeries, kShunt, kNeither };

// Points shown in the impedance table: the first, the last and three
// between them, evenly spaced by index.
constexpr int kShownPoints = 5;

Fitter ReadInto(const fs::path& path) {
  Fitter fitter = CreateFitter(cFitParams{});
  ReadTouchstoneFile(*fitter, path.string());
  return fitter;
}

// The fitter's data as S parameters (an element file of Y or Z data).
void ToS(cFitAPI& fitter, const fs::path& path) {
  if (fitter.GetDataType() != 1 && fitter.ConvertDataType(1) == 0) {
    FailWithLibraryMessage(fitter, "cannot convert " + path.string() + " to S parameters");
  }
}

Shape ShapeOf(const fs::path& path) {
  Fitter fitter = ReadInto(path);
  if (fitter->GetPortCount() != 2) {
    throw Failure(path.string() + " has " + std::to_string(fitter->GetPortCount()) +
                  " ports; 'cfit element' reads 2-port files");
  }
  // The shape tests know S and one of Y or Z each; S answers both.
  ToS(*fitter, path);
  if (fitter->IsSeriesElement()) return Shape::kSeries;
  if (fitter->IsShuntElement()) return Shape::kShunt;
  return Shape::kNeither;
}

// The element's own 1-port data of `type` (2 Y, 3 Z) in a fitter.
Fitter Extracted(const fs::path& path, Shape shape, int type) {
  Fitter fitter = ReadInto(path);
  const int done = shape == Shape::kSeries ? fitter->ExtractSeriesElement(type)
                                           : fitter->ExtractShuntElement(type);
  if (done == 0) {
    FailWithLibraryMessage(*fitter, "cannot extract the element of " + path.string());
  }
  return fitter;
}

std::string ImpedanceText(double re, double im) {
  char text[64];
  std::snprintf(text, sizeof text, "%12.5g %+12.5g j", re, im);
  return text;
}

}  // namespace

const CommandDef& ElementDef() {
  static const CommandDef def = WithCommonOptions(
      {"element",
       "FILE",
       "tell whether a 2-port Touchstone file is one component in series or in shunt, "
       "and give its resonance and impedance",
       "Reads the 2-port Touchstone file FILE and tells from its first point whether it is "
       "shaped like one component in series between the ports (S11 + S21 = 1) or in shunt "
       "from the line to ground (S21 - S11 = 1), or neither, within 0.01. For a series or "
       "shunt component it reports the resonance (the first frequency where the "
       "component's reactance rises through 0, interpolated between the two points around "
       "it) and the component's impedance at five of the sampled frequencies.\n"
       "\n"
       "--extract z|y -o OUT.s1p writes the component's own impedance (z) or admittance "
       "(y) as a 1-port Touchstone file referenced to port 1's impedance. --idealize -o "
       "OUT.s2p writes shunt data replaced by the exact matrix of a shunt element "
       "(needs equal reference impedances). The library's run log goes nowhere unless "
       "--log names a file.\n"
       "\n"
       "Examples:\n"
       "  cfit element capacitor.s2p\n"
       "  cfit element --extract z -o inductor_z.s1p inductor.s2p",
       {
           {"extract", 0, "z|y", "Write the component's own impedance or admittance."},
           {"idealize", 0, nullptr, "Write shunt data as the exact shunt-element matrix."},
           {"output", 'o', "FILE", "The file --extract or --idealize writes."},
           {"format", 0, "FMT", "Number format of the output: ri, ma or db (default ri)."},
       }},
      "Write the library's run log to FILE.");
  return def;
}

int RunElementCommand(const Arguments& a) {
  const fs::path input = a.SingleOperand("the 2-port Touchstone file (FILE)");
  const std::optional<std::string> extract = a.Text("extract");
  const bool idealize = a.Has("idealize");
  if (extract && *extract != "z" && *extract != "y") {
    throw UsageError("--extract takes z or y, not '" + *extract + "'");
  }
  if (extract && idealize) throw UsageError("--extract and --idealize exclude each other");
  const std::optional<std::string> output = a.Text("output");
  if ((extract || idealize) && !output) {
    throw UsageError(std::string(extract ? "--extract" : "--idealize") + " needs -o FILE");
  }
  if (output && !extract && !idealize) throw UsageError("-o belongs to --extract or --idealize");
  const int format = FormatCode(a.Text("format").value_or("ri"));
  const std::string logPath = a.Text("log").value_or(std::string());
  RequireFile(input);
  RefuseOverwrite({input}, {output.value_or(std::string()), logPath});
  if (output) EnsureDirectory(fs::path(*output).parent_path());

  std::ostringstream report;
  {
    LogFile log(logPath, a.Has("verbose"));
    const Shape shape = ShapeOf(input);
    report << "file:       " << input.string() << "\n"
           << "element:    "
           << (shape == Shape::kSeries  ? "series (one impedance between port 1 and port 2)"
               : shape == Shape::kShunt ? "shunt (one impedance from the line to ground)"
                                        : "neither series nor shunt")
           << "\n";
    if (shape == Shape::kNeither && (extract || idealize)) {
      throw Failure(input.string() + " is neither a series nor a shunt element; nothing written");
    }
    if (idealize && shape != Shape::kShunt) {
      throw Failure("--idealize needs shunt data; " + input.string() + " is a series element");
    }
    if (shape != Shape::kNeither) {
      Fitter s = ReadInto(input);
      ToS(*s, input);
      double crossing = 0.0;
      report << "resonance:  "
             << (s->FindReactanceZeroCrossing(&crossing) != 0
                     ? FormatFrequency(crossing) + " (the reactance rises through 0)"
                     : std::string("none (the reactance does not rise through 0 in the data)"))
             << "\n";
      Fitter z = Extracted(input, shape, 3);
      std::vector<std::pair<double, std::complex<double>>> points;
      for (DataPointRecord* r = z->GetFirstDataPoint(); r != nullptr; r = z->GetNextDataPoint()) {
        points.emplace_back(r->frequency, std::complex<double>(r->values[0][0], r->values[0][1]));
      }
      report << "impedance:  (ohms)\n";
      const std::size_t n = points.size();
      std::size_t last = n;
      for (int k = 0; k < kShownPoints && n > 0; ++k) {
        const std::size_t index = static_cast<std::size_t>(k) * (n - 1) / (kShownPoints - 1);
        if (index == last) continue;
        last = index;
        char frequency[32];
        std::snprintf(frequency, sizeof frequency, "%12s",
                      FormatFrequency(points[index].first).c_str());
        report << "  " << frequency << "  "
               << ImpedanceText(points[index].second.real(), points[index].second.imag()) << "\n";
      }
    }
    if (extract || idealize) {
      Fitter out = extract ? Extracted(input, shape, *extract == "y" ? 2 : 3) : ReadInto(input);
      if (idealize) ToS(*out, input);
      if (idealize && out->IdealizeShuntElement() == 0) {
        FailWithLibraryMessage(*out, "cannot idealize " + input.string());
      }
      WriteTouchstoneFile(*out, *output, format);
      report << "wrote:      " << *output << "\n";
    }
  }
  std::cout << report.str();
  return kExitOk;
}

}  // namespace cfit_tool
