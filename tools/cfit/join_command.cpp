// cfit join: two modal 2-ports (differential and common mode) joined into a
// mixed-mode 4-port, as Touchstone data or as pole-file models.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "log_file.h"

namespace cfit_tool {

namespace fs = std::filesystem;

const CommandDef& JoinDef() {
  static const CommandDef def = WithCommonOptions(
      {"join",
       "DIFF COMMON",
       "join a differential and a common-mode 2-port into a mixed-mode 4-port",
       "Takes DIFF as the differential-mode 2-port and COMMON as the common-mode 2-port of "
       "a pair of coupled lines and writes the mixed-mode 4-port they make, with no "
       "conversion between the modes: ports 1-2 are the differential mode of pair 1 and "
       "2, ports 3-4 the common mode; the elements between the modes are 0.\n"
       "\n"
       "Two Touchstone files (S parameters, equal reference impedances) give a Touchstone "
       "file; where their frequencies differ, each is interpolated linearly on the "
       "frequencies of both, up to the lower of their last frequencies. Two pole files "
       "(2-port S models with poles per element and no delays) give a pole file. The "
       "kind of file is taken from the extension: .pls is a pole file.\n"
       "\n"
       "Examples:\n"
       "  cfit join pair_dd.s2p pair_cc.s2p -o pair_mixed.s4p\n"
       "  cfit join pair_dd.pls pair_cc.pls -o pair_mixed.pls",
       {
           {"output", 'o', "FILE", "File to write (required)."},
           {"format", 0, "FMT", "Number format of a Touchstone output: ri, ma or db (default ri)."},
           {"comment", 0, "TEXT", "Comment written at the head of the output file."},
       }},
      kLogBesideOutput);
  return def;
}

int RunJoinCommand(const Arguments& a) {
  if (a.operands().size() != 2) {
    throw UsageError("give the differential and the common-mode file (DIFF COMMON)");
  }
  const fs::path differential = a.operands()[0], common = a.operands()[1];
  const std::optional<std::string> output = a.Text("output");
  if (!output) throw UsageError("give the file to write with -o");
  const bool poles = IsPoleFileName(differential);
  if (poles != IsPoleFileName(common)) {
    throw UsageError("DIFF and COMMON must both be Touchstone files or both pole files (.pls)");
  }
  if (poles && a.Has("format")) throw UsageError("--format belongs to a Touchstone output");
  const int format = FormatCode(a.Text("format").value_or("ri"));
  const std::string comment = a.Text("comment").value_or(std::string());
  const std::string logPath = LogPathBeside(a, *output);
  PrepareOutputs({differential, common}, {*output, logPath});

  LogFile log(logPath, a.Has("verbose"));
  log.Note("cfit join " + differential.string() + " " + common.string() + "\n");
  Fitter fitter = CreateFitter(cFitParams{});
  if (a.Has("comment")) fitter->SetOutputComment(comment.c_str());
  const std::string first = differential.string(), second = common.string();
  const int ports = poles ? ReadPoleFile(*fitter, first) : ReadTouchstoneFile(*fitter, first);
  if (ports != 2) throw Failure(first + ": a " + std::to_string(ports) + "-port, not a 2-port");
  const int joined = poles ? fitter->JoinModalTwoPortModels(second.c_str())
                           : fitter->JoinModalTwoPorts(second.c_str());
  if (joined == 0) FailWithLibraryMessage(*fitter, "cannot join " + second, second);
  if (poles) {
    WritePoleFile(*fitter, *output);
  } else {
    WriteTouchstoneFile(*fitter, *output, format);
  }
  log.Close();

  std::cout << "joined " << differential.filename().string() << " (differential) and "
            << common.filename().string() << " (common) into a mixed-mode 4-port";
  if (!poles) std::cout << " at " << SampledFrequencies(*fitter).size() << " points";
  std::cout << "\n";
  PrintWritten({*output}, logPath);
  return kExitOk;
}

}  // namespace cfit_tool
