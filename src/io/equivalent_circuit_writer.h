// The equivalent-circuit netlist: a fitted S, Y or Z model as a subcircuit of
// plain elements (R, C, E, F, G, H, V and lossless lines T) that ngspice,
// Xyce and LTspice all read as written.
#ifndef CFIT_IO_EQUIVALENT_CIRCUIT_WRITER_H
#define CFIT_IO_EQUIVALENT_CIRCUIT_WRITER_H

#include <string>

#include "core/result.h"
#include "fit/model.h"
#include "numeric/element_table.h"

namespace cfit {

// The netlist text of `model` as the subcircuit `name` with terminals
// p_1 ... p_N and ref. `elements` gives the asymptote modes (null: no
// proportional term), as the model's evaluation reads them. Fails with 7 for
// a data type other than S, Y and Z, with 17 for an S model without a
// positive finite reference impedance per port, and as Realize (state_space.h)
// for a model no stable system holds.
Result<std::string> EquivalentCircuitText(const Model& model, const ElementTable* elements,
                                          const std::string& name);

// Writes that text to `fileName`; the subcircuit is named `name`, or, when
// it is empty, NetlistName(fileName). Fails as above, and with 28 (with the
// file name) when the file cannot be opened or written.
Status WriteEquivalentCircuitFile(const std::string& fileName, const Model& model,
                                  const ElementTable* elements, const std::string& name = "");

}  // namespace cfit

#endif  // CFIT_IO_EQUIVALENT_CIRCUIT_WRITER_H
