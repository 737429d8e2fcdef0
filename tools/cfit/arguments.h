// Command-line parsing of the cfit program: a table of options per command,
// a parser that checks names and values, and the help texts made from the
// same tables, so that every option is described where it is declared.
#ifndef CFIT_TOOLS_CFIT_ARGUMENTS_H
#define CFIT_TOOLS_CFIT_ARGUMENTS_H

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace cfit_tool {

// A mistake in the command line: the program prints it with a short usage
// text and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionDef {
  const char* name;       // long name, without the leading "--"
  char shortName;         // 0 when the option has no one-letter form
  const char* valueName;  // null for a flag that takes no value
  const char* help;       // description for --help
};

struct CommandDef {
  const char* name;         // e.g. "fit"
  const char* operand;      // the operand's name in the usage line, e.g. "INPUT"
  const char* summary;      // one line for the program's command list
  const char* description;  // paragraph printed by "cfit COMMAND --help"
  std::vector<OptionDef> options;
};

// The options every command takes (log file, echo, help); `logHelp` says
// where the log goes by default.
std::vector<OptionDef> CommonOptions(const char* logHelp);

// The log help of the commands that keep the run log beside their output.
inline constexpr const char* kLogBesideOutput =
    "Write the library's run log to FILE instead of beside the output (same name, .log).";

// `def` with the common options after its own.
CommandDef WithCommonOptions(CommandDef def, const char* logHelp);

// The parsed command line of one command.
class Arguments {
 public:
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  const std::vector<std::string>& operands() const { return operands_; }

  // The value given to an option; nullopt when the option is absent.
  std::optional<std::string> Text(const std::string& name) const;
  // An integer in [low, high]; throws UsageError naming the option.
  std::optional<long> Integer(const std::string& name, long low, long high) const;
  // A finite number in [low, high].
  std::optional<double> Number(const std::string& name, double low, double high) const;
  // A frequency in hertz (see ParseFrequency), at least 0.
  std::optional<double> Frequency(const std::string& name) const;

  // The options as (name, value) pairs in command-line order, repeats kept
  // (flags have the value ""), for commands whose options are steps.
  const std::vector<std::pair<std::string, std::string>>& InOrder() const { return inOrder_; }

  // The single operand; throws UsageError when there is none or more than one.
  std::string SingleOperand(const char* what) const;

 private:
  friend Arguments Parse(const CommandDef& def, const std::vector<std::string>& words);
  std::map<std::string, std::string> values_;  // flags map to ""; a repeat keeps the last
  std::vector<std::pair<std::string, std::string>> inOrder_;
  std::vector<std::string> operands_;
};

// Parses the words after the command name. Accepts "--name value",
// "--name=value", "-x value", "-xVALUE" and "--" to end the options.
// Throws UsageError for an unknown option or a missing value.
Arguments Parse(const CommandDef& def, const std::vector<std::string>& words);

// A frequency such as "2.5e9", "2.5GHz", "2.5 G", "800MHz", "10k" or "1THz";
// the unit letters ignore case and "m" means mega (there are no millihertz
// in network data). Throws UsageError naming `what` when the text is not one.
double ParseFrequency(const std::string& text, const std::string& what);

// A time in seconds such as "1e-9", "1n", "1ns", "20p", "0.5us" or "2ms":
// the prefix letters f, p, n, u and m (milli) ignore case, with or without a
// trailing "s". Throws UsageError naming `what` when the text is not one.
double ParseTime(const std::string& text, const std::string& what);

// A comma-separated list of frequencies.
std::vector<double> ParseFrequencyList(const std::string& text, const std::string& what);

// "cfit COMMAND --help": usage line, description and every option.
std::string CommandHelp(const CommandDef& def);
// Two lines: the usage line and where to find more.
std::string ShortUsage(const CommandDef& def);
// "cfit --help": the commands and the general rules.
std::string ProgramHelp(const std::vector<const CommandDef*>& commands);

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_ARGUMENTS_H
