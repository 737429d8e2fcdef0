// cfit netlist: a pole file's model written as a netlist, the equivalent
// circuit (every SPICE reads it) or the LAPLACE form of the library's
// subcircuit writer.
#include <filesystem>
#include <iostream>
#include <string>

#include "api/cfit_impl.h"
#include "api/errors.h"
#include "commands.h"
#include "common.h"
#include "io/equivalent_circuit_writer.h"
#include "log_file.h"

namespace cfit_tool {

namespace fs = std::filesystem;

NetlistForm ParseNetlistForm(const std::string& text, const std::string& option, bool allowBoth) {
  if (text == "equivalent") return NetlistForm::kEquivalent;
  if (text == "laplace") return NetlistForm::kLaplace;
  if (allowBoth && text == "both") return NetlistForm::kBoth;
  throw UsageError(option + " takes equivalent" +
                   (allowBoth ? ", laplace or both" : " or laplace") + ", not '" + text + "'");
}

void WriteEquivalentNetlist(cFitAPI& fitter, const fs::path& path, const std::string& name) {
  const cfit::FitterState& state = static_cast<cfit::cCfit&>(fitter).state();
  if (state.model == nullptr) throw Failure("cannot write " + path.string() + ": no model");
  const cfit::Status written = cfit::WriteEquivalentCircuitFile(path.string(), *state.model,
                                                                state.network.elements.get(), name);
  if (!written.ok()) {
    const auto& code = written.failure().code;
    throw Failure("cannot write the netlist " + path.string() +
                  (code ? std::string(": ") + cfit::FitErrorText(static_cast<int>(*code)) : ""));
  }
}

void WriteLaplaceNetlist(cFitAPI& fitter, const fs::path& path) {
  if (fitter.GetDataType() != 1) {
    throw Failure("the laplace netlist needs an S model; " + path.string() + " would describe " +
                  std::string(1, TypeLetter(fitter.GetDataType())) +
                  " parameters (the equivalent form describes them)");
  }
  if (fitter.WriteSubcircuit(path.string().c_str()) == 0) {
    FailWithLibraryMessage(fitter, "cannot write the netlist " + path.string(), path.string());
  }
}

const CommandDef& NetlistDef() {
  static const CommandDef def = WithCommonOptions(
      {"netlist",
       "MODEL",
       "write a pole file's model as a netlist for a circuit simulator",
       "Reads the model of the pole file MODEL and writes it as a SPICE subcircuit to the "
       "file --output names, in one of two forms:\n"
       "\n"
       "  equivalent  an equivalent circuit of R, C, E, F, G, H, V and T elements\n"
       "              (the default; ngspice, Xyce and LTspice read it as written;\n"
       "              S, Y and Z models; terminals p_1 ... p_N, then ref)\n"
       "  laplace     LAPLACE and DELAY sources, as the library's subcircuit writer\n"
       "              gives them (S models only; terminals x_1 ... x_N, then ref)\n"
       "\n"
       "The subcircuit is named after the output file, or --name.\n"
       "\n"
       "Example:\n"
       "  cfit netlist --name pkg -o pkg.cir package.pls",
       {
           {"output", 'o', "FILE", "Netlist file to write (required)."},
           {"form", 0, "FORM", "equivalent (default) or laplace."},
           {"name", 0, "NAME",
            "Subcircuit name (equivalent form; made a valid name: characters other than "
            "letters, digits and '_' become '_')."},
       }},
      kLogBesideOutput);
  return def;
}

int RunNetlistCommand(const Arguments& a) {
  const fs::path model = a.SingleOperand("the pole file to write as a netlist (MODEL)");
  const NetlistForm form = ParseNetlistForm(a.Text("form").value_or("equivalent"), "--form", false);
  const std::optional<std::string> output = a.Text("output");
  if (!output || output->empty()) throw UsageError("--output names the netlist file to write");
  if (a.Has("name") && form == NetlistForm::kLaplace) {
    throw UsageError(
        "--name belongs to the equivalent form (the laplace form is named after "
        "its file)");
  }
  const std::string name = a.Text("name").value_or(std::string());
  if (a.Has("name") && name.empty()) throw UsageError("--name needs a name");
  const fs::path target(*output);
  const std::string logPath = LogPathBeside(a, target);
  PrepareOutputs({model}, {target, logPath});

  LogFile log(logPath, a.Has("verbose"));
  log.Note("cfit netlist " + model.string() + "\n");
  Fitter fitter = CreateFitter(cFitParams{});
  ReadPoleFile(*fitter, model.string());
  if (form == NetlistForm::kLaplace) {
    WriteLaplaceNetlist(*fitter, target);
  } else {
    WriteEquivalentNetlist(*fitter, target, name);
  }
  log.Close();
  PrintWritten({target.string() +
                (form == NetlistForm::kLaplace ? " (laplace form)" : " (equivalent form)")},
               logPath);
  return kExitOk;
}

}  // namespace cfit_tool
