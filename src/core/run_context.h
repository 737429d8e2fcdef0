// What a long operation needs of its caller: where its log lines go, where
// it reports its progress and the cancel byte it watches. Operations take it
// as an argument instead of reaching for globals, so that a host of the
// engine (a program, the Python module) can give its own sink and flags.
//
// Log lines are written piecewise with the stream's own insertion operators,
// so numbers take the stream's default form (six significant digits for
// doubles). Start and end lines of long operations are flushed at once;
// diagnostics are not.
#ifndef CFIT_CORE_RUN_CONTEXT_H
#define CFIT_CORE_RUN_CONTEXT_H

#include <atomic>
#include <ostream>
#include <string>

#include "io/run_log.h"

namespace cfit {

class RunContext {
 public:
  // The library's own log (standard output unless a test redirected it), no
  // progress, no cancel byte.
  RunContext() : log_(&runlog::Stream()) {}
  RunContext(std::ostream& log, double* progress, const char* cancel)
      : log_(&log), progress_(progress), cancel_(cancel) {}

  std::ostream& log() const { return *log_; }

  // Writes the pieces in order (and flushes, for WriteFlushed).
  template <class... Pieces>
  void Write(const Pieces&... pieces) const {
    (*log_ << ... << pieces);
  }
  template <class... Pieces>
  void WriteFlushed(const Pieces&... pieces) const {
    (*log_ << ... << pieces);
    log_->flush();
  }
  void Banner(const std::string& title) const { runlog::Banner(*log_, title); }
  void StartLine(const char* operation, const std::string& file) const {
    runlog::StartLine(*log_, operation, file);
  }
  void EndLine(const char* operation, const std::string& file) const {
    runlog::EndLine(*log_, operation, file);
  }

  // The host's other threads set the cancel byte and read the progress
  // while an operation runs, so both are accessed atomically (relaxed: no
  // other data is published through them).

  // The host set its cancel byte. The byte is only read; atomic_ref needs a
  // non-const object.
  bool Cancelled() const {
    return cancel_ != nullptr &&
           std::atomic_ref<char>(*const_cast<char*>(cancel_)).load(std::memory_order_relaxed) != 0;
  }

  // Progress fraction, 0 to 1; a context without a progress cell drops it.
  void SetProgress(double fraction) const {
    if (progress_ != nullptr) {
      std::atomic_ref<double>(*progress_).store(fraction, std::memory_order_relaxed);
    }
  }
  void AddProgress(double step) const {
    if (progress_ == nullptr) return;
    std::atomic_ref<double> cell(*progress_);
    cell.store(cell.load(std::memory_order_relaxed) + step, std::memory_order_relaxed);
  }
  double progress() const {
    return progress_ != nullptr
               ? std::atomic_ref<double>(*progress_).load(std::memory_order_relaxed)
               : 0.0;
  }

 private:
  std::ostream* log_;
  double* progress_ = nullptr;
  const char* cancel_ = nullptr;
};

}  // namespace cfit

#endif  // CFIT_CORE_RUN_CONTEXT_H
