// The subcircuit netlist: a fitted S model as Laplace and delay sources.
#ifndef CFIT_IO_SUBCIRCUIT_WRITER_H
#define CFIT_IO_SUBCIRCUIT_WRITER_H

#include <string>
#include <vector>

#include "core/result.h"
#include "core/run_context.h"
#include "fit/fitted_model.h"

namespace cfit {

// The model a netlist is written from, with what gives it its meaning.
struct NetlistModel {
  const FittedModel& model;
  int portCount;
  const std::vector<double>& impedances;  // one per port
  bool individualPoles;
  bool symmetric;
};

// The subcircuit name made of a file name: the name without its directory
// part, cut before its first '.', made a valid netlist name: every
// character other than a letter, digit or '_' becomes '_', and a name that
// is empty or starts with a digit gets an 'x' in front. A valid name is kept
// as it is.
std::string NetlistName(const std::string& fileName);

// Writes the start line, the netlist and the end line. Fails with 28 (with
// the file name) when the file cannot be opened or written, and with 29 for
// a pole no stable model holds (the file then ends where the failure
// occurred).
Status WriteSubcircuitFile(const std::string& fileName, const NetlistModel& content,
                           const RunContext& context = RunContext());

}  // namespace cfit

#endif  // CFIT_IO_SUBCIRCUIT_WRITER_H
