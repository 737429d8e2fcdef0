#include "arguments.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace cfit_tool {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

const OptionDef* FindLong(const CommandDef& def, const std::string& name) {
  for (const OptionDef& o : def.options) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

const OptionDef* FindShort(const CommandDef& def, char letter) {
  for (const OptionDef& o : def.options) {
    if (o.shortName != 0 && o.shortName == letter) return &o;
  }
  return nullptr;
}

// Appends `text` to `out`, wrapped at `width` columns, every line after the
// first indented by `indent` blanks; `column` is where the text starts.
void AppendWrapped(std::string& out, const std::string& text, std::size_t column,
                   std::size_t indent, std::size_t width) {
  std::istringstream words(text);
  std::string word;
  bool first = true;
  while (words >> word) {
    if (!first && column + 1 + word.size() > width) {
      out += '\n';
      out.append(indent, ' ');
      column = indent;
    } else if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    first = false;
  }
}

std::string UsageLine(const CommandDef& def) {
  return std::string("cfit ") + def.name + " [OPTIONS] " + def.operand;
}

}  // namespace

std::vector<OptionDef> CommonOptions(const char* logHelp) {
  return {
      {"log", 0, "FILE", logHelp},
      {"verbose", 'v', nullptr, "Also echo the run log on standard output."},
      {"help", 'h', nullptr, "Show this help and exit."},
  };
}

CommandDef WithCommonOptions(CommandDef def, const char* logHelp) {
  for (const OptionDef& o : CommonOptions(logHelp)) def.options.push_back(o);
  return def;
}

