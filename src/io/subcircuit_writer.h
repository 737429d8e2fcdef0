// The subcircuit netlist: the fitted S model as Laplace and delay sources.
#ifndef CFIT_IO_SUBCIRCUIT_WRITER_H
#define CFIT_IO_SUBCIRCUIT_WRITER_H

#include "api/fitter_state.h"

namespace cfit {

// Writes the fitted S model as a subcircuit netlist. Returns 1, or 0 with the
// error recorded.
int WriteSubcircuit(FitterState& state, const char* fileName);

}  // namespace cfit

#endif  // CFIT_IO_SUBCIRCUIT_WRITER_H
