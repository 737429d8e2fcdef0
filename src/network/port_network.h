// What the operations that change the port count share: installing the new
// network in place of the old one.
#ifndef CFIT_NETWORK_PORT_NETWORK_H
#define CFIT_NETWORK_PORT_NETWORK_H

#include <vector>

#include "api/fitter_state.h"

namespace cfit {

// Replaces the held network by `data` of its port count with the impedances
// z0: the model goes, the element table is rebuilt for the new port count,
// the mixed-mode flag is cleared when the port count changes (the modal
// order needs the four ports it was made for) and the symmetric flag is set
// by the fitter's symmetry tolerance from the new data.
void InstallPortNetwork(FitterState& state, SampledData data, std::vector<double> z0);

}  // namespace cfit

#endif  // CFIT_NETWORK_PORT_NETWORK_H
