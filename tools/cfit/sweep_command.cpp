// cfit sweep: a pole file's model evaluated on a frequency grid and written
// as a Touchstone file.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "log_file.h"

namespace cfit_tool {

namespace fs = std::filesystem;

const CommandDef& SweepDef() {
  static const CommandDef def = WithCommonOptions(
      {"sweep",
       "MODEL",
       "evaluate a pole file's model on a frequency grid and write it as a Touchstone file",
       "Reads the model of the pole file MODEL and writes its values as a Touchstone file "
       "(MODEL_sweep.sNp beside MODEL unless --output names it), with the run log beside "
       "it. Give exactly one grid:\n"
       "\n"
       "  --linear START,STOP,STEP   START, START+STEP, ... until STOP is reached\n"
       "  --adaptive STOP            steps that follow the model's changes, up to STOP\n"
       "  --list F1,F2,...           the listed frequencies, rising\n"
       "  --at-data FILE             the frequencies of the Touchstone file FILE\n"
       "\n"
       "Example:\n"
       "  cfit sweep --linear 0,20GHz,10MHz -o line_fine.s2p line.pls",
       {
           {"output", 'o', "FILE", "Touchstone file to write."},
           {"linear", 0, "START,STOP,STEP", "Linear grid (frequencies may carry units)."},
           {"adaptive", 0, "STOP", "Adaptive grid from the lowest pole's range up to STOP."},
           {"tolerance", 0, "T",
            "Largest change between adaptive points, 0.01 to 0.7 (default 0.05)."},
           {"zero-hz", 0, nullptr, "Start the adaptive grid at 0 Hz."},
           {"list", 0, "F1,F2,...", "The frequencies to evaluate, in rising order."},
           {"at-data", 0, "FILE", "Evaluate at the frequencies of the Touchstone file FILE."},
           {"format", 0, "FMT", "Number format of the output: ri, ma or db (default ri)."},
           {"comment", 0, "TEXT", "Comment written at the head of the output file."},
       }},
      kLogBesideOutput);
  return def;
}

int RunSweepCommand(const Arguments& a) {
  const fs::path model = a.SingleOperand("the pole file to sweep (MODEL)");
  const int grids = a.Has("linear") + a.Has("adaptive") + a.Has("list") + a.Has("at-data");
  if (grids != 1) {
    throw UsageError("give exactly one grid: --linear, --adaptive, --list or --at-data");
  }
  if ((a.Has("tolerance") || a.Has("zero-hz")) && !a.Has("adaptive")) {
    throw UsageError("--tolerance and --zero-hz belong to --adaptive");
  }
  std::vector<double> linear, list;
  if (const auto text = a.Text("linear")) {
    linear = ParseFrequencyList(*text, "--linear");
    if (linear.size() != 3) throw UsageError("--linear needs START,STOP,STEP");
    if (!(linear[0] < linear[1]) || !(linear[2] > 0.0)) {
      throw UsageError("--linear needs START below STOP and a STEP above 0");
    }
  }
  if (const auto text = a.Text("list")) {
    list = ParseFrequencyList(*text, "--list");
    for (std::size_t k = 1; k < list.size(); ++k) {
      if (!(list[k] > list[k - 1])) throw UsageError("--list needs rising frequencies");
    }
  }
  const double stop = a.Frequency("adaptive").value_or(0.0);
  if (a.Has("adaptive") && stop <= 0.0) throw UsageError("--adaptive needs a STOP above 0 Hz");
  const double tolerance = a.Number("tolerance", 0.01, 0.7).value_or(0.05);
  const int format = FormatCode(a.Text("format").value_or("ri"));

  cFitParams params;
  params.addZeroHzPoint = a.Has("zero-hz");
  const std::string comment = a.Text("comment").value_or(std::string());
  const std::optional<std::string> output = a.Text("output");
  const fs::path defaultBase = model.parent_path() / (model.stem().string() + "_sweep");
  const std::string logPath =
      a.Text("log").value_or(output ? fs::path(*output).replace_extension(".log").string()
                                    : fs::path(defaultBase).concat(".log").string());
  RequireFile(model);
  const fs::path atData = a.Text("at-data").value_or(std::string());
  RefuseOverwrite({model, atData}, {output.value_or(std::string()), logPath});
  if (output) EnsureDirectory(fs::path(*output).parent_path());

  LogFile log(logPath, a.Has("verbose"));
  log.Note("cfit sweep " + model.string() + "\n");
  Fitter fitter = CreateFitter(params);
  if (a.Has("comment")) fitter->SetOutputComment(comment.c_str());
  const int ports = ReadPoleFile(*fitter, model.string());
  const fs::path target =
      output ? fs::path(*output) : fs::path(defaultBase).concat(TouchstoneExtension(ports));
  RefuseOverwrite({model, atData}, {target});

  int swept = 0;
  if (!linear.empty()) {
    swept = fitter->SweepModelLinear(linear[2], linear[0], linear[1]);
  } else if (a.Has("adaptive")) {
    swept = fitter->SweepModelAdaptive(tolerance, stop);
  } else if (!list.empty()) {
    swept = fitter->SweepModelAtList(static_cast<int>(list.size()), list.data());
  } else {
    const std::string data = atData.string();
    Fitter source = CreateFitter(cFitParams{});
    if (source->ReadTouchstone(data.c_str()) == 0) {
      FailWithLibraryMessage(*source, "cannot read " + data, data);
    }
    swept = fitter->SweepModelAtDataOf(source.get());
  }
  if (swept == 0) FailWithLibraryMessage(*fitter, "cannot sweep the model of " + model.string());
  const std::vector<double> frequencies = SampledFrequencies(*fitter);
  WriteTouchstoneFile(*fitter, target.string(), format);
  log.Close();

  std::cout << "swept " << model.filename().string() << " at " << frequencies.size() << " points";
  if (!frequencies.empty()) {
    std::cout << " from " << FormatFrequency(frequencies.front()) << " to "
              << FormatFrequency(frequencies.back());
  }
  std::cout << "\n";
  PrintWritten({target.string()}, logPath);
  return kExitOk;
}

}  // namespace cfit_tool
