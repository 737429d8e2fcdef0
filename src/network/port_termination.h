// Ending ports of the held S network with a short, an open or a matched
// load, keeping the others.
#ifndef CFIT_NETWORK_PORT_TERMINATION_H
#define CFIT_NETWORK_PORT_TERMINATION_H

#include <vector>

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"

namespace cfit {

// Per-port codes.
enum PortTermination : int { kShort = 0, kOpen = 1, kMatched = 2, kKeep = 3 };

// True when codes holds n codes, each 0..3 (a null array never).
bool ValidTerminationCodes(const int* codes, int n);

// Ends the ports by their codes (checked by ValidTerminationCodes; the
// fitter holds data). Every port kept: nothing changes. No port kept fails
// with 36, data other than S with 35. Otherwise the model is dropped and the
// kept ports, in their order and with their impedances, become the network:
// per point, with T the shorted then the opened ports and K the kept ones,
// S' = S_KK - S_KT M^-1 S_TK, M = [[I + S_AA, S_AB], [S_BA, S_BB - I]]
// (A shorted, B opened). The symmetric flag is found anew. Singular points
// keep the solver's output and are reported by one run-log line:
// "\n*** Port termination: singular matrix at <count> of <points> points,
// first at <f> Hz ***\n".
Status TerminatePorts(FitterState& state, const std::vector<int>& codes, const RunContext& context);

}  // namespace cfit

#endif  // CFIT_NETWORK_PORT_TERMINATION_H
