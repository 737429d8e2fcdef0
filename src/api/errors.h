// Numbered error conditions and the per-fitter error slot.
//
// A fitter keeps the message of the first condition recorded; later ones are
// dropped until a Touchstone read clears the slot. File conditions carry the
// file name in front of the text.
#ifndef CFIT_API_ERRORS_H
#define CFIT_API_ERRORS_H

#include <string>

#include "core/error_code.h"
#include "core/result.h"

namespace cfit {

// Fixed text of the error numbered `code`, or null for a number that is not
// an error code.
const char* FitErrorText(int code);

class ErrorSlot {
 public:
  // Records `code` unless a message is already held. Returns 0, so that
  // callers can use the result as their own failure result.
  int Record(ErrorCode code);
  // As Record, with the message "<file>:\n<text>". Returns 0.
  int RecordFile(const char* fileName, ErrorCode code);
  // Records a failure's code, with its file for file conditions; a failure
  // without a code records nothing. Returns 0.
  int Record(const Failure& failure);
  void Clear() { message_ = nullptr; }
  // The first recorded message, or null.
  const char* message() const { return message_; }

 private:
  const char* message_ = nullptr;
  std::string buffer_;
};

// An internal-consistency stop: a state that valid data cannot produce. The
// facade turns it into a failure of the running operation, recorded with that
// operation's internal-error code; it never leaves the library.
struct InternalFault {
  unsigned line;
};

// Writes the title "FATAL ERROR" and "Line:<line>,   File:.\cfit   File
// date:Aug  2 2010" to standard error, then throws InternalFault. A host
// simulator's process must survive the library's internal faults.
[[noreturn]] void FatalError(unsigned line);

// The formatted text FatalError writes for `line`.
std::string FatalErrorText(unsigned line);

}  // namespace cfit

#endif  // CFIT_API_ERRORS_H
