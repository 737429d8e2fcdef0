// Running a fit the way an interactive user expects: the fit runs on a
// second thread while the main thread draws a progress bar on standard error
// from the fitter's progress fraction, and Ctrl-C reaches the fitter through
// its cancel byte so that the program can stop cleanly.
#ifndef CFIT_TOOLS_CFIT_PROGRESS_H
#define CFIT_TOOLS_CFIT_PROGRESS_H

#include <cfit/cfit.h>

#include <functional>

namespace cfit_tool {

// Catches SIGINT for its lifetime. The first Ctrl-C only sets a flag that
// the program polls; a second one ends the process at once (status 130).
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // True once Ctrl-C was pressed while a guard was installed.
  static bool Interrupted();

 private:
  void (*previous_)(int);
};

// Whether a progress bar is drawn: "auto" draws it when standard error is a
// terminal.
enum class ProgressMode { kAuto, kAlways, kNever };

struct FitOutcome {
  bool succeeded = false;  // the call returned success and nobody cancelled it
  bool cancelled = false;  // Ctrl-C was pressed before or during the call
  double seconds = 0.0;    // wall time of the call
};

// A long library call to run with RunOnWorker.
struct Task {
  const char* label;    // drawn at the left of the bar, e.g. "fitting"
  bool tracksProgress;  // the call updates the progress fraction and reads the cancel byte
  std::function<int()> call;
};

// Runs the task's call on a second thread (on this one when no thread can be
// started) and waits for it, drawing the progress bar. Ctrl-C reaches a call
// that reads the cancel byte; any other call runs to its end and is then
// reported as cancelled.
FitOutcome RunOnWorker(cFitAPI& fitter, ProgressMode mode, const Task& task);

// RunOnWorker for fitter.Fit().
FitOutcome RunFit(cFitAPI& fitter, ProgressMode mode);

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_PROGRESS_H
