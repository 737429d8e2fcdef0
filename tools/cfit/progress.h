// Running a fit the way an interactive user expects: the fit runs on a
// second thread while the main thread draws a progress bar on standard error
// from the fitter's progress fraction, and Ctrl-C reaches the fitter through
// its cancel byte so that the program can stop cleanly.
#ifndef CFIT_TOOLS_CFIT_PROGRESS_H
#define CFIT_TOOLS_CFIT_PROGRESS_H

#include <cfit/cfit.h>

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
  bool succeeded = false;  // Fit returned success and nobody cancelled it
  bool cancelled = false;  // Ctrl-C was pressed before or during the fit
  double seconds = 0.0;    // wall time of the fit
};

// Runs fitter.Fit() on a second thread (on this one when no thread can be
// started) and waits for it, drawing the progress bar and forwarding Ctrl-C.
FitOutcome RunFit(cFitAPI& fitter, ProgressMode mode);

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_PROGRESS_H
