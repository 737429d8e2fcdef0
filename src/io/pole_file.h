// The pole file: the fitted model as text, written and read back.
#ifndef CFIT_IO_POLE_FILE_H
#define CFIT_IO_POLE_FILE_H

#include "api/fitter_state.h"

namespace cfit {

// Writes the fitted model. Returns 1, or 0 with the error recorded.
int WritePoles(FitterState& state, const char* fileName);

// Reads a model from a pole file. Returns the port count, or 0 with the
// error recorded; a failed read leaves the fitter as it was.
int ReadPoles(FitterState& state, const char* fileName);

// The port count stated in a pole file, or 0.
int GetPolesPortCount(FitterState& state, const char* fileName);

}  // namespace cfit

#endif  // CFIT_IO_POLE_FILE_H
