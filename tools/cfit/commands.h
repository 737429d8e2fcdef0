// The commands of the cfit program. Each has a table of options (which also
// makes its help text) and a function that runs it and returns the exit
// status; mistakes in the command line throw UsageError and failures throw
// Failure, which main turns into messages and exit statuses.
#ifndef CFIT_TOOLS_CFIT_COMMANDS_H
#define CFIT_TOOLS_CFIT_COMMANDS_H

#include <filesystem>
#include <string>

#include "arguments.h"
#include "cfit/cfit.h"

namespace cfit_tool {

struct Command {
  const CommandDef& def;
  int (*run)(const Arguments& arguments);
};

const CommandDef& FitDef();
int RunFitCommand(const Arguments& arguments);

const CommandDef& InfoDef();
int RunInfoCommand(const Arguments& arguments);

const CommandDef& SweepDef();
int RunSweepCommand(const Arguments& arguments);

const CommandDef& CheckDef();
int RunCheckCommand(const Arguments& arguments);

const CommandDef& JoinDef();
int RunJoinCommand(const Arguments& arguments);

const CommandDef& CascadeDef();
int RunCascadeCommand(const Arguments& arguments);
const CommandDef& ConvertDef();
int RunConvertCommand(const Arguments& arguments);
const CommandDef& ElementDef();
int RunElementCommand(const Arguments& arguments);

const CommandDef& RlcDef();
int RunRlcCommand(const Arguments& arguments);

// A component value such as "10", "4.7k", "1n", "2.2p" or "3meg": the
// suffixes f p n u m k meg (or M) g t, where m is milli. Throws UsageError
// naming `what` unless it is a finite value above 0.
double ParseComponentValue(const std::string& text, const std::string& what);
const CommandDef& ResponseDef();
int RunResponseCommand(const Arguments& arguments);

const CommandDef& NetlistDef();
int RunNetlistCommand(const Arguments& arguments);

// The netlist forms: the equivalent circuit, the LAPLACE form of the
// library's subcircuit writer, or both.
enum class NetlistForm { kEquivalent, kLaplace, kBoth };
// Throws UsageError naming `option` for other text ("both" only where
// `allowBoth`).
NetlistForm ParseNetlistForm(const std::string& text, const std::string& option, bool allowBoth);
// Write the fitter's model in one form; throw Failure with the reason.
void WriteEquivalentNetlist(cFitAPI& fitter, const std::filesystem::path& path,
                            const std::string& name);
void WriteLaplaceNetlist(cFitAPI& fitter, const std::filesystem::path& path);
const CommandDef& ReportDef();
int RunReportCommand(const Arguments& arguments);

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_COMMANDS_H
