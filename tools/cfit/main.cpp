// cfit: the command-line program over libcfit. It is written against the
// public header only, like any other host of the library.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "common.h"

#ifndef CFIT_TOOL_VERSION
#define CFIT_TOOL_VERSION "unknown"
#endif

namespace {

using cfit_tool::Command;

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {cfit_tool::FitDef(), cfit_tool::RunFitCommand},
      {cfit_tool::InfoDef(), cfit_tool::RunInfoCommand},
      {cfit_tool::SweepDef(), cfit_tool::RunSweepCommand},
      {cfit_tool::CheckDef(), cfit_tool::RunCheckCommand},
      {cfit_tool::ConvertDef(), cfit_tool::RunConvertCommand},
      {cfit_tool::JoinDef(), cfit_tool::RunJoinCommand},
      {cfit_tool::CascadeDef(), cfit_tool::RunCascadeCommand},
      {cfit_tool::ElementDef(), cfit_tool::RunElementCommand},
      {cfit_tool::RlcDef(), cfit_tool::RunRlcCommand},
      {cfit_tool::ResponseDef(), cfit_tool::RunResponseCommand},
      {cfit_tool::NetlistDef(), cfit_tool::RunNetlistCommand},
      {cfit_tool::ReportDef(), cfit_tool::RunReportCommand},
  };
  return commands;
}

// The short usage text of the program, naming every command.
std::string UsageLine() {
  std::string names;
  for (const Command& c : Commands())
    names += (names.empty() ? "" : ", ") + std::string(c.def.name);
  return "Usage: cfit COMMAND [OPTIONS] OPERAND (commands: " + names +
         ")\nTry 'cfit --help' for more.\n";
}

std::string Help() {
  std::vector<const cfit_tool::CommandDef*> defs;
  for (const Command& c : Commands()) defs.push_back(&c.def);
  return cfit_tool::ProgramHelp(defs);
}

const Command* Find(const std::string& name) {
  for (const Command& c : Commands()) {
    if (name == c.def.name) return &c;
  }
  return nullptr;
}

bool AsksForHelp(const std::vector<std::string>& words) {
  for (const std::string& w : words) {
    if (w == "--") return false;
    if (w == "--help" || w == "-h") return true;
  }
  return false;
}

int Run(const std::vector<std::string>& words) {
  if (words.empty()) {
    std::cerr << "cfit: error: no command given\n" << UsageLine();
    return cfit_tool::kExitUsage;
  }
  const std::string& first = words.front();
  if (first == "--help" || first == "-h" || first == "help") {
    if (words.size() > 1 && first == "help") {
      if (const Command* c = Find(words[1])) {
        std::cout << cfit_tool::CommandHelp(c->def);
        return cfit_tool::kExitOk;
      }
    }
    std::cout << Help();
    return cfit_tool::kExitOk;
  }
  if (first == "--version") {
    std::cout << "cfit " << CFIT_TOOL_VERSION << "\n";
    return cfit_tool::kExitOk;
  }
  const Command* command = Find(first);
  if (command == nullptr) {
    std::cerr << "cfit: error: unknown command '" << first << "'\n" << UsageLine();
    return cfit_tool::kExitUsage;
  }
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  if (AsksForHelp(rest)) {
    std::cout << cfit_tool::CommandHelp(command->def);
    return cfit_tool::kExitOk;
  }
  try {
    return command->run(cfit_tool::Parse(command->def, rest));
  } catch (const cfit_tool::UsageError& e) {
    std::cerr << "cfit " << command->def.name << ": error: " << e.what() << "\n"
              << cfit_tool::ShortUsage(command->def);
    return cfit_tool::kExitUsage;
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const int status = Run(std::vector<std::string>(argv + 1, argv + argc));
    // What went to standard output is the command's result: a report that
    // could not be written (a full disk, a closed pipe) is a failure.
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
      std::cerr << "cfit: error: cannot write to standard output\n";
      return cfit_tool::kExitFailure;
    }
    return status;
  } catch (const cfit_tool::Failure& e) {
    std::cerr << "cfit: error: " << e.what() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "cfit: error: " << e.what() << "\n";
  }
  return cfit_tool::kExitFailure;
}
