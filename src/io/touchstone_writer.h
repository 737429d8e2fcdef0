// Touchstone writer and plain data table.
#ifndef CFIT_IO_TOUCHSTONE_WRITER_H
#define CFIT_IO_TOUCHSTONE_WRITER_H

#include "api/fitter_state.h"

namespace cfit {

// Writes the sampled data as a Touchstone file. Returns 1, or 0 on failure
// with the error recorded.
int WriteTouchstone(FitterState& state, const char* fileName, int format);

// Writes element (i, j) of the sampled data as a numeric table.
int WriteDataTable(FitterState& state, const char* fileName, int i, int j, bool header, bool negate,
                   double offset);

}  // namespace cfit

#endif  // CFIT_IO_TOUCHSTONE_WRITER_H
