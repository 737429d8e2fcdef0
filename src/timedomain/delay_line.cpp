#include "timedomain/delay_line.h"

namespace cfit {

double DelayLine::Read(double t) {
  if (pairs_.empty()) return 0.0;
  if (!(t > pairs_.front().t)) return pairs_.front().v;
  if (!(t < pairs_.back().t)) return pairs_.back().v;
  if (cursor_ >= pairs_.size() - 1 || pairs_[cursor_].t > t) cursor_ = 0;
  while (pairs_[cursor_ + 1].t < t) ++cursor_;
  const Pair& a = pairs_[cursor_];
  const Pair& b = pairs_[cursor_ + 1];
  return a.v + (b.v - a.v) * (t - a.t) / (b.t - a.t);
}

bool DelayLine::Write(double t, double v) {
  if (pairs_.empty() || t > pairs_.back().t) {
    pairs_.push_back({t, v});
    const double oldestNeeded = t - 2.0 * delay_;
    while (pairs_.size() > 2 && pairs_[1].t < oldestNeeded) {
      pairs_.pop_front();
      if (cursor_ > 0) --cursor_;
    }
    return true;
  }
  if (t == pairs_.back().t) {
    pairs_.back().v = v;
    return true;
  }
  if (pairs_.size() == 1 || t > pairs_[pairs_.size() - 2].t) {
    pairs_.back() = {t, v};
    return true;
  }
  return false;
}

}  // namespace cfit
