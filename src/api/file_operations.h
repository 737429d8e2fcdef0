// The fitter's file operations: the readers' results installed into a
// fitter under one transaction rule, and the writers fed with the fitter's
// values. The readers' and writers' failures are recorded in the fitter's
// error slot here; the state checks come from the operation table.
//
// The transaction rule of both readers: a read changes nothing of the
// fitter unless it succeeds as a whole. The exceptions are the effects the
// Touchstone format gives a failed read: the error slot is cleared when the
// read starts; the detected port count is kept; once the port count is
// known the element table is released, the working set grows to 2N and the
// data type is taken from the option line (0 without one); a file without
// points leaves an empty data set.
#ifndef CFIT_API_FILE_OPERATIONS_H
#define CFIT_API_FILE_OPERATIONS_H

#include "api/fitter_state.h"
#include "core/run_context.h"
#include "io/pole_file.h"
#include "io/touchstone_reader.h"

class cFitAPI;

namespace cfit {

// Reads a Touchstone file into the fitter. Returns the port count, or 0
// with the error recorded.
int ReadTouchstone(FitterState& state, const char* fileName, const TouchstoneOptions& options = {},
                   const RunContext& context = RunContext());
int GetTouchstonePortCount(FitterState& state, const char* fileName);

// Reads a pole file into the fitter. Returns the port count, or 0 with the
// error recorded (or none, for a port count out of range).
int ReadPoles(FitterState& state, const char* fileName, const RunContext& context = RunContext());
int GetPolesPortCount(FitterState& state, const char* fileName);

int WriteTouchstone(FitterState& state, const char* fileName, int format);
int WriteDataTable(FitterState& state, const char* fileName, int i, int j, bool header, bool negate,
                   double offset);
int WritePoles(FitterState& state, const char* fileName, const RunContext& context = RunContext());
int WriteSubcircuit(FitterState& state, const char* fileName,
                    const RunContext& context = RunContext());

// For engine hosts (the cfit program) holding a fitter made by
// cFitAPI::Create: reads a Touchstone file of version 1 or 2.0, with or
// without a byte-order mark, as ReadTouchstone does. Returns the port count,
// or 0 with the error recorded in the fitter.
int ReadAnyTouchstone(cFitAPI& fitter, const char* fileName);

}  // namespace cfit

#endif  // CFIT_API_FILE_OPERATIONS_H
