#include "network/frequency_grid_merge.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace cfit {

namespace {

// The walk's place in one set: its current sample and the frequency that
// sample stands for (a sample merged with the other set's stands for the
// lower of the two frequencies).
struct Cursor {
  const SampledData& set;
  std::size_t k = 0;
  double at = 0.0;

  explicit Cursor(const SampledData& s) : set(s), at(s.front().frequency()) {}
  bool HasNext() const { return k + 1 < static_cast<std::size_t>(set.point_count()); }
  double Next() const { return set.point(k + 1).frequency(); }
  void Advance() { at = set.point(++k).frequency(); }

  // The set's value at f.
  PortMatrix ValueAt(double f) const {
    PortMatrix value(set.point(k));
    value.set_frequency(f);
    if (at == f || !HasNext()) return value;
    const ConstMatrixView next = set.point(k + 1);
    const double t = (f - at) / (next.frequency() - at);
    for (int i = 0; i < value.order(); ++i) {
      for (int j = 0; j < value.order(); ++j) {
        Complex& v = value.At(i, j);
        const Complex w = next.At(i, j);
        v = Complex(v.re + t * (w.re - v.re), v.im + t * (w.im - v.im));
      }
    }
    return value;
  }
};

}  // namespace

bool SameGridFrequency(double f1, double f2) {
  const double d = std::abs(f1 - f2);
  return (f1 > 0.0 && d / f1 < kGridTolerance) || (f2 > 0.0 && d / f2 < kGridTolerance);
}

MergedGrid MergeFrequencyGrids(const SampledData& a, const SampledData& b, int outputOrder,
                               const GridCombine& combine) {
  MergedGrid merged{SampledData(outputOrder)};
  if (a.empty() || b.empty()) return merged;
  Cursor ca(a), cb(b);
  double f = std::min(ca.at, cb.at);
  for (;;) {
    PortMatrix out(outputOrder);
    if (!combine(ca.ValueAt(f), cb.ValueAt(f), out)) {
      merged.complete = false;
      return merged;
    }
    out.set_frequency(f);
    if (!merged.data.Append(out)) merged.complete = false;

    // One set sits at f while the other's sample lies ahead (only at the
    // start): the set at f moves on up to the other's sample, or the grid
    // takes the other's sample and the set at f is interpolated there.
    Cursor* here = ca.at == f && cb.at > f ? &ca : cb.at == f && ca.at > f ? &cb : nullptr;
    if (here != nullptr) {
      Cursor& ahead = here == &ca ? cb : ca;
      if (!ca.HasNext() || !cb.HasNext()) return merged;
      const double next = here->Next();
      if (SameGridFrequency(next, ahead.at)) {
        here->Advance();
        f = std::min(next, ahead.at);
        here->at = ahead.at = f;
      } else if (next < ahead.at) {
        here->Advance();
        f = next;
      } else {
        f = ahead.at;
      }
      continue;
    }
    if (!ca.HasNext() || !cb.HasNext()) return merged;
    const double na = ca.Next(), nb = cb.Next();
    if (na == nb || SameGridFrequency(na, nb)) {
      ca.Advance();
      cb.Advance();
      f = std::min(na, nb);
      ca.at = cb.at = f;
    } else if (na < nb) {
      ca.Advance();
      f = na;
    } else {
      cb.Advance();
      f = nb;
    }
  }
}

}  // namespace cfit
