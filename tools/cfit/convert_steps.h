// The steps of `cfit convert`. Each step is an option; the command applies the
// steps in the order they appear on the command line to the fitter holding the
// input (the data of a Touchstone file or the model of a pole file).
#ifndef CFIT_TOOLS_CFIT_CONVERT_STEPS_H
#define CFIT_TOOLS_CFIT_CONVERT_STEPS_H

#include <string>
#include <vector>

#include "arguments.h"
#include "cfit/cfit.h"

namespace cfit_tool {

struct ConvertTarget {
  cFitAPI& fitter;             // holds the input's data or model
  bool model;                  // the input was a pole file
  const Arguments& arguments;  // for modifiers of a step (e.g. --at of --combine)
};

struct ConvertStep {
  OptionDef option;  // the step's option and its help line
  // Applies the step with the option's value. Throws UsageError for a value
  // that is not valid and Failure (with the library's error message) when the
  // library refuses the step.
  void (*apply)(ConvertTarget& target, const std::string& value);
};

// Each area's steps, defined in the file named in the comment.
std::vector<ConvertStep> ModeSteps();  // mode_steps.cpp: --mixed, --standard, --to
std::vector<ConvertStep> PortSteps();  // port_steps.cpp: --renormalize, --terminate, --combine,
                                       // --reorder, --transfer
// Options that modify a step rather than being one (--at of --combine).
std::vector<OptionDef> PortStepModifiers();

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_CONVERT_STEPS_H
