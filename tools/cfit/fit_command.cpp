// cfit fit: Touchstone file in; pole file, netlist and the model's own
// Touchstone file out, with a progress bar, Ctrl-C, an accuracy summary and,
// when asked, passivity enforcement of the data before the fit and of the
// model after it.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "api/file_operations.h"
#include "api/iterated_fit_operation.h"
#include "commands.h"
#include "common.h"
#include "io/pole_file.h"
#include "log_file.h"
#include "passivity/passivity_certificate.h"
#include "passivity_report.h"
#include "progress.h"
#include "report_data.h"
#include "report_html.h"
#include "summary.h"

namespace cfit_tool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDefaultOutputs = "pls,cir,ts";

// What the summary says of poles added for the enforcement.
std::string AddedPolesText(const PerturbationOutcome& a) {
  if (a.addedPoles == 0) return "";
  const std::string without = std::isnan(a.perturbedError)
                                  ? std::string("without them it did not end passive")
                                  : "without them " + FormatNumber(a.perturbedError);
  return "with " + std::to_string(a.addedPoles) +
         " damped poles added to each pole list where the model violated beyond the data band "
         "(relative RMS from "
         "the data " +
         FormatNumber(a.augmentedError) + "; " + without + "), ";
}

std::string RefitText(const PerturbationOutcome& a) {
  if (!a.refitted) return "";
  return std::string(a.refitHeld ? "on a fit made again with its constant held passive"
                                 : "on a fit made again with its poles below twice the data's "
                                   "top frequency") +
         " (relative RMS from the data " + FormatNumber(a.refitError) +
         "; the first fit's enforced model was further from the data), ";
}

struct Outputs {
  bool poles = false;
  bool netlist = false;
  const char* netlistExtension = ".cir";
  bool touchstone = false;
};

