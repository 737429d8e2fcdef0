// cfit response: the impulse, step, bit or trapezoid response of a pole
// file's model elements on a time grid, one two-column text file per
// element.
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

const char* const kKinds[] = {"impulse", "step", "bit", "trapezoid"};

int KindCode(const std::string& text) {
  for (int k = 0; k < 4; ++k) {
    if (text == kKinds[k]) return k;
  }
  throw UsageError("--kind needs impulse, step, bit or trapezoid, not '" + text + "'");
}

// "I,J" with 1-based element numbers.
std::pair<int, int> ParseElement(const std::string& text) {
  const auto comma = text.find(',');
  try {
    std::size_t used = 0;
    const std::string row = text.substr(0, comma);
    const std::string column = comma == std::string::npos ? "" : text.substr(comma + 1);
    const int i = std::stoi(row, &used);
    if (used != row.size()) throw std::invalid_argument(row);
    const int j = std::stoi(column, &used);
    if (used != column.size() || i < 1 || j < 1) throw std::invalid_argument(column);
    return {i, j};
  } catch (const std::logic_error&) {
    throw UsageError("--element needs I,J with row and column numbers from 1, not '" + text + "'");
  }
}

std::optional<double> Time(const Arguments& a, const std::string& name) {
  const auto text = a.Text(name);
  if (!text) return std::nullopt;
  return ParseTime(*text, "--" + name);
}

}  // namespace

const CommandDef& ResponseDef() {
  static const CommandDef def = WithCommonOptions(
      {"response",
       "MODEL",
       "write the time response of a pole file's model elements",
       "Reads the model of the pole file MODEL and writes the response of element I,J "
       "(--element; every element when it is not given) to an impulse, a unit step, a bit "
       "(a pulse of --width) or a trapezoid (--rise, --width from the start of the rise to "
       "the start of the fall, --fall), scaled by --amplitude, on the time grid --start, "
       "--start + --step, ... up to --end. The responses are closed forms of the model, "
       "including its delay. Each file holds two columns, time in seconds and value. With "
       "--element the output is -o FILE (default MODEL_KIND.txt beside MODEL); without it, "
       "one file per element named FILE_I_J with the extension of FILE. The Dirac part of a "
       "response (an impulse response's constant, a step response's term proportional to "
       "frequency) cannot be sampled; it is reported instead.\n"
       "\n"
       "Example:\n"
       "  cfit response --element 2,1 --kind trapezoid --rise 20p --width 1n --end 5n "
       "-o tdt.txt line.pls",
       {
           {"output", 'o', "FILE", "Text file to write (one per element without --element)."},
           {"element", 0, "I,J", "The element, row and column from 1 (default: every one)."},
           {"kind", 0, "KIND", "impulse, step, bit or trapezoid (default step)."},
           {"amplitude", 0, "A", "Factor applied to the response (default 1)."},
           {"width", 0, "T", "Bit time, or the trapezoid's width (default 500p)."},
           {"rise", 0, "T", "Rise time of the trapezoid (default 10p)."},
           {"fall", 0, "T", "Fall time of the trapezoid (default 10p)."},
           {"start", 0, "T", "First time of the grid (default 0)."},
           {"end", 0, "T", "Last time of the grid, included (default 10n)."},
           {"step", 0, "T", "Step of the grid (default 1p)."},
       }},
      kLogBesideOutput);
  return def;
}

int RunResponseCommand(const Arguments& a) {
  const fs::path model = a.SingleOperand("the pole file (MODEL)");
  TimeResponseParameters params;
  params.kind = KindCode(a.Text("kind").value_or("step"));
  params.amplitude = a.Number("amplitude", -1e300, 1e300).value_or(1.0);
  params.width = Time(a, "width").value_or(params.width);
  params.riseTime = Time(a, "rise").value_or(params.riseTime);
  params.fallTime = Time(a, "fall").value_or(params.fallTime);
  params.startTime = Time(a, "start").value_or(0.0);
  params.endTime = Time(a, "end").value_or(1e-8);
  params.timeStep = Time(a, "step").value_or(params.timeStep);
  std::optional<std::pair<int, int>> element;
  if (const auto text = a.Text("element")) element = ParseElement(*text);

  const std::optional<std::string> output = a.Text("output");
  const fs::path base =
      output ? fs::path(*output)
             : model.parent_path() / (model.stem().string() + "_" + kKinds[params.kind] + ".txt");
  const std::string logPath = LogPathBeside(a, base);
  PrepareOutputs({model}, {base, logPath});

  LogFile log(logPath, a.Has("verbose"));
  log.Note("cfit response " + model.string() + "\n");
  Fitter fitter = CreateFitter(cFitParams{});
  const int ports = ReadPoleFile(*fitter, model.string());
  if (element && (element->first > ports || element->second > ports)) {
    throw Failure("--element " + std::to_string(element->first) + "," +
                  std::to_string(element->second) + " lies outside the model's " +
                  std::to_string(ports) + " ports");
  }

  struct Written {
    fs::path file;
    int i, j;
  };
  std::vector<Written> files;
  for (int i = 1; i <= ports; ++i) {
    for (int j = 1; j <= ports; ++j) {
      if (element && *element != std::pair(i, j)) continue;
      const fs::path file =
          element ? base
                  : base.parent_path() / (base.stem().string() + "_" + std::to_string(i) + "_" +
                                          std::to_string(j) + base.extension().string());
      files.push_back({file, i, j});
    }
  }
  std::vector<fs::path> targets;
  std::vector<std::string> names;
  for (const Written& w : files) {
    targets.push_back(w.file);
    names.push_back(w.file.string());
  }
  RefuseOverwrite({model}, targets);
  for (const Written& w : files) {
    const std::string name = w.file.string();
    if (fitter->WriteTimeResponse(params, name.c_str(), w.i - 1, w.j - 1) == 0) {
      FailWithLibraryMessage(*fitter, "cannot write the response to " + name, name);
    }
  }
  log.Close();

  long points = 0;
  for (double t = params.startTime; t <= params.endTime; t += params.timeStep) ++points;
  std::cout << kKinds[params.kind] << " response of " << model.filename().string() << " from "
            << FormatTime(params.startTime) << " to " << FormatTime(params.endTime)
            << " in steps of " << FormatTime(params.timeStep) << " (" << points << " points)\n";
  // The Dirac parts the samples leave out, where there are any: at the
  // element's delay, and for a bit again, negated, one bit time later.
  const char type = TypeLetter(fitter->GetDataType());
  for (const Written& w : files) {
    double value = 0, time = 0, weight = 0, d = 0, e = 0, delay = 0;
    int count = 0;
    fitter->GetTimeResponse(params, params.startTime, &value, &time, &weight, w.i - 1, w.j - 1);
    fitter->GetElementModelInfo(w.i - 1, w.j - 1, &count, &d, &e, &delay);
    if (params.kind > 2 || weight == 0.0) continue;
    std::cout << ElementName(type, ports, w.i - 1, w.j - 1) << " also has a Dirac of weight "
              << FormatNumber(weight * params.amplitude) << " at " << FormatTime(delay);
    if (params.kind == 2) {
      std::cout << " and one of weight " << FormatNumber(-weight * params.amplitude) << " at "
                << FormatTime(delay + params.width);
    }
    std::cout << " (not in the file)\n";
  }
  PrintWritten(names, logPath);
  return kExitOk;
}

}  // namespace cfit_tool
