#include "api/errors.h"

#include <cstdio>
#include <iostream>

namespace cfit {

namespace {

// The texts by number: 2 to 58 and 71, then the Touchstone file conditions.
const char* DenseText(int code) {
  switch (code) {
    case 2: return "ReadTouchstone failed. The object already contains sampled data";
    case 3: return "ReadTouchstone failed. The object already contains a fit";
    case 4: return "Cannot create solver: no fit, or the fitted data are not S-parameters";
    case 5: return "Cannot fit: no data yet read from touchstone file";
    case 6: return "No sampled data available";
    case 7: return "Unknown data type";
    case 8: return "Fitted data not available";
    case 9: return "Cannot open file to write fitted data";
    case 10: return "No sampled data, or the sampled data are not S-parameters";
    case 11: return "Internal error. Unable to enforce pre-fit passivity";
    case 12: return "Fitted data not available, or the fitted data are not S-parameters";
    case 13: return "Cannot read from pls: object already contains fit";
    case 14: return "Cannot open file to read fitted data";
    case 15: return "Different types of fitted and sampled data";
    case 16: return "Different matrix size of fitted and sampled data";
    case 17: return "Invalid characteristic impedance";
    case 18: return "Invalid pls file format";
    case 19: return "Fitted data not available, or the fitted model is not symmetric";
    case 20:
      return "No sampled data, the sampled data are not symmetric, or the element indices are "
             "invalid";
    case 21: return "Sampled data must be 2x2 or 4x4 size";
    case 22: return "This action will destroy existing fitted data";
    case 23: return "Internal error. Fitting failed";
    case 24: return "No data points were read from touchstone file";
    case 25: return "Internal error. Size required exceeds available matrix/vector size";
    case 26: return "Internal error. Inconsistent sampled data structure";
    case 27: return "Internal error. Unable to enforce post-fit passivity";
    case 28: return "Cannot open file to write equivalent circuit";
    case 29: return "Cannot generate subcircuit: fitted data corrupted";
    case 30: return "Internal error. Cannot retrieve connectivity";
    case 31: return "This operation requires 4-port S-matrix only";
    case 32: return "Cannot transform from/into given data types";
    case 33: return "Cannot estimate passivity of the sampled data";
    case 34: return "Cannot estimate passivity of the fitted data";
    case 35: return "This operation requires S-type data";
    case 36: return "Invalid request for matrix swathing";
    case 37: return "Incorrect set of port numbers for Mixed/Standard mode conversion";
    case 38: return "Operation is only available for mixed mode parameters";
    case 39: return "Operation is only available in standard mode";
    case 40: return "Operation invalid for a given matrix size";
    case 41: return "This operation requires individually fitted poles";
    case 42:
      return "This operation requires equal normalizing impedance between ports and/or modes";
    case 43: return "This operation does not allow extracted delays";
    case 44:
      return "The matrix elements are not properly related as required by this transformation";
    case 45: return "Input parameters to the function are invalid";
    case 46: return "The object already contains fitted data of different size";
    case 47: return "Matrix must be symmetric for this operation";
    case 48: return "Invalid R/L/C values";
    case 49: return "Conversion to ABCD for 2-port parameters only";
    case 50: return "Operation available for 2-port S-parameters only";
    case 51: return "Is not recognized as series or shunt model";
    case 52: return "Combined ports must have equal normalizing impedances";
    case 53: return "User defined operation or structure does not require any action";
    case 54: return "Cannot assign given position for the combined port";
    case 55: return "InvalidTimeResponseParameters";
    case 56: return "TimeResponseParameters : Bit time zero or negative";
    case 57: return "Cannot open file to write time response";
    case 58: return "Incorrect parameters in trapezoidal impulse definition";
    case 71: return "Unknown touchstone format type";
    case 1001: return "Invalid touchstone syntax";
    case 1002: return "Cannot open the touchstone file";
    case 1003: return "We only support S-Y-Z parameter types";
    default: return nullptr;
  }
}

}  // namespace

const char* FitErrorText(int code) { return DenseText(code); }

const char* ErrorText(ErrorCode code) { return DenseText(static_cast<int>(code)); }

// A value outside the enumerators records nothing but still fails: the
// caller's failure must never turn into success.
int ErrorSlot::Record(ErrorCode code) {
  if (message_ != nullptr) return 0;
  const char* text = ErrorText(code);
  if (text == nullptr) return 0;
  message_ = text;
  return 0;
}

int ErrorSlot::RecordFile(const char* fileName, ErrorCode code) {
  if (message_ != nullptr) return 0;
  const char* text = ErrorText(code);
  if (text == nullptr) return 0;
  buffer_.assign(fileName != nullptr ? fileName : "");
  buffer_ += ":\n";
  buffer_ += text;
  message_ = buffer_.c_str();
  return 0;
}

int ErrorSlot::Record(const Failure& failure) {
  if (!failure.code.has_value()) return 0;
  if (failure.file.has_value()) return RecordFile(failure.file->c_str(), *failure.code);
  return Record(*failure.code);
}

std::string FatalErrorText(unsigned line) {
  char text[128];
  std::snprintf(text, sizeof text, "Line:%u,   File:%s   File date:%s", line, ".\\cfit",
                "Aug  2 2010");
  return text;
}

void FatalError(unsigned line) {
  std::cerr << "FATAL ERROR\n" << FatalErrorText(line) << std::endl;
  throw InternalFault{line};
}

}  // namespace cfit
