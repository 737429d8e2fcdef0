// Touchstone reader: loads sampled S, Y or Z data of an N-port.
#ifndef CFIT_IO_TOUCHSTONE_READER_H
#define CFIT_IO_TOUCHSTONE_READER_H

#include "api/fitter_state.h"

namespace cfit {

// Reads a Touchstone file into the fitter. Returns the port count, or 0 on
// failure with the error recorded.
int ReadTouchstone(FitterState& state, const char* fileName);

// The port count detected in a Touchstone file, or 0.
int GetTouchstonePortCount(FitterState& state, const char* fileName);

}  // namespace cfit

#endif  // CFIT_IO_TOUCHSTONE_READER_H
