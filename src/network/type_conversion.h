// Conversion of the sampled data between S, Y, Z and (2-port) ABCD.
#ifndef CFIT_NETWORK_TYPE_CONVERSION_H
#define CFIT_NETWORK_TYPE_CONVERSION_H

#include "api/fitter_state.h"

namespace cfit {

// Converts the held data to data type `target`. Returns 1, or 0 with the
// error recorded.
int ConvertDataType(FitterState& state, int target);

}  // namespace cfit

#endif  // CFIT_NETWORK_TYPE_CONVERSION_H
