// The second network that joining and cascading combine with the held one,
// read and prepared apart from the fitter's state, so that nothing the
// fitter holds changes before the second network has been read and checked.
#ifndef CFIT_NETWORK_SECOND_NETWORK_H
#define CFIT_NETWORK_SECOND_NETWORK_H

#include <string>

#include "api/fitter_state.h"
#include "core/network.h"
#include "core/result.h"
#include "core/run_context.h"

namespace cfit {

// Reads a Touchstone file as the fitter's own read stores it under
// `settings` (0 Hz point, point reduction, asymmetry statistics and
// symmetrising within the tolerance), logging as that read does, into a
// network of its own. Fails with the reader's failure, or 24 for a file
// without points.
Result<Network> ReadSecondTouchstone(const std::string& fileName, const Settings& settings,
                                     const RunContext& context);

// A copy of the held network's data, port count, type and impedances
// (without the element table).
Network CopyOfData(const Network& held);

// The network converted to data type `target` as ConvertDataType converts
// held data, or the conversion's failure.
Result<Network> ConvertedTo(Network network, int target, const RunContext& context);

// All reference impedances exist and equal that of port 1.
bool EqualImpedances(const Network& network);

}  // namespace cfit

#endif  // CFIT_NETWORK_SECOND_NETWORK_H
