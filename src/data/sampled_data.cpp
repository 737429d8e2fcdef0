#include "data/sampled_data.h"

#include <cmath>
#include <limits>
#include <utility>

namespace cfit {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A point may follow a last point at `last` (none when `first`).
bool MayFollow(double frequency, bool first, double last) {
  return std::isfinite(frequency) && (first || frequency > last);
}

bool Finite(Complex v) { return std::isfinite(v.re) && std::isfinite(v.im); }

bool AllFinite(ConstMatrixView point) {
  for (int i = 0; i < point.order(); ++i) {
    for (int j = 0; j < point.order(); ++j) {
      if (!Finite(point.At(i, j))) return false;
    }
  }
  return true;
}

}  // namespace

SampledData SampledData::Adopt(int portCount, PointBlock block) {
  SampledData set(portCount);
  if (block.order() != portCount) return set;
  const ConstPointRange points = std::as_const(block).points();
  std::size_t kept = 0;
  while (kept < points.size() && MayFollow(points[kept].frequency(), kept == 0,
                                           kept == 0 ? 0.0 : points[kept - 1].frequency())) {
    ++kept;
  }
  block.Truncate(kept);
  set.block_ = std::move(block);
  return set;
}

bool SampledData::Append(ConstMatrixView point, bool marked) {
  if (point.order() != portCount_) return false;
  if (!MayFollow(point.frequency(), block_.empty(), empty() ? 0.0 : block_.back_frequency()))
    return false;
  block_.Append(point);
  if (marked) ++markedCount_;
  id_.Renew();
  return true;
}

bool SampledData::PrependZeroHz(ConstMatrixView point) {
  if (point.frequency() != 0.0 || point.order() != portCount_) return false;
  if (block_.empty() || !(block_.front_frequency() > 0.0)) return false;
  block_.Prepend(point);
  id_.Renew();
  return true;
}

void SampledData::ComputeAsymmetry() {
  absoluteAsymmetry_ = 0.0;
  relativeAsymmetry_ = 0.0;
  for (ConstMatrixView point : points()) {
    // A non-finite element has no mirror to agree with: such a point is
    // unboundedly asymmetric (magnitudes and maxima would hide a NaN).
    if (!AllFinite(point)) {
      absoluteAsymmetry_ = relativeAsymmetry_ = kInfinity;
      return;
    }
    const double b = point.RowSumNorm();
    const double a = point.AsymmetryNorm();
    if (a > absoluteAsymmetry_) absoluteAsymmetry_ = a;
    if (b != 0.0 && a / b > relativeAsymmetry_) relativeAsymmetry_ = a / b;
  }
}

void SampledData::Symmetrize() {
  for (MatrixView point : MutablePoints()) {
    for (int i = 1; i < portCount_; ++i) {
      for (int j = 0; j < i; ++j) {
        // A non-finite value never replaces a finite one: when only one of
        // the pair is finite, it stands at both places.
        const Complex lower = point.At(i, j);
        const Complex upper = point.At(j, i);
        const Complex value = Finite(lower) == Finite(upper) ? 0.5 * (lower + upper)
                              : Finite(lower)                ? lower
                                                             : upper;
        point.At(i, j) = value;
        point.At(j, i) = value;
      }
    }
  }
  ClearAsymmetry();
  MarkChanged();
}

}  // namespace cfit
