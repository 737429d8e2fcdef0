// cfit report: the HTML fit report of an existing pole file, with the data
// it was fitted to when they are given.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "log_file.h"
#include "report_data.h"
#include "report_html.h"

namespace cfit_tool {

namespace fs = std::filesystem;

namespace {

constexpr int kModelGridPoints = 1001;

// Without data the model is drawn from 0 Hz to 1.5 times its largest pole
// modulus.
std::vector<double> ModelGrid(cFitAPI& fitter, const FitSummary& s) {
  double reach = 0.0;
  for (const ElementFit& e : s.elements) {
    if (e.poles <= 0) continue;
    std::vector<double> poles(2 * static_cast<std::size_t>(e.poles)), residues(poles.size());
    if (fitter.GetElementPolesResidues(e.i, e.j, poles.data(), residues.data()) != e.poles) {
      continue;
    }
    for (int k = 0; k < e.poles; ++k) {
      reach = std::max(reach, std::hypot(poles[2 * k], poles[2 * k + 1]));
    }
  }
  const double top = reach > 0.0 ? 1.5 * reach : 1e9;
  std::vector<double> grid;
  for (int k = 0; k < kModelGridPoints; ++k) grid.push_back(top * k / (kModelGridPoints - 1));
  return grid;
}

}  // namespace

const CommandDef& ReportDef() {
  static const CommandDef def = WithCommonOptions(
      {"report",
       "MODEL",
       "write the HTML report of a pole file's model",
       "Writes one self-contained HTML page about the model of the pole file MODEL (the "
       "page 'cfit fit --report' writes after a fit): the accuracy table, magnitude and "
       "phase of data and model with the error for the worst and the diagonal elements "
       "(every element up to 4 ports), an RMS error heat map above 4 ports, the passivity "
       "measure of data and model over frequency, beyond the data band, with the bands "
       "where it exceeds 1, the pole map and the step responses of the diagonal elements. "
       "Without --data the model is shown alone. The page opens offline in any current "
       "browser (the chart library is inside it) and prints.\n"
       "\n"
       "Example:\n"
       "  cfit report --data package.s8p -o package.html package.pls",
       {
           {"output", 'o', "FILE", "The page to write (default MODEL_report.html beside MODEL)."},
           {"data", 0, "FILE", "The Touchstone file the model was fitted to."},
       }},
      "Write the library's run log to FILE instead of OUT.log beside the page.");
  return def;
}

int RunReportCommand(const Arguments& a) {
  const fs::path model = a.SingleOperand("the pole file (MODEL)");
  const std::optional<std::string> dataText = a.Text("data");
  const fs::path output =
      a.Text("output").value_or(fs::path(model).replace_extension().concat("_report.html"));
  const std::string logPath = LogPathBeside(a, output);
  std::vector<fs::path> inputs = {model};
  if (dataText) inputs.push_back(*dataText);
  PrepareOutputs(inputs, {output, logPath});

  LogFile log(logPath, a.Has("verbose"));
  log.Note("cfit report " + model.string() + "\n");
  Fitter fitter = CreateFitter(cFitParams());
  std::vector<double> frequencies;
  if (dataText) {
    ReadTouchstoneFile(*fitter, *dataText);
    frequencies = SampledFrequencies(*fitter);
  }
  const int ports = ReadPoleFile(*fitter, model.string());
  if (dataText && (!fitter->HasSampledData() || SampledFrequencies(*fitter) != frequencies)) {
    throw Failure("the data of " + *dataText + " do not go with the model of " + model.string() +
                  " (ports or data type differ)");
  }
  const FitSummary summary = MeasureFit(*fitter);
  if (dataText && !summary.measured) {
    throw Failure("the model of " + model.string() + " cannot be compared with " + *dataText);
  }

  ReportData report;
  report.title = model.filename().string();
  report.run = {{"model", model.string()},
                {"data", dataText.value_or("(none)")},
                {"network", std::to_string(ports) + "-port " + std::string(1, summary.type) +
                                (summary.symmetric && ports > 1 ? ", symmetric" : "")}};
  if (dataText) {
    report.run.push_back({"points", std::to_string(summary.points)});
    report.run.push_back({"band", FormatFrequency(summary.firstFrequency) + " to " +
                                      FormatFrequency(summary.lastFrequency)});
    report.bandLow = summary.firstFrequency;
    report.bandHigh = summary.lastFrequency;
    report.passivity.push_back(ReadMeasureCurve(*fitter, false, "data"));
  } else {
    frequencies = ModelGrid(*fitter, summary);
  }
  report.passivity.push_back(ReadMeasureCurve(*fitter, true, "model"));
  ReadModelPictures(*fitter, summary, frequencies, &report);
  log.Close();
  WriteReport(report, output);
  PrintWritten({output.string()}, logPath);
  return kExitOk;
}

}  // namespace cfit_tool
