// The numbered error conditions of the library. The number is what a host
// sees through the error text table; the enumerator says what went wrong.
#ifndef CFIT_CORE_ERROR_CODE_H
#define CFIT_CORE_ERROR_CODE_H

namespace cfit {

enum class ErrorCode : int {
  kReadWithData = 2,               // a read into a fitter that holds sampled data
  kReadWithFit = 3,                // a read into a fitter that holds a fit
  kSolverNeedsSFit = 4,            // no fit, or a fit of other than S data
  kNoDataToFit = 5,                // nothing read to fit
  kNoData = 6,                     // no sampled data
  kUnknownDataType = 7,            // a data type outside S, Y, Z (and their relatives)
  kNoFit = 8,                      // no fitted model
  kCannotWriteFit = 9,             // the output file of fitted data cannot be written
  kNoSData = 10,                   // no sampled data, or not S parameters
  kDataEnforcementFailed = 11,     // pre-fit passivity could not be enforced
  kNoSFit = 12,                    // no fit, or not of S parameters
  kPoleReadWithFit = 13,           // a pole file read into a fitter that holds a fit
  kCannotReadFit = 14,             // the pole file cannot be opened
  kTypesDiffer = 15,               // fitted and sampled data of different types
  kSizesDiffer = 16,               // fitted and sampled data of different sizes
  kInvalidImpedance = 17,          // a reference impedance that cannot be used
  kInvalidPoleFile = 18,           // the pole file breaks its format
  kNoSymmetricFit = 19,            // no fit, or the fit is not symmetric
  kNoSymmetricData = 20,           // no data, data not symmetric, or bad element indices
  kNeedsTwoOrFourPorts = 21,       // a 2 x 2 or 4 x 4 matrix is needed
  kWouldDestroyFit = 22,           // the operation would discard the fit
  kFitFailed = 23,                 // internal failure of a fit
  kNoPointsRead = 24,              // a Touchstone file without data points
  kSizeExceedsWorkspace = 25,      // the working set is too small
  kInconsistentData = 26,          // the sampled data cannot be fitted as they are
  kModelEnforcementFailed = 27,    // post-fit passivity could not be enforced
  kCannotWriteCircuit = 28,        // the netlist file cannot be written
  kCorruptedFit = 29,              // the model cannot be written as a netlist
  kNoConnectivity = 30,            // internal connectivity failure
  kNeedsFourPortS = 31,            // 4-port S matrix only
  kCannotTransform = 32,           // no transformation between the given types
  kDataPassivityUnknown = 33,      // the data's passivity cannot be measured
  kModelPassivityUnknown = 34,     // the model's passivity cannot be measured
  kNeedsS = 35,                    // S data only
  kInvalidSwap = 36,               // an invalid request to swap matrix parts
  kInvalidModePorts = 37,          // a wrong set of ports for a mode conversion
  kNeedsMixedMode = 38,            // mixed-mode parameters only
  kNeedsStandardMode = 39,         // standard mode only
  kInvalidMatrixSize = 40,         // not for this matrix size
  kNeedsIndividualPoles = 41,      // individually fitted poles only
  kNeedsEqualImpedances = 42,      // equal reference impedances only
  kNeedsNoDelays = 43,             // no extracted delays allowed
  kElementsUnrelated = 44,         // the elements are not related as required
  kInvalidArguments = 45,          // invalid input parameters
  kFitOfOtherSize = 46,            // the fitter holds a fit of another size
  kNeedsSymmetricMatrix = 47,      // a symmetric matrix only
  kInvalidRLC = 48,                // invalid R, L or C values
  kAbcdNeedsTwoPort = 49,          // ABCD for 2-ports only
  kNeedsTwoPortS = 50,             // 2-port S parameters only
  kNotSeriesOrShunt = 51,          // neither a series nor a shunt element
  kCombinedImpedancesDiffer = 52,  // combined ports of unequal reference impedances
  kNothingToDo = 53,               // the request needs no action
  kInvalidCombinedPosition = 54,   // the combined port cannot take that position
  kInvalidTimeResponse = 55,       // invalid time-response parameters
  kBitTimeNotPositive = 56,        // bit time zero or negative
  kCannotWriteTimeResponse = 57,   // the time-response file cannot be written
  kInvalidTrapezoid = 58,          // incorrect trapezoid definition
  kUnknownTouchstoneFormat = 71,   // a Touchstone format code outside the known ones
  kTouchstoneSyntax = 1001,        // the Touchstone file breaks its syntax
  kCannotOpenTouchstone = 1002,    // the Touchstone file cannot be opened
  kUnsupportedParameters = 1003,   // parameters other than S, Y, Z
};

// The fixed text of `code`, or null for a value that is not one of the
// enumerators.
const char* ErrorText(ErrorCode code);

}  // namespace cfit

#endif  // CFIT_CORE_ERROR_CODE_H
