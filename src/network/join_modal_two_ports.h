// Joining two modal 2-ports of sampled S data into a mixed-mode 4-port.
#ifndef CFIT_NETWORK_JOIN_MODAL_TWO_PORTS_H
#define CFIT_NETWORK_JOIN_MODAL_TWO_PORTS_H

#include <string>

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"
#include "numeric/port_matrix.h"

namespace cfit {

// The mixed-mode 4-port of a differential 2-port and a common 2-port at
// one frequency: the differential matrix at ports 1-2, the common one at
// ports 3-4, no conversion between the modes (zeros elsewhere).
PortMatrix JoinedModes(const PortMatrix& differential, const PortMatrix& common);

// Takes the held 2-port S data (checked by the caller: two equal reference
// impedances) as the differential mode and the 2-port S data of a
// Touchstone file as the common mode, and replaces them by the mixed-mode
// 4-port on the common frequency grid of both. The file is read and checked
// before anything held changes: it must hold 2-port S data (else 6) with
// both reference impedances equal to the held ones (else 42); a failure
// leaves the held network as it was. On success the fitted model is
// dropped, all four impedances are the held one, the symmetric flag is set
// when both sets are symmetric, and the mode flag says mixed.
Status JoinModalTwoPorts(FitterState& state, const std::string& fileName,
                         const RunContext& context);

}  // namespace cfit

#endif  // CFIT_NETWORK_JOIN_MODAL_TWO_PORTS_H
