// The run log: progress and diagnostic lines on standard output.
//
// Every log line of the library goes through this module. Lines are written
// piecewise with the stream's own insertion operators, so numbers take the
// stream's default form (six significant digits for doubles). Start and end
// lines of long operations are flushed at once; diagnostics are not.
#ifndef CFIT_IO_RUN_LOG_H
#define CFIT_IO_RUN_LOG_H

#include <ostream>
#include <string>

namespace cfit::runlog {

// The log stream: standard output unless a test has redirected it.
std::ostream& Stream();

// Redirects the log (null restores standard output) and returns the previous
// sink. Meant for tests that capture the log.
std::ostream* SetSink(std::ostream* sink);

// The local time in the asctime layout without its line feed, for example
// "Sun Dec  6 12:11:26 2026".
std::string Timestamp();

// Writes the pieces in order.
template <class... Pieces>
void Write(const Pieces&... pieces) {
  std::ostream& out = Stream();
  (out << ... << pieces);
}

// Writes the pieces in order and flushes the stream.
template <class... Pieces>
void WriteFlushed(const Pieces&... pieces) {
  std::ostream& out = Stream();
  (out << ... << pieces);
  out.flush();
}

// The three banner lines around `title` (which carries its own line feed).
void Banner(std::ostream& out, const std::string& title);
inline void Banner(const std::string& title) { Banner(Stream(), title); }

// "<operation><file> start: <timestamp>\n" and "<operation><file>   end:
// <timestamp>\n", flushed.
void StartLine(std::ostream& out, const char* operation, const std::string& file);
void EndLine(std::ostream& out, const char* operation, const std::string& file);
inline void StartLine(const char* operation, const std::string& file) {
  StartLine(Stream(), operation, file);
}
inline void EndLine(const char* operation, const std::string& file) {
  EndLine(Stream(), operation, file);
}

}  // namespace cfit::runlog

#endif  // CFIT_IO_RUN_LOG_H
