// The commands of the cfit program. Each has a table of options (which also
// makes its help text) and a function that runs it and returns the exit
// status; mistakes in the command line throw UsageError and failures throw
// Failure, which main turns into messages and exit statuses.
#ifndef CFIT_TOOLS_CFIT_COMMANDS_H
#define CFIT_TOOLS_CFIT_COMMANDS_H

#include "arguments.h"

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

const CommandDef& ResponseDef();
int RunResponseCommand(const Arguments& arguments);

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_COMMANDS_H
