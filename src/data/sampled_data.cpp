#include "data/sampled_data.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace cfit {

bool SampledData::Append(PortMatrix point, bool marked) {
  if (point.order() != portCount_) return false;
  if (!std::isfinite(point.frequency())) return false;
  if (!points_.empty() && !(point.frequency() > points_.back().frequency())) return false;
  points_.push_back(std::move(point));
  if (marked) ++markedCount_;
  id_.Renew();
  return true;
}

bool SampledData::PrependZeroHz(PortMatrix point) {
  if (point.frequency() != 0.0 || point.order() != portCount_) return false;
  if (points_.empty() || !(points_.front().frequency() > 0.0)) return false;
  points_.insert(points_.begin(), std::move(point));
  id_.Renew();
  return true;
}

SampledData SampledData::CopyFirst(int k) const {
  SampledData copy(portCount_);
  const int count = std::clamp(k, 0, point_count());
  copy.points_.assign(points_.begin(), points_.begin() + count);
  return copy;
}

void SampledData::ComputeAsymmetry() {
  absoluteAsymmetry_ = 0.0;
  relativeAsymmetry_ = 0.0;
  for (const PortMatrix& point : points_) {
    const double b = point.RowSumNorm();
    const double a = point.AsymmetryNorm();
    if (a > absoluteAsymmetry_) absoluteAsymmetry_ = a;
    if (b != 0.0 && a / b > relativeAsymmetry_) relativeAsymmetry_ = a / b;
  }
}

void SampledData::Symmetrize() {
  for (PortMatrix& point : points_) {
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

void SetStoredAggregate(PortMatrix& point, bool individualPoles) {
  if (!individualPoles) point.AlternatingSum();
}

}  // namespace cfit
