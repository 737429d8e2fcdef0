// cfit convert: a Touchstone file's data or a pole file's model transformed
// by steps given in command-line order, and written back in the same kind of
// file.
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "common.h"
#include "convert_steps.h"
#include "log_file.h"

namespace cfit_tool {

namespace fs = std::filesystem;

namespace {

std::vector<ConvertStep> AllSteps() {
  std::vector<ConvertStep> steps = ModeSteps();
  for (const ConvertStep& step : PortSteps()) steps.push_back(step);
  return steps;
}

const ConvertStep* FindStep(const std::vector<ConvertStep>& steps, const std::string& name) {
  for (const ConvertStep& step : steps) {
    if (name == step.option.name) return &step;
  }
  return nullptr;
}

// The number format of a Touchstone file's option line (0 RI, 1 MA, 2 DB),
// with the reader's default RI and its prefix rule.
int TouchstoneFormat(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] != '#') continue;
    std::istringstream words(line.substr(first + 1));
    std::string word;
    for (int k = 0; k < 3 && words >> word; ++k) {
      if (k < 2) continue;
      for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (std::string("MA").starts_with(word)) return 1;
      if (std::string("DB").starts_with(word)) return 2;
    }
    return 0;
  }
  return 0;
}

// Writes through a scratch file beside the output that replaces the output
// only when the writer succeeded, so a failure leaves no partial output.
void WriteOutput(cFitAPI& fitter, const fs::path& output, bool model, int format) {
  fs::path scratch = output;
  scratch += ".partial";
  const std::string name = scratch.string();
  const int written =
      model ? fitter.WritePoles(name.c_str()) : fitter.WriteTouchstone(name.c_str(), format);
  std::error_code ignored;
  if (written == 0) {
    fs::remove(scratch, ignored);
    FailWithLibraryMessage(fitter, "cannot write " + output.string());
  }
  std::error_code error;
  fs::rename(scratch, output, error);
  if (error) {
    fs::remove(scratch, ignored);
    throw Failure("cannot write " + output.string() + ": " + error.message());
  }
}

}  // namespace

const CommandDef& ConvertDef() {
  static const CommandDef def = [] {
    CommandDef c{
        "convert",
        "INPUT",
        "transform a Touchstone file's data or a pole file's model step by step",
        "Reads INPUT, a Touchstone file (its data) or a pole file (.pls, its model), applies "
        "the steps in the order given on the command line and writes the result to OUTPUT: a "
        "Touchstone file in the number format of the input (unless --format), or a pole file "
        "for a pole file. A step may be given more than once. Nothing is written when a step "
        "fails. The data are read as they are (not symmetrised).\n"
        "\n"
        "Port numbers count from 1. --mixed a,b,c,d takes the pairs (a, b) and (c, d), a and "
        "c the positive terminals, to mixed mode, stored in the order differential 1, "
        "differential 2, common 1, common 2; --standard a,b,c,d puts the terminals of the two "
        "pairs back at ports a, b, c, d. Both need a 4-port with equal reference impedances; "
        "a model must have poles fitted per element and no delays.\n"
        "\n"
        "Example (a differential pair, ports 1 and 3 one line, 2 and 4 the other, in mixed "
        "mode as Y parameters):\n"
        "  cfit convert pair.s4p -o pair_mixed.s4p --mixed 1,3,2,4 --to y",
        {
            {"output", 'o', "FILE", "The file to write (required)."},
            {"format", 0, "FMT",
             "Number format of a Touchstone output: ri, ma or db (default: the input's)."},
        }};
    for (const ConvertStep& step : AllSteps()) c.options.push_back(step.option);
    for (const OptionDef& o : PortStepModifiers()) c.options.push_back(o);
    return WithCommonOptions(c, kLogBesideOutput);
  }();
  return def;
}

int RunConvertCommand(const Arguments& a) {
  const fs::path input = a.SingleOperand("the file to convert (INPUT)");
  const std::optional<std::string> output = a.Text("output");
  if (!output || output->empty()) throw UsageError("missing the output file (-o OUTPUT)");
  const bool model = IsPoleFileName(input);
  if (model && a.Has("format")) throw UsageError("--format applies to Touchstone output only");
  const std::vector<ConvertStep> steps = AllSteps();
  const fs::path target = *output;
  const std::string logPath = LogPathBeside(a, target);
  RequireFile(input);
  RefuseOverwrite({input}, {target, logPath});
  const int format = a.Has("format") ? FormatCode(*a.Text("format")) : TouchstoneFormat(input);
  EnsureDirectory(target.parent_path());

  LogFile log(logPath, a.Has("verbose"));
  log.Note("cfit convert " + input.string() + "\n");
  cFitParams params;
  params.symmetryTolerance = 0.0;  // keep the data exactly as read
  Fitter fitter = CreateFitter(params);
  const std::string inputName = input.string();
  const int ports =
      model ? ReadPoleFile(*fitter, inputName) : ReadTouchstoneFile(*fitter, inputName);

  ConvertTarget convertTarget{*fitter, model, a};
  std::vector<std::string> applied;
  try {
    for (const auto& [name, value] : a.InOrder()) {
      const ConvertStep* step = FindStep(steps, name);
      if (step == nullptr) continue;
      step->apply(convertTarget, value);
      applied.push_back("--" + name + (value.empty() ? std::string() : " " + value));
    }
  } catch (const UsageError&) {
    // A step value is only checked against the input it applies to; a
    // mistake in the command line writes nothing, the run log included.
    log.Close();
    std::error_code ignored;
    fs::remove(logPath, ignored);
    throw;
  }
  WriteOutput(*fitter, target, model, format);
  log.Close();

  std::cout << "converted " << input.filename().string() << " (" << ports << " ports)";
  if (applied.empty()) std::cout << " without steps";
  for (std::size_t k = 0; k < applied.size(); ++k)
    std::cout << (k == 0 ? ": " : ", ") << applied[k];
  std::cout << "\n";
  PrintWritten({target.string()}, logPath);
  return kExitOk;
}

}  // namespace cfit_tool
