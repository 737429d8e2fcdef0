// The port steps of `cfit convert`: none yet.
#include "convert_steps.h"

namespace cfit_tool {

std::vector<ConvertStep> PortSteps() { return {}; }

std::vector<OptionDef> PortStepModifiers() { return {}; }

}  // namespace cfit_tool
