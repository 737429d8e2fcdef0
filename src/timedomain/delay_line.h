// The input history of a delayed element: (time, input) pairs in rising
// time, read back with linear interpolation at the delayed time.
#ifndef CFIT_TIMEDOMAIN_DELAY_LINE_H
#define CFIT_TIMEDOMAIN_DELAY_LINE_H

#include <cstddef>
#include <deque>

namespace cfit {

class DelayLine {
 public:
  explicit DelayLine(double delay) : delay_(delay) {}

  // The input at time t, interpolated linearly between the stored pairs
  // around t; outside the stored range the nearest end pair's value (0 when
  // nothing is stored).
  double Read(double t);

  // Stores (t, v): after the newest pair it is appended, at the newest
  // pair's time it overwrites the value, between the pair before the newest
  // and the newest it replaces the newest pair. Any earlier t is refused
  // (false). After an append, pairs older than what a read at the newest
  // time minus twice the delay needs are dropped.
  bool Write(double t, double v);

  std::size_t size() const { return pairs_.size(); }
  double delay() const { return delay_; }

 private:
  struct Pair {
    double t;
    double v;
  };
  double delay_;
  std::deque<Pair> pairs_;
  // Index of the pair at or before the last read time; reads at rising
  // times walk forward from it.
  std::size_t cursor_ = 0;
};

}  // namespace cfit

#endif  // CFIT_TIMEDOMAIN_DELAY_LINE_H
