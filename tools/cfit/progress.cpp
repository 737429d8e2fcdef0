#include "progress.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#include <io.h>
#define CFIT_ISATTY(fd) _isatty(fd)
#define CFIT_WRITE(fd, text, size) _write(fd, text, static_cast<unsigned>(size))
#else
#include <unistd.h>
#define CFIT_ISATTY(fd) isatty(fd)
#define CFIT_WRITE(fd, text, size) write(fd, text, size)
#endif

namespace cfit_tool {

namespace {

// Set from the signal handler, which may run on either thread; a lock-free
// atomic is safe in a handler and between the threads alike.
std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  if (interrupts.exchange(1) != 0) {
    static const char kText[] = "\ncfit: interrupted again, stopping at once\n";
    if (CFIT_WRITE(2, kText, sizeof kText - 1) < 0) {
      // Nothing more can be done from inside a signal handler.
    }
    std::_Exit(130);
  }
}

// One line on standard error, redrawn in place with a carriage return: a bar
// with the fraction done when the call reports one, else the elapsed time
// with a turning mark.
class ProgressBar {
 public:
  ProgressBar(bool enabled, const char* label, bool fraction)
      : enabled_(enabled), label_(label), fraction_(fraction) {}

  void Draw(double fraction, double seconds) {
    if (!enabled_) return;
    if (!(fraction >= 0.0)) fraction = 0.0;  // also catches NaN
    if (fraction > 1.0) fraction = 1.0;
    constexpr int kWidth = 30;
    const int whole = static_cast<int>(seconds);
    char line[128];
    if (fraction_) {
      const int filled = static_cast<int>(fraction * kWidth + 0.5);
      std::snprintf(line, sizeof line, "\r%s [%s%s] %3d%%  %d:%02d", label_,
                    std::string(static_cast<std::size_t>(filled), '#').c_str(),
                    std::string(static_cast<std::size_t>(kWidth - filled), '-').c_str(),
                    static_cast<int>(fraction * 100.0 + 0.5), whole / 60, whole % 60);
    } else {
      static const char kTurn[] = "|/-\\";
      std::snprintf(line, sizeof line, "\r%s %c  %d:%02d", label_, kTurn[turn_++ % 4], whole / 60,
                    whole % 60);
    }
    std::fputs(line, stderr);
    std::fflush(stderr);
    drawn_ = true;
  }

  // A line of its own below the bar, which is not drawn again.
  void Message(const char* text) {
    if (drawn_) std::fputs("\n", stderr);
    std::fputs(text, stderr);
    std::fflush(stderr);
    drawn_ = false;
    enabled_ = false;
  }

  void Finish(bool complete, double seconds) {
    if (!enabled_) return;
    if (complete && fraction_) Draw(1.0, seconds);
    if (drawn_) std::fputs("\n", stderr);
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  const char* label_;
  bool fraction_;
  unsigned turn_ = 0;
  bool drawn_ = false;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

InterruptGuard::InterruptGuard() : previous_(std::signal(SIGINT, OnInterrupt)) {}

InterruptGuard::~InterruptGuard() {
  std::signal(SIGINT, previous_ == SIG_ERR ? SIG_DFL : previous_);
}

bool InterruptGuard::Interrupted() { return interrupts.load() != 0; }

FitOutcome RunOnWorker(cFitAPI& fitter, ProgressMode mode, const Task& task) {
  FitOutcome outcome;
  if (InterruptGuard::Interrupted()) {
    outcome.cancelled = true;
    return outcome;
  }
  const bool show =
      mode == ProgressMode::kAlways || (mode == ProgressMode::kAuto && CFIT_ISATTY(2));
  ProgressBar bar(show, task.label, task.tracksProgress);
  const double* progress = task.tracksProgress ? fitter.GetProgress() : nullptr;
  char cancel = 0;
  if (task.tracksProgress) fitter.SetCancelFlag(&cancel);
  const auto start = std::chrono::steady_clock::now();

  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  int result = 0;
  std::thread worker;
  try {
    worker = std::thread([&] {
      const int r = task.call();
      {
        std::lock_guard<std::mutex> lock(mutex);
        result = r;
        done = true;
      }
      finished.notify_one();
    });
  } catch (const std::system_error&) {
    // No second thread: run here, without a bar or cancellation.
    result = task.call();
    done = true;
  }

  if (worker.joinable()) {
    bool stopping = false;
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; })) {
      lock.unlock();
      if (InterruptGuard::Interrupted() && !stopping) {
        stopping = true;
        if (task.tracksProgress) {
          std::atomic_ref<char>(cancel).store(1, std::memory_order_relaxed);
          bar.Message("cfit: stopping the fit (Ctrl-C again ends the program at once)\n");
        } else {
          const std::string text = std::string("cfit: stopping when ") + task.label +
                                   " ends (it cannot be interrupted; Ctrl-C again ends the "
                                   "program at once)\n";
          bar.Message(text.c_str());
        }
      }
      const double fraction =
          progress != nullptr
              ? std::atomic_ref<const double>(*progress).load(std::memory_order_relaxed)
              : 0.0;
      bar.Draw(fraction, SecondsSince(start));
      lock.lock();
    }
    lock.unlock();
    worker.join();
  }

  outcome.seconds = SecondsSince(start);
  outcome.cancelled = cancel != 0 || InterruptGuard::Interrupted();
  outcome.succeeded = result != 0 && !outcome.cancelled;
  bar.Finish(outcome.succeeded, outcome.seconds);
  if (task.tracksProgress) fitter.SetCancelFlag(nullptr);
  return outcome;
}

FitOutcome RunFit(cFitAPI& fitter, ProgressMode mode) {
  return RunOnWorker(fitter, mode, Task{"fitting", true, [&fitter] { return fitter.Fit(); }});
}

}  // namespace cfit_tool