Outputs ParseOutputs(const std::string& list) {
  Outputs o;
  std::size_t start = 0;
  bool none = false;
  while (true) {
    const auto comma = list.find(',', start);
    const std::string item = list.substr(start, comma - start);
    if (item == "pls") {
      o.poles = true;
    } else if (item == "cir" || item == "sp") {
      if (o.netlist && item != o.netlistExtension + 1) {
        throw UsageError("--outputs takes one netlist form, cir or sp, not both");
      }
      o.netlist = true;
      o.netlistExtension = item == "cir" ? ".cir" : ".sp";
    } else if (item == "ts") {
      o.touchstone = true;
    } else if (item == "none") {
      none = true;
    } else {
      throw UsageError("--outputs takes pls, cir, sp, ts or none, not '" + item + "'");
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (none && (o.poles || o.netlist || o.touchstone)) {
    throw UsageError("--outputs none cannot be combined with other outputs");
  }
  return o;
}

cFitParams ReadFitParams(const Arguments& a) {
  cFitParams p;
  p.individualPoles = !a.Has("common-poles");
  p.extractDelays = !a.Has("no-delays");
  p.addZeroHzPoint = a.Has("zero-hz");
  p.reducePoints = a.Has("reduce-points");
  p.extendedFit = a.Has("extended-fit");
  if (auto v = a.Integer("max-points", 1, 1000000)) p.maxFrequencyPoints = static_cast<int>(*v);
  if (auto v = a.Integer("max-columns", 1, 10000)) p.maxColumns = static_cast<int>(*v);
  if (auto v = a.Number("symmetry-tolerance", 0.0, 1.0)) p.symmetryTolerance = *v;
  const auto low = a.Frequency("band-low");
  const auto high = a.Frequency("band-high");
  if (low || high) {
    if (high && *high <= 0.0) throw UsageError("--band-high must be above 0 Hz");
    if (low && high && *low >= *high) throw UsageError("--band-low must be below --band-high");
    // An end the caller leaves open gets a value the library does not take
    // as a band end, so that it follows the data there.
    p.callerBand = true;
    p.lowerBandFrequency = low ? *low : -1.0;
    p.upperBandFrequency = high ? *high : 0.0;
  }
  return p;
}

// How the poles are found: iterated relocation unless --single-pass asks
// for the library's Fit as it is.
struct Algorithm {
  bool singlePass = false;
  cfit::IterationSettings iteration;
};

Algorithm ReadAlgorithm(const Arguments& a) {
  Algorithm algorithm;
  algorithm.singlePass = a.Has("single-pass");
  const auto iterations = a.Integer("iterations", 0, 1000);
  const auto target = a.Number("target-error", 0.0, 1.0);
  const auto maxOrder = a.Integer("max-order", 1, 100000);
  if (algorithm.singlePass && (iterations || target || maxOrder)) {
    throw UsageError("--single-pass takes no --iterations, --target-error or --max-order");
  }
  if (iterations) algorithm.iteration.maxIterations = static_cast<int>(*iterations);
  if (target) algorithm.iteration.targetError = *target;
  if (maxOrder) algorithm.iteration.maxOrder = static_cast<int>(*maxOrder);
  return algorithm;
}

// The summary's line on the algorithm that ran.
std::string AlgorithmText(const Algorithm& algorithm, const cfit::IteratedFitRecord& record) {
  if (algorithm.singlePass) return "algorithm: single relocation pass (the library's Fit)\n";
  const cfit::IterationSettings& s = algorithm.iteration;
  std::string text = "algorithm: iterated pole relocation (at most " +
                     std::to_string(s.maxIterations) + " iterations";
  if (s.targetError > 0.0) text += ", target error " + FormatNumber(s.targetError);
  if (s.maxOrder > 0) text += ", order at most " + std::to_string(s.maxOrder);
  text += "): ";
  if (record.quantities == 1) {
    text += std::to_string(record.totalIterations) + " iterations, poles " +
            (record.settled == 1 ? "settled" : "did not settle") + "\n";
  } else {
    text += std::to_string(record.quantities) + " elements, " +
            std::to_string(record.fewestIterations) + " to " +
            std::to_string(record.mostIterations) + " iterations, poles settled in " +
            std::to_string(record.settled) + " of " + std::to_string(record.quantities) + "\n";
  }
  if (record.constantHeld) {
    text += "constant: held passive (its free fit had a singular value above 1)\n";
  }
  return text;
}

ProgressMode ReadProgressMode(const Arguments& a) {
  if (a.Has("progress") && a.Has("no-progress")) {
    throw UsageError("--progress and --no-progress exclude each other");
  }
  if (a.Has("progress")) return ProgressMode::kAlways;
  if (a.Has("no-progress") || a.Has("verbose")) return ProgressMode::kNever;
  return ProgressMode::kAuto;
}

void Note(const std::string& text) { std::cerr << "cfit: " << text << "\n"; }

// Throws the Failure for an enforcement that did not end passive. Only the
// first message a fitter records is kept, so a message that was there before
// the enforcement is named as such rather than passed off as its reason.
[[noreturn]] void FailEnforcement(cFitAPI& fitter, const std::string& what,
                                  const std::string& earlier, const PassivityReading& before,
                                  const PassivityReading& after, const std::string& logPath) {
  const std::string message = LibraryMessage(fitter);
  std::string text = what + " failed";
  if (message.empty()) {
    text += ": the library gave no reason";
  } else if (message == earlier) {
    text += " (the library's message is still the earlier '" + message + "')";
  } else {
    text += ": " + message;
  }
  text += "; before: " + ReadingText(before, 1.0) +
          ", after the attempt: " + ReadingText(after, 1.0) +
          "; nothing was written (run log: " + logPath + ")";
  throw Failure(text);
}

// The run as the report lists it.
std::vector<std::pair<std::string, std::string>> FitRunRows(
    const Arguments& a, const fs::path& input, const FitSummary& s, const cFitParams& params,
    bool seriesElement, double fitSeconds, double enforcementSeconds, const std::string& how,
    const std::string& enforcement) {
  // The summary's "label: text" lines, without their labels, on one row.
  const auto unlabelled = [](const std::string& lines) {
    std::string text;
    std::size_t start = 0;
    while (start < lines.size()) {
      std::size_t end = lines.find('\n', start);
      if (end == std::string::npos) end = lines.size();
      std::string line = lines.substr(start, end - start);
      if (const std::size_t colon = line.find(": "); colon != std::string::npos)
        line = line.substr(colon + 2);
      if (!line.empty()) text += (text.empty() ? "" : "; ") + line;
      start = end + 1;
    }
    return text;
  };
  std::string options;
  for (const auto& [name, value] : a.InOrder()) {
    options += (options.empty() ? "--" : " --") + name + (value.empty() ? "" : " " + value);
  }
  std::string algorithms = seriesElement            ? "series-element fit"
                           : params.individualPoles ? "poles per element"
                                                    : "one pole set common to all elements";
  if (!seriesElement) algorithms += params.extractDelays ? ", delays extracted" : ", no delays";
  if (a.Has("passive-data")) algorithms += ", data made passive before the fit";
  if (a.Has("passive")) algorithms += ", model made passive after the fit";
  std::vector<std::pair<std::string, std::string>> rows = {
      {"input", input.string()},
      {"network", std::to_string(s.ports) + "-port " + std::string(1, s.type) + " data" +
                      (s.symmetric && s.ports > 1 ? ", symmetric" : "")},
      {"points", std::to_string(s.points)},
      {"band", FormatFrequency(s.firstFrequency) + " to " + FormatFrequency(s.lastFrequency)},
      {"options", options.empty() ? "(defaults)" : options},
      {"algorithms", algorithms},
      {"pole finding", unlabelled(how)}};
  if (!enforcement.empty()) rows.push_back({"enforcement", unlabelled(enforcement)});
  rows.push_back({"fit time", FormatTime(fitSeconds)});
  if (enforcementSeconds > 0.0)
    rows.push_back({"enforcement time", FormatTime(enforcementSeconds)});
  return rows;
}

}  // namespace

const CommandDef& FitDef() {
  static const CommandDef def = [] {
    CommandDef s{
        "fit",
        "INPUT",
        "fit a Touchstone file and write the pole file, the subcircuit netlist and the "
        "model's Touchstone file",
        "Fits a rational model (poles and residues, a constant and a delay per matrix "
        "element) to the Touchstone file INPUT and writes, next to INPUT or under "
        "--output-dir:\n"
        "\n"
        "  NAME.pls          the pole file (read back by 'cfit info' and 'cfit sweep')\n"
        "  NAME.cir          the netlist for a circuit simulator (see --netlist)\n"
        "  NAME_model.sNp    the model evaluated at the data's frequencies\n"
        "  NAME.log          the library's run log\n"
        "  NAME_report.html  with --report: the fit report, one page to open in a browser\n"
        "\n"
        "The poles are found by iterated relocation: starting poles at the features of "
        "the curve are moved to the zeros of a weighting function again and again until "
        "they settle, the error stops improving or --iterations is reached, and the best "
        "pole set met (the single pass's among them) is kept; --target-error adds and "
        "drops poles until the error target is met. --single-pass gives the library's "
        "one-pass fit as it is.\n"
        "\n"
        "NAME is the input's file name without its extension. At the end a summary gives "
        "the algorithm that ran and per element the pole count, the delay and the RMS and largest "
        "deviation of the "
        "model from the data, names the worst element and lists the files written.\n"
        "\n"
        "While the fit runs a progress bar is drawn on standard error when it is a "
        "terminal. Ctrl-C cancels the fit: nothing is written and the exit status is 130.\n"
        "\n"
        "--passive makes the fitted model passive before anything is written and reports "
        "the largest passivity measure before and after with its frequency, and the "
        "accuracy cost: the "
        "RMS deviation from the data over all elements and the largest deviation with its "
        "element, before and after. The measure is the square of the largest singular value "
        "for S data and 1 minus the smallest eigenvalue of the Hermitian part for Y or Z "
        "data; the network is passive where it is at most 1. --passive-data corrects the "
        "sampled data in the same way before the fit and reports their largest measure "
        "before and after and the largest change made; the fit and its summary then use the "
        "corrected data. A model or data set that is passive already is left as it is.\n"
        "\n"
        "By default (--enforcement perturbation) the model's passivity is decided by an "
        "exact certificate: the frequencies where a singular value of S crosses 1 (for Y or "
        "Z: an eigenvalue of the Hermitian part crosses 0) are the imaginary eigenvalues of "
        "a Hamiltonian matrix built from the model's state-space realisation (for a "
        "reciprocal model, the negative real eigenvalues of a matrix of half its order), so no "
        "violation between samples is missed. The residues (and, where its own singular "
        "values reach 1, the constant matrix) are then moved by the smallest change of the "
        "response over the data band that removes the violations found, until the "
        "certificate finds none; poles and delays stay. When that leaves the model more than "
        "twice as far from the data as the fit was, it is done again with damped poles added "
        "where the model violates beyond the data band (a violation there comes from the "
        "fit's own poles, whose residues the band needs), and the passive model closer to "
        "the data is kept. --enforcement classic uses the "
        "library's loops instead, which correct the violations of its sampled check peak by "
        "peak with added terms. The summary names the algorithm that ran. When "
        "an enforcement fails, nothing but the run log is written and the exit status is 1 "
        "with the library's message; run without the option to get the model as fitted "
        "('cfit check' then reports its passivity).\n"
        "\n"
        "--series-element fits a 2-port S measurement of one component in series between "
        "the ports (S11 = S22, S12 = S21 and S11 + S12 = 1 within 0.001 at every point; "
        "'cfit element' tells whether a file is one): the model keeps those relations "
        "exactly, is passive, and has no delays.\n"
        "\n"
        "Examples:\n"
        "  cfit fit -o out --comment \"board rev B\" --passive package.s8p\n"
        "  cfit fit --series-element inductor.s2p",
        {
            {"output-dir", 'o', "DIR",
             "Write the outputs into DIR (created when missing) instead of the input's "
             "folder."},
            {"name", 0, "NAME", "Base name of the outputs instead of the input's name."},
            {"outputs", 0, "LIST",
             "Comma-separated outputs to write: pls (pole file), cir or sp (netlist with "
             "that extension), ts (model Touchstone file) or none. Default pls,cir,ts; "
             "by default the netlist is left out for Y or Z data, which it cannot "
             "describe."},
            {"netlist", 0, "FORM",
             "Netlist form: equivalent (default: an equivalent circuit of R, C, E, F, G, "
             "H, V and T elements that ngspice, Xyce and LTspice read as written; S, Y "
             "and Z models), laplace (LAPLACE and DELAY sources as the library's "
             "subcircuit writer gives them; S models only) or both (the laplace form "
             "then goes to NAME_laplace.cir beside NAME.cir)."},
            {"format", 0, "FMT",
             "Number format of the model's Touchstone file: ri, ma or db (default ri)."},
            {"comment", 0, "TEXT",
             "Comment written at the head of the pole file and the Touchstone file "
             "(several lines allowed)."},
            {"passive", 0, nullptr,
             "Make the model passive after the fit and report the largest violation and "
             "the accuracy before and after."},
            {"enforcement", 0, "KIND",
             "How --passive enforces: perturbation (default; residue perturbation under "
             "the exact certificate) or classic (the library's peak-by-peak loops)."},
            {"passive-data", 0, nullptr,
             "Make the sampled data passive before the fit and report their largest "
             "violation before and after."},
            {"series-element", 0, nullptr,
             "The input is one series element: fit it into a passive model that keeps the "
             "series relations exactly."},
            {"single-pass", 0, nullptr,
             "Find the poles with one relocation pass from the starting poles (the library's "
             "own fit) instead of iterating the relocation."},
            {"iterations", 0, "N",
             "Largest number of relocations of the iterated fit (default 20; it stops earlier "
             "once the poles settle or the error stops improving)."},
            {"target-error", 0, "E",
             "Order control: add poles where the error is largest and drop poles that "
             "contribute nothing until the relative RMS error of the fitted elements is at "
             "most E."},
            {"max-order", 0, "N",
             "Largest order of the iterated fit (real poles plus two per complex pair): "
             "starting poles beyond it are trimmed, order control stops at it (default: as "
             "many as --max-columns leaves room for)."},
            {"common-poles", 0, nullptr,
             "Fit one pole set common to all matrix elements instead of one per element."},
            {"no-delays", 0, nullptr, "Do not extract a pure delay per element."},
            {"max-points", 0, "N",
             "Largest number of sampled points the fit uses (default 5001); later points "
             "are left out of the fit but not of the summary."},
            {"max-columns", 0, "N",
             "Width of the least-squares problems; bounds how many poles the fit may add "
             "(default 200)."},
            {"zero-hz", 0, nullptr, "Make the data start with a real 0 Hz point."},
            {"reduce-points", 0, nullptr,
             "Drop points that differ by at most 1e-5 from their neighbours after reading."},
            {"extended-fit", 0, nullptr,
             "Extend the band with added, down-weighted points above the data (helps "
             "elements that are small at the top of the band)."},
            {"band-low", 0, "FREQ",
             "Lower end of the band the poles are placed in (default: the lowest sampled "
             "frequency)."},
            {"band-high", 0, "FREQ",
             "Upper end of that band (default: the highest sampled frequency)."},
            {"symmetry-tolerance", 0, "X",
             "Relative asymmetry below which the data count as reciprocal and are "
             "symmetrised before the fit (default 0.005)."},
            {"report", 0, nullptr,
             "Also write NAME_report.html: one self-contained page with the run, the "
             "accuracy table, data and model of the worst and the diagonal elements, the "
             "passivity measure before and after enforcement, the poles and the step "
             "responses; it opens offline in any current browser."},
            {"all-elements", 0, nullptr,
             "List every element in the summary (above 16 elements only the ten worst "
             "are listed)."},
            {"progress", 0, nullptr,
             "Draw the progress bar even when standard error is "
             "not a terminal."},
            {"no-progress", 0, nullptr, "Never draw the progress bar."},
        }};
    for (const OptionDef& o : CommonOptions(
             "Write the library's run log to FILE instead of NAME.log beside the outputs.")) {
      s.options.push_back(o);
    }
    return s;
  }();
  return def;
}

int RunFitCommand(const Arguments& a) {
  const fs::path input = a.SingleOperand("the Touchstone file to fit (INPUT)");
  const cFitParams params = ReadFitParams(a);
  const bool seriesElement = a.Has("series-element");
  if (seriesElement && a.Has("common-poles")) {
    throw UsageError("--series-element fits one pole set per element; drop --common-poles");
  }
  // The model is made passive as a whole element; a second enforcement of
  // the 2-port would see the singular value 1 that every series element has
  // with its rounding above 1.
  if (seriesElement && a.Has("passive")) {
    throw UsageError("--series-element makes the model passive itself; drop --passive");
  }
  const Algorithm algorithm = ReadAlgorithm(a);
  if (seriesElement && (a.Has("single-pass") || a.Has("iterations") || a.Has("target-error") ||
                        a.Has("max-order"))) {
    throw UsageError("--series-element has its own fit; drop the options of the iterated fit");
  }
  const std::optional<std::string> outputList = a.Text("outputs");
  const Outputs outputs = ParseOutputs(outputList.value_or(kDefaultOutputs));
  const int format = FormatCode(a.Text("format").value_or("ri"));
  const ProgressMode progressMode = ReadProgressMode(a);
  const std::string enforcement = a.Text("enforcement").value_or("perturbation");
  if (enforcement != "perturbation" && enforcement != "classic") {
    throw UsageError("--enforcement takes perturbation or classic, not '" + enforcement + "'");
  }
  bool classic = enforcement == "classic";
  // A model the perturbation will make passive is fitted with its constant
  // held passive where the free one violates (the loops get the fit as it
  // is).
  Algorithm fitting = algorithm;
  fitting.iteration.holdPassiveConstant = a.Has("passive") && !classic;
  const std::string name = a.Text("name").value_or(input.stem().string());
  if (name.empty() || name.find_first_of("/\\") != std::string::npos) {
    throw UsageError("--name needs a plain file name, not '" + name + "'");
  }
  const fs::path directory =
      a.Text("output-dir") ? fs::path(*a.Text("output-dir")) : input.parent_path();
  const fs::path base = directory / name;
  const fs::path polePath = fs::path(base).concat(".pls");
  const NetlistForm form =
      ParseNetlistForm(a.Text("netlist").value_or("equivalent"), "--netlist", true);
  const fs::path netlistPath = fs::path(base).concat(outputs.netlistExtension);
  const fs::path laplacePath = fs::path(base).concat("_laplace").concat(outputs.netlistExtension);
  const std::string logPath = a.Text("log").value_or(fs::path(base).concat(".log").string());

  RequireFile(input);
  EnsureDirectory(directory);
  const bool wantReport = a.Has("report");
  const fs::path reportPath = fs::path(base).concat("_report.html");
  RefuseOverwrite({input},
                  {polePath, netlistPath, form == NetlistForm::kBoth ? laplacePath : fs::path(),
                   logPath, wantReport ? reportPath : fs::path()});

  // The comment must outlive the fitter, which keeps a pointer to it.
  const std::string comment = a.Text("comment").value_or(std::string());
  InterruptGuard interrupts;
  LogFile log(logPath, a.Has("verbose"));
  log.Note("cfit fit " + input.string() + "\n");

  Fitter fitter = CreateFitter(params);
  if (a.Has("comment")) fitter->SetOutputComment(comment.c_str());
  const int ports = cfit::ReadAnyTouchstone(*fitter, input.string().c_str());
  if (ports == 0) FailWithLibraryMessage(*fitter, "cannot read " + input.string(), input.string());
  // The series-element fit takes S data; Y data of an element are converted.
  if (seriesElement && fitter->GetDataType() != 1 && fitter->ConvertDataType(1) == 0) {
    FailWithLibraryMessage(*fitter, "cannot convert " + input.string() + " to S parameters");
  }
  const fs::path touchstonePath = fs::path(base).concat("_model" + TouchstoneExtension(ports));
  RefuseOverwrite({input}, {touchstonePath});

  const std::vector<double> frequencies = SampledFrequencies(*fitter);
  if (frequencies.size() < 2) {
    throw Failure(input.string() + " holds " + std::to_string(frequencies.size()) +
                  " frequency point; a fit needs a curve of at least two");
  }
  if (frequencies.size() > static_cast<std::size_t>(params.maxFrequencyPoints)) {
    Note("note: " + input.string() + " has " + std::to_string(frequencies.size()) +
         " points; the fit uses the first " + std::to_string(params.maxFrequencyPoints) +
         " (--max-points raises the limit)");
  }
  const bool writeNetlist = outputs.netlist;
  // The laplace form describes S models only; the equivalent circuit any.
  if (writeNetlist && form != NetlistForm::kEquivalent && fitter->GetDataType() != 1) {
    throw Failure("the laplace netlist needs S data; " + input.string() + " holds " +
                  std::string(1, TypeLetter(fitter->GetDataType())) + " data");
  }

  const auto cancelled = [&](const std::string& what) {
    log.Note("cfit: cancelled with Ctrl-C\n");
    log.Close();
    Note(what + " cancelled with Ctrl-C; nothing was written (run log: " + logPath + ")");
    return kExitCancelled;
  };
  // The passivity lines printed after the summary, and the algorithms that
  // ran.
  std::string passivity;
  std::string algorithms;
  // What the report shows besides the fitted model.
  ReportData report;
  double enforcementSeconds = 0.0;
  const auto curve = [&](bool model, const char* label) {
    if (wantReport) report.passivity.push_back(ReadMeasureCurve(*fitter, model, label));
  };

  if (a.Has("passive-data")) {
    const PassivityReading before = CheckData(*fitter);
    passivity += "data passivity before enforcement: " + ReadingText(before, 1.0) + "\n";
    curve(false, "data");
    if (before.known && before.measure <= 1.0) {
      passivity += "data passivity after enforcement:  unchanged, nothing to enforce\n";
    } else {
      const DataSnapshot snapshot = TakeSnapshot(*fitter);
      const std::string earlier = LibraryMessage(*fitter);
      const FitOutcome enforced =
          RunOnWorker(*fitter, progressMode, Task{"enforcing data passivity", false, [&] {
                                                    return fitter->EnforceDataPassivity(1.0);
                                                  }});
      if (enforced.cancelled) return cancelled("data passivity enforcement");
      const PassivityReading after = CheckData(*fitter);
      if (!enforced.succeeded) {
        FailEnforcement(*fitter, "passivity enforcement of the data of " + input.string(), earlier,
                        before, after, logPath);
      }
      passivity += "data passivity after enforcement:  " + ReadingText(after, 1.0) +
                   "; enforced in " + FormatTime(enforced.seconds) + "\n";
      curve(false, "data after enforcement");
      enforcementSeconds += enforced.seconds;
      const DataChange change = CompareWithSnapshot(*fitter, snapshot);
      if (change.known) {
        passivity += "data changed by at most " + FormatNumber(change.largest) + " (" +
                     ElementName(TypeLetter(fitter->GetDataType()), ports, change.i, change.j) +
                     " at " + FormatFrequency(change.at) + ")\n";
      }
    }
  }

  cfit::IteratedFitRecord record;
  const FitOutcome outcome =
      seriesElement ? RunOnWorker(*fitter, progressMode,
                                  Task{"fitting the series element", true,
                                       [&] { return fitter->FitSeriesElement() ? 1 : 0; }})
      : algorithm.singlePass
          ? RunFit(*fitter, progressMode)
          : RunOnWorker(*fitter, progressMode, Task{"fitting", true, [&] {
                                                      return cfit::FitIterated(
                                                          *fitter, fitting.iteration, &record);
                                                    }});
  if (outcome.cancelled) return cancelled("fit");
  if (!outcome.succeeded) {
    FailWithLibraryMessage(
        *fitter, std::string(seriesElement ? "the series-element fit of " : "the fit of ") +
                     input.string() + " failed");
  }
  // A successful fit may still have recorded a message (e.g. an element with
  // too few points for a delay estimate); the user should see it.
  if (const std::string message = LibraryMessage(*fitter); !message.empty()) {
    Note("warning: the fit succeeded, but the library recorded: " + message);
  }

  if (a.Has("passive")) {
    const char type = TypeLetter(fitter->GetDataType());
    const PassivityReading before = CheckModel(*fitter);
    passivity += "model passivity before enforcement: " + ReadingText(before, 1.0) + "\n";
    curve(true, "model");
    // The residue perturbation decides by the exact certificate, the classic
    // loops by the library's sampled sweep. A model whose certificate would
    // take minutes (many individual poles on many ports) goes to the classic
    // loops, and the summary says why.
    const int order = classic ? 0 : CertificateOrderOf(*fitter);
    if (!classic && order > cfit::kLargeCertificateOrder) {
      classic = true;
      algorithms += "passivity enforcement: the exact certificate would need a matrix of order " +
                    std::to_string(order) + " (above " +
                    std::to_string(cfit::kLargeCertificateOrder) +
                    "); the library's loops ran instead (--common-poles keeps it small)\n";
    }
    bool needed = !(before.known && before.measure <= 1.0);
    if (!classic) {
      const CertificateReading certificate = CertifyFitterModel(*fitter);
      passivity += "model certificate before enforcement: " + CertificateText(certificate, 3);
      needed = !certificate.known || !certificate.passive;
      if (!certificate.known) {
        // Without a certificate the perturbation cannot tell when it is done.
        classic = true;
        needed = !(before.known && before.measure <= 1.0);
        algorithms += "passivity enforcement: the exact certificate could not be computed (" +
                      certificate.failure + "); the library's loops ran instead\n";
      }
    }
    if (!needed) {
      passivity += "model passivity after enforcement:  unchanged, nothing to enforce\n";
      algorithms += classic ? "passivity enforcement: none needed by the library's sampled check\n"
                            : "passivity enforcement: none needed by the exact certificate\n";
    } else {
      const AccuracyFigures accuracyBefore = MeasureAccuracy(*fitter);
      const std::string earlier = LibraryMessage(*fitter);
      PerturbationOutcome perturbation;
      const FitOutcome enforced = RunOnWorker(
          *fitter, progressMode, Task{"enforcing passivity", false, [&] {
                                        if (classic) return fitter->EnforceModelPassivity(1.0);
                                        perturbation = EnforceByPerturbation(
                                            *fitter, frequencies,
                                            algorithm.singlePass ? nullptr : &fitting.iteration);
                                        return perturbation.passive ? 1 : 0;
                                      }});
      if (enforced.cancelled) return cancelled("passivity enforcement");
      const PassivityReading after = CheckModel(*fitter);
      if (!enforced.succeeded) {
        if (!classic) {
          throw Failure("passivity enforcement of the model of " + input.string() +
                        " by residue perturbation failed: " + perturbation.failure +
                        "; before: " + ReadingText(before, 1.0) +
                        ", after the attempt: " + ReadingText(after, 1.0) +
                        "; nothing was written (--enforcement classic tries the library's "
                        "loops; run log: " +
                        logPath + ")");
        }
        FailEnforcement(*fitter, "passivity enforcement of the model of " + input.string(), earlier,
                        before, after, logPath);
      }
      passivity += "model passivity after enforcement:  " + ReadingText(after, 1.0) +
                   "; enforced in " + FormatTime(enforced.seconds) + "\n";
      if (!classic) {
        passivity += "model certificate after enforcement:  " +
                     CertificateText(CertifyFitterModel(*fitter), 3);
      }
      curve(true, "model after enforcement");
      enforcementSeconds += enforced.seconds;
      passivity +=
          "accuracy before enforcement: " + AccuracyText(accuracyBefore, type, ports) +
          "\naccuracy after enforcement:  " + AccuracyText(MeasureAccuracy(*fitter), type, ports) +
          "\n";
      algorithms +=
          classic
              ? "passivity enforcement: the library's peak-by-peak loops, judged by its "
                "sampled check\n"
              : "passivity enforcement: residue perturbation under the exact certificate, " +
                    RefitText(perturbation) + AddedPolesText(perturbation) +
                    std::to_string(perturbation.steps) +
                    (perturbation.steps == 1 ? " step" : " steps") + ", response changed by " +
                    FormatNumber(perturbation.relativeChange) + " (relative RMS over the data)\n";
    }
  }

  const FitSummary summary = MeasureFit(*fitter);
  const std::string how =
      seriesElement ? "algorithm: series-element fit (one relocation pass, made passive)\n"
                    : AlgorithmText(algorithm, record);
  if (wantReport) {
    if (!a.Has("passive-data"))
      report.passivity.insert(report.passivity.begin(), ReadMeasureCurve(*fitter, false, "data"));
    if (!a.Has("passive")) curve(true, "model");
    report.title = input.filename().string();
    report.bandLow = summary.firstFrequency;
    report.bandHigh = summary.lastFrequency;
    report.run = FitRunRows(a, input, summary, params, seriesElement, outcome.seconds,
                            enforcementSeconds, how, algorithms);
    ReadModelPictures(*fitter, summary, frequencies, &report);
  }

  // The outputs in order; the model sweep replaces the fitter's data by the
  // model's values, so the Touchstone file comes last.
  struct Output {
    bool wanted;
    fs::path path;
    const char* what;
    std::function<int()> write;
  };
  const Output steps[] = {
      {outputs.poles, polePath, "the pole file",
       [&] {
         // The library refuses such a model too; the program says why.
         if (fitter->GetPortCount() > cfit::kMaxPoleFilePorts) {
           throw Failure("cannot write the pole file " + polePath.string() +
                         ": a pole file holds at most " + std::to_string(cfit::kMaxPoleFilePorts) +
                         " ports, the model has " + std::to_string(fitter->GetPortCount()));
         }
         return fitter->WritePoles(polePath.string().c_str());
       }},
      {writeNetlist, netlistPath, "the netlist",
       [&] {
         if (form == NetlistForm::kLaplace) {
           WriteLaplaceNetlist(*fitter, netlistPath);
         } else {
           WriteEquivalentNetlist(*fitter, netlistPath, "");
         }
         return 1;
       }},
      {writeNetlist && form == NetlistForm::kBoth, laplacePath, "the laplace netlist",
       [&] {
         WriteLaplaceNetlist(*fitter, laplacePath);
         return 1;
       }},
      {outputs.touchstone, touchstonePath, "the model's Touchstone file",
       [&] {
         return fitter->SweepModelAtList(static_cast<int>(frequencies.size()),
                                         frequencies.data()) != 0 &&
                fitter->WriteTouchstone(touchstonePath.string().c_str(), format) != 0;
       }},
  };
  std::vector<std::string> written;
  for (const Output& step : steps) {
    if (!step.wanted) continue;
    if (InterruptGuard::Interrupted()) {
      log.Close();
      std::string text = "cancelled with Ctrl-C while writing the outputs";
      for (const std::string& w : written) text += "; wrote " + w;
      Note(text);
      return kExitCancelled;
    }
    const std::string path = step.path.string();
    if (step.write() == 0) {
      FailWithLibraryMessage(*fitter, std::string("cannot write ") + step.what + " " + path, path);
    }
    written.push_back(path);
  }
  if (wantReport) {
    WriteReport(report, reportPath);
    written.push_back(reportPath.string());
  }

  const std::string timing =
      "fitted " + input.filename().string() + " in " + FormatTime(outcome.seconds) + "\n";
  log.Note("\n" + timing + how + SummaryText(summary, true) + passivity + algorithms);
  log.Close();

  std::cout << timing << how << SummaryText(summary, a.Has("all-elements")) << passivity
            << algorithms << "wrote:\n";
  for (const std::string& w : written) std::cout << "  " << w << "\n";
  std::cout << "  " << logPath << " (run log)\n";
  return kExitOk;
}

}  // namespace cfit_tool
