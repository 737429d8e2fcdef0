// Captures the run log for the lifetime of the object (not copyable: it owns
// the stream it captures into).
#ifndef CFIT_TESTS_SUPPORT_LOG_CAPTURE_H
#define CFIT_TESTS_SUPPORT_LOG_CAPTURE_H

#include <sstream>
#include <string>

#include "io/run_log.h"

namespace cfit::testing {

class LogCapture {
 public:
  LogCapture() : previous_(runlog::SetSink(&stream_)) {}
  ~LogCapture() { runlog::SetSink(previous_); }

  std::string text() const { return stream_.str(); }
  void clear() { stream_.str(std::string()); }

 private:
  std::ostringstream stream_;
  std::ostream* previous_;
};

}  // namespace cfit::testing

#endif  // CFIT_TESTS_SUPPORT_LOG_CAPTURE_H
