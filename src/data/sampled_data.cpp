#include "data/sampled_data.h"

#include <cmath>
#include <utility>

namespace cfit {

namespace {

// A point may follow a last point at `last` (none when `first`).
bool MayFollow(double frequency, bool first, double last) {
  return std::isfinite(frequency) && (first || frequency > last);
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
        const Complex mean = 0.5 * (point.At(i, j) + point.At(j, i));
        point.At(i, j) = mean;
        point.At(j, i) = mean;
      }
    }
  }
  ClearAsymmetry();
  MarkChanged();
}

}  // namespace cfit
