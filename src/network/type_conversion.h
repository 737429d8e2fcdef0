// Conversion of the held data between S, Y, Z and (2-port) ABCD parameters.
#ifndef CFIT_NETWORK_TYPE_CONVERSION_H
#define CFIT_NETWORK_TYPE_CONVERSION_H

#include <string_view>

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"
#include "network/conversion_workspace.h"
#include "numeric/complex.h"

namespace cfit {

// Converts the held data to data type `target` (1 S, 2 Y, 3 Z, 4 ABCD). The
// checks, in order: the type already held returns 1 at once; a target
// outside 1..4 or a held type other than S, Y, Z records 32; ABCD from
// anything but 2-port S records 49. Then the data's margin list is dropped;
// without a fitted model the working poles of an unfinished fit are dropped
// and missing data record 6. Every point is converted in place (a fitted
// model is not touched), the data type becomes `target` and the element
// table is rebuilt. Fails with the code of the refusal, recording nothing
// (the facade records it); a refusal by ConvertibleTypes changes nothing.
// Reference
// impedances that are missing, not finite or not above 0 record 17 before
// any point changes when the conversion needs them (all but Y <-> Z).
//
// Points whose system is singular keep the solver's basic solution and are
// reported by one run-log line: "\n*** Data type conversion: singular matrix
// at <count> of <points> points, first at <f> Hz ***\n".
Status ConvertDataType(FitterState& state, int target, const RunContext& context);

// The type checks of ConvertDataType: a target S, Y, Z or ABCD (32), a
// source S, Y or Z (32), ABCD only from 2-port S (49).
Status ConvertibleTypes(int from, int target, int portCount);

// Converts one row-stored ws.n x ws.n matrix in place from type `from` to
// type `to`: between S (1), Y (2) and Z (3) in every direction, and from S to
// ABCD (4) for n = 2; z0 holds the n reference impedances (unused between Y
// and Z). The caller has checked the pair and the impedances. Returns false
// when the point's system was singular (the solver's output is kept) or, for
// ABCD, when S21 is 0 (the four values are then NaN).
bool ConvertMatrix(ConversionWorkspace& ws, int from, int to, const double* z0, Complex* x);

// True when ConvertMatrix needs reference impedances for the pair.
bool ConversionNeedsImpedances(int from, int to);

// Writes the run-log line above for `count` singular points (nothing when
// count is 0).
void LogSingularPoints(int count, int points, double firstFrequency, const RunContext& context);

// The same line for another operation on the points: "\n*** <operation>:
// singular matrix at <count> of <points> points, first at <f> Hz ***\n".
void LogSingularPoints(std::string_view operation, int count, int points, double firstFrequency,
                       const RunContext& context);

// Counts the points of an operation whose system was singular and keeps the
// frequency of the first.
struct SingularPoints {
  int count = 0;
  double first = 0.0;
  void Note(bool regular, double frequency) {
    if (!regular && count++ == 0) first = frequency;
  }
};

}  // namespace cfit

#endif  // CFIT_NETWORK_TYPE_CONVERSION_H
