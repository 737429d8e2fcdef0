// The subcircuit netlist: a fitted S model as Laplace and delay sources.
#ifndef CFIT_IO_SUBCIRCUIT_WRITER_H
#define CFIT_IO_SUBCIRCUIT_WRITER_H

#include <string>
#include <vector>

#include "core/result.h"
#include "core/run_context.h"
#include "fit/model.h"

namespace cfit {

// Writes the start line, the netlist of `model` (an S model with one
// reference impedance per port) and the end line. Fails with 28 (with the
// file name) when the file cannot be opened or written, and with 29 for a
// pole no stable model holds (the file then ends where the failure occurred).
Status WriteSubcircuitFile(const std::string& fileName, const Model& model,
                           const RunContext& context = RunContext());

// The subcircuit name made of a file name: the name without its directory
// part, cut before its first '.', made a valid netlist name: every
// character other than a letter, digit or '_' becomes '_', and a name that
// is empty or starts with a digit gets an 'x' in front. A valid name is kept
// as it is.
std::string NetlistName(const std::string& fileName);

}  // namespace cfit

#endif  // CFIT_IO_SUBCIRCUIT_WRITER_H
