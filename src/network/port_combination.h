// Joining ports of the held S network in parallel into one new port.
#ifndef CFIT_NETWORK_PORT_COMBINATION_H
#define CFIT_NETWORK_PORT_COMBINATION_H

#include <vector>

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"

namespace cfit {

// True when join holds n bytes, each 0 (keep) or 1 (join); a null array
// never qualifies.
bool ValidJoinSelection(const unsigned char* join, int n);

// Joins the ports marked 1 (the set C, m ports) in parallel into one port at
// index `position` among the r kept ports (the fitter holds data; join is
// checked by ValidJoinSelection). Fails, changing nothing, with 52 when the
// ports of C differ in reference impedance (17 when the fitter holds none
// for every port), 54 for a position outside 0..r, 53 for m < 2 and 35 for
// data other than S. Otherwise the model goes and, per point, with
// W = (I + S_CC)^-1 and sigma the sum of W's entries, the joined port reads
// m / sigma - 1 with the coupling (sqrt(m) / sigma) 1^T W S_CR and
// (sqrt(m) / sigma) S_RC W 1, and the kept block S_RR - S_RC W S_CR +
// (S_RC W 1)(1^T W S_CR) / sigma, at the impedance Z0c / m. A point whose
// I + S_CC is singular keeps the solver's output; one with sigma exactly 0
// takes 1 / sigma as 0 (the joined port then reads as a short). Both are
// reported by one run-log line: "\n*** Port combination: singular matrix at
// <count> of <points> points, first at <f> Hz ***\n". The symmetric flag is
// found anew.
Status CombinePorts(FitterState& state, const std::vector<bool>& join, int position,
                    const RunContext& context);

}  // namespace cfit

#endif  // CFIT_NETWORK_PORT_COMBINATION_H
