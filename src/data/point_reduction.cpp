// Point reduction: drops interior points of flat stretches.
#include <cstddef>

#include "data/sampled_data.h"

namespace cfit {

namespace {

// True when every element of a and b differs by at most `tolerance`.
bool Close(ConstMatrixView a, ConstMatrixView b, double tolerance) {
  const int n = a.order();
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (!(Abs(a.At(i, j) - b.At(i, j)) <= tolerance)) return false;
    }
  }
  return true;
}

}  // namespace

SampledData ReducedCopy(const SampledData& source, double tolerance) {
  SampledData copy(source.port_count());
  const ConstPointRange points = source.points();
  if (points.empty()) return copy;
  copy.Append(points.front());
  for (std::size_t k = 1; k < points.size(); ++k) {
    const bool hasNext = k + 1 < points.size();
    if (hasNext && Close(points[k], copy.back(), tolerance) &&
        Close(points[k + 1], points[k], tolerance)) {
      continue;
    }
    copy.Append(points[k]);
  }
  return copy;
}

}  // namespace cfit