std::optional<std::string> Arguments::Text(const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<long> Arguments::Integer(const std::string& name, long low, long high) const {
  const auto text = Text(name);
  if (!text) return std::nullopt;
  const std::string trimmed = Trim(*text);
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(trimmed.c_str(), &end, 10);
  if (trimmed.empty() || *end != '\0' || errno == ERANGE || value < low || value > high) {
    throw UsageError("--" + name + " needs a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not '" + *text + "'");
  }
  return value;
}

std::optional<double> Arguments::Number(const std::string& name, double low, double high) const {
  const auto text = Text(name);
  if (!text) return std::nullopt;
  const std::string trimmed = Trim(*text);
  char* end = nullptr;
  const double value = std::strtod(trimmed.c_str(), &end);
  if (trimmed.empty() || *end != '\0' || !std::isfinite(value) || value < low || value > high) {
    std::ostringstream message;
    message << "--" << name << " needs a number from " << low << " to " << high << ", not '"
            << *text << "'";
    throw UsageError(message.str());
  }
  return value;
}

std::optional<double> Arguments::Frequency(const std::string& name) const {
  const auto text = Text(name);
  if (!text) return std::nullopt;
  return ParseFrequency(*text, "--" + name);
}

std::string Arguments::SingleOperand(const char* what) const {
  if (operands_.empty()) throw UsageError(std::string("missing ") + what);
  if (operands_.size() > 1) throw UsageError("unexpected extra operand '" + operands_[1] + "'");
  return operands_.front();
}

Arguments Parse(const CommandDef& def, const std::vector<std::string>& words) {
  Arguments result;
  bool options = true;
  for (std::size_t k = 0; k < words.size(); ++k) {
    const std::string& word = words[k];
    if (!options || word.size() < 2 || word[0] != '-') {
      result.operands_.push_back(word);
      continue;
    }
    if (word == "--") {
      options = false;
      continue;
    }
    const OptionDef* option = nullptr;
    std::optional<std::string> attached;
    std::string shown;
    if (word[1] == '-') {
      const std::string body = word.substr(2);
      const auto equals = body.find('=');
      const std::string name = body.substr(0, equals);
      option = FindLong(def, name);
      shown = "--" + name;
      if (equals != std::string::npos) attached = body.substr(equals + 1);
    } else {
      option = FindShort(def, word[1]);
      shown = word.substr(0, 2);
      if (word.size() > 2) attached = word.substr(2);
    }
    if (option == nullptr) {
      throw UsageError("unknown option '" + shown + "' for 'cfit " + def.name + "'");
    }
    if (option->valueName == nullptr) {
      if (attached) throw UsageError("option " + shown + " takes no value");
      result.values_[option->name] = std::string();
      result.inOrder_.emplace_back(option->name, std::string());
      continue;
    }
    if (attached) {
      result.values_[option->name] = *attached;
    } else if (k + 1 < words.size()) {
      result.values_[option->name] = words[++k];
    } else {
      throw UsageError("option " + shown + " needs a value (" + option->valueName + ")");
    }
    result.inOrder_.emplace_back(option->name, result.values_[option->name]);
  }
  return result;
}

double ParseFrequency(const std::string& text, const std::string& what) {
  const std::string trimmed = Trim(text);
  char* end = nullptr;
  const double number = std::strtod(trimmed.c_str(), &end);
  const std::string unit = Lower(Trim(end != nullptr ? std::string(end) : std::string()));
  double scale = 0.0;
  if (unit.empty() || unit == "hz") {
    scale = 1.0;
  } else if (unit == "k" || unit == "khz") {
    scale = 1e3;
  } else if (unit == "m" || unit == "mhz") {
    scale = 1e6;
  } else if (unit == "g" || unit == "ghz") {
    scale = 1e9;
  } else if (unit == "t" || unit == "thz") {
    scale = 1e12;
  }
  const double value = number * scale;
  if (trimmed.empty() || end == trimmed.c_str() || scale == 0.0 || !std::isfinite(value) ||
      value < 0.0) {
    throw UsageError(what + " needs a frequency such as 2.5e9, 2.5GHz or 800MHz, not '" + text +
                     "'");
  }
  return value;
}

double ParseTime(const std::string& text, const std::string& what) {
  const std::string trimmed = Trim(text);
  char* end = nullptr;
  const double number = std::strtod(trimmed.c_str(), &end);
  std::string unit = Lower(Trim(end != nullptr ? std::string(end) : std::string()));
  // A prefix letter with or without the "s" of seconds: 20p, 20ps, 1n, 3us.
  if (unit.size() == 2 && unit[1] == 's') unit.pop_back();
  double scale = 0.0;
  if (unit.empty() || unit == "s") {
    scale = 1.0;
  } else if (unit == "m") {
    scale = 1e-3;
  } else if (unit == "u") {
    scale = 1e-6;
  } else if (unit == "n") {
    scale = 1e-9;
  } else if (unit == "p") {
    scale = 1e-12;
  } else if (unit == "f") {
    scale = 1e-15;
  }
  const double value = number * scale;
  if (trimmed.empty() || end == trimmed.c_str() || scale == 0.0 || !std::isfinite(value)) {
    throw UsageError(what + " needs a time such as 1e-9, 1n, 20ps or 0.5us, not '" + text + "'");
  }
  return value;
}

std::vector<double> ParseFrequencyList(const std::string& text, const std::string& what) {
  std::vector<double> values;
  std::size_t start = 0;
  while (true) {
    const auto comma = text.find(',', start);
    values.push_back(ParseFrequency(text.substr(start, comma - start), what));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return values;
}

std::string CommandHelp(const CommandDef& def) {
  constexpr std::size_t kWidth = 79, kHelpColumn = 28;
  std::string out = "Usage: " + UsageLine(def) + "\n\n";
  std::istringstream paragraphs(def.description);
  std::string paragraph;
  while (std::getline(paragraphs, paragraph)) {
    if (paragraph.empty()) {
      out += '\n';
      continue;
    }
    // A paragraph that starts with blanks is kept as it is (examples).
    if (paragraph[0] == ' ') {
      out += paragraph;
    } else {
      AppendWrapped(out, paragraph, 0, 0, kWidth);
    }
    out += '\n';
  }
  out += "\nOptions:\n";
  for (const OptionDef& o : def.options) {
    std::string left = "  ";
    left += o.shortName != 0 ? std::string("-") + o.shortName + ", " : std::string("    ");
    left += std::string("--") + o.name;
    if (o.valueName != nullptr) left += std::string(" ") + o.valueName;
    out += left;
    std::size_t column = left.size();
    if (column + 2 > kHelpColumn) {
      out += '\n';
      column = 0;
    }
    out.append(kHelpColumn - column, ' ');
    AppendWrapped(out, o.help, kHelpColumn, kHelpColumn, kWidth);
    out += '\n';
  }
  return out;
}

std::string ShortUsage(const CommandDef& def) {
  return "Usage: " + UsageLine(def) + "\nTry 'cfit " + def.name + " --help' for more.\n";
}

std::string ProgramHelp(const std::vector<const CommandDef*>& commands) {
  std::string out =
      "Usage: cfit COMMAND [OPTIONS] OPERAND\n"
      "\n"
      "Turns sampled N-port network data (S, Y or Z parameters in Touchstone files)\n"
      "into rational macromodels: a pole file, a SPICE subcircuit and the model's\n"
      "own Touchstone file.\n"
      "\n"
      "Commands:\n";
  for (const CommandDef* c : commands) {
    std::string left = std::string("  ") + c->name;
    left.append(left.size() < 10 ? 10 - left.size() : 1, ' ');
    out += left;
    AppendWrapped(out, c->summary, 10, 10, 79);
    out += '\n';
  }
  out +=
      "\n"
      "Run 'cfit COMMAND --help' for the options of a command.\n"
      "\n"
      "Frequencies may carry a unit: 2.5e9, 2.5GHz, 2.5G, 800MHz, 10kHz.\n"
      "Times may carry one too: 1e-9, 1n, 1ns, 20p, 0.5us (m is milli here).\n"
      "\n"
      "Exit status: 0 success, 1 the library or a file reported an error (its\n"
      "message goes to standard error) or 'cfit check' found the file not passive,\n"
      "2 a mistake in the command line, 130 cancelled with Ctrl-C.\n"
      "\n"
      "Other options: -h, --help shows this help; --version prints the version.\n";
  return out;
}

}  // namespace cfit_tool
