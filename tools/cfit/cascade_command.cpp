// cfit cascade: a Touchstone file's network cascaded with a second one,
// written as Touchstone Y parameters.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "log_file.h"

namespace cfit_tool {

namespace fs = std::filesystem;

const CommandDef& CascadeDef() {
  static const CommandDef def = WithCommonOptions(
      {"cascade",
       "A B",
       "cascade two Touchstone networks (2 or 4 ports each)",
       "Connects the network of the Touchstone file A to that of B and writes the result "
       "as Y parameters (computed on admittances; each port keeps the reference impedance "
       "of the port it comes from). A 2-port's port 2 is joined to B's port 1; a 4-port's "
       "ports 3-4 are joined to B's ports 1-2. A 2-port with a 4-port is a balanced "
       "element: its joined port lies across the 4-port's two joined ports and its other "
       "port across the two result ports on its side. The result has the larger port "
       "count of the two. Where the frequencies differ, each network is interpolated "
       "linearly on the frequencies of both, up to the lower of their last frequencies.\n"
       "\n"
       "Example:\n"
       "  cfit cascade fixture.s2p device.s2p -o fixture_device.s2p",
       {
           {"output", 'o', "FILE", "Touchstone file to write (required)."},
           {"format", 0, "FMT", "Number format of the output: ri, ma or db (default ri)."},
           {"comment", 0, "TEXT", "Comment written at the head of the output file."},
       }},
      kLogBesideOutput);
  return def;
}

int RunCascadeCommand(const Arguments& a) {
  if (a.operands().size() != 2) throw UsageError("give the two Touchstone files (A B)");
  const fs::path first = a.operands()[0], second = a.operands()[1];
  const std::optional<std::string> output = a.Text("output");
  if (!output) throw UsageError("give the file to write with -o");
  const int format = FormatCode(a.Text("format").value_or("ri"));
  const std::string comment = a.Text("comment").value_or(std::string());
  const std::string logPath = LogPathBeside(a, *output);
  PrepareOutputs({first, second}, {*output, logPath});

  LogFile log(logPath, a.Has("verbose"));
  log.Note("cfit cascade " + first.string() + " " + second.string() + "\n");
  Fitter fitter = CreateFitter(cFitParams{});
  if (a.Has("comment")) fitter->SetOutputComment(comment.c_str());
  const std::string a1 = first.string(), b1 = second.string();
  ReadTouchstoneFile(*fitter, a1);
  const int ports = fitter->CascadeWithTouchstone(b1.c_str());
  if (ports == 0) FailWithLibraryMessage(*fitter, "cannot cascade " + a1 + " with " + b1, b1);
  WriteTouchstoneFile(*fitter, *output, format);
  log.Close();

  std::cout << "cascaded " << first.filename().string() << " with " << second.filename().string()
            << ": " << ports << "-port Y parameters at " << SampledFrequencies(*fitter).size()
            << " points\n";
  PrintWritten({*output}, logPath);
  return kExitOk;
}

}  // namespace cfit_tool
