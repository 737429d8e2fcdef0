// The sampled data set: frequency points of an N-port in strictly increasing
// frequency, each an N x N complex matrix, with the set's asymmetry
// statistics.
#ifndef CFIT_DATA_SAMPLED_DATA_H
#define CFIT_DATA_SAMPLED_DATA_H

#include <cstddef>
#include <vector>

#include "numeric/object_id.h"
#include "numeric/point_block.h"
#include "numeric/port_matrix.h"

namespace cfit {

// The points are held in one PointBlock: F x N x N complex values,
// point-major, with the F frequencies beside them.
class SampledData {
 public:
  explicit SampledData(int portCount) : portCount_(portCount), block_(portCount) {}
  // A set that takes over a block's storage: the leading points that keep
  // the set's rules (see Append); the block is dropped from the first point
  // that does not, and entirely when its order is not the port count.
  static SampledData Adopt(int portCount, PointBlock block);

  int port_count() const { return portCount_; }
  int point_count() const { return static_cast<int>(block_.size()); }
  bool empty() const { return block_.empty(); }
  int marked_count() const { return markedCount_; }

  // Reading never changes the set's identity, whatever the constness of the
  // caller's handle: caches keyed to the identity survive plain reads.
  ConstPointRange points() const { return block_.points(); }
  ConstMatrixView point(std::size_t k) const { return points()[k]; }
  // The points for change in place (element values; frequencies and order
  // must keep the set's rules). Taking them renews the set's identity, so
  // that values cached from the old contents are recomputed.
  PointRange MutablePoints() {
    id_.Renew();
    return block_.points();
  }
  ConstMatrixView front() const { return points().front(); }
  ConstMatrixView back() const { return points().back(); }

  // Appends a copy of a point. Refused (false, the set unchanged) when the
  // point's order differs from the set's port count or its frequency is not
  // finite or not strictly above the last point's (a file reader stops at
  // such a point). `marked` counts points the fitting engine adds.
  bool Append(ConstMatrixView point, bool marked = false);

  // Puts a 0 Hz point in front. Refused unless the point's frequency is
  // exactly 0, its order matches and the first point's frequency is above 0.
  bool PrependZeroHz(ConstMatrixView point);

  // Reserves room for `count` points.
  void Reserve(std::size_t count) { block_.Reserve(count); }

  // Largest point asymmetry A and largest ratio A / B over the points with
  // B != 0, where B is the largest row sum of element magnitudes and A the
  // largest row sum of transposition differences. A point with a non-finite
  // element makes both +infinity: such data are never symmetric.
  void ComputeAsymmetry();
  double absolute_asymmetry() const { return absoluteAsymmetry_; }
  double relative_asymmetry() const { return relativeAsymmetry_; }
  void ClearAsymmetry() { absoluteAsymmetry_ = relativeAsymmetry_ = 0.0; }

  // Replaces each element pair (i, j), (j, i) by its mean at every point and
  // clears the asymmetry statistics. When only one of a pair is finite, that
  // value is kept at both places (a non-finite value never overwrites a
  // finite one).
  void Symmetrize();

  // Identity for caches of values derived from the set; renewed by changes
  // made in place through this class.
  const ObjectId& id() const { return id_; }
  void MarkChanged() { id_.Renew(); }

 private:
  ObjectId id_;
  int portCount_ = 0;
  int markedCount_ = 0;
  double absoluteAsymmetry_ = 0.0;
  double relativeAsymmetry_ = 0.0;
  PointBlock block_;
};

// A new set in which every interior point that differs by at most `tolerance`
// (complex modulus, every element) from both the last kept point and the
// following point is dropped. The first and last points are always kept.
SampledData ReducedCopy(const SampledData& source, double tolerance);

// Makes the set start with a real 0 Hz point (a first frequency at or below
// 0 changes nothing): moves a first point close to
// 0 Hz to 0 Hz, or extrapolates a new point from the real parts of the
// lowest points. Needs at least two points; otherwise, or when the
// extrapolation cannot be solved, the set is unchanged. Returns true when the
// set changed.
bool AddZeroHzPoint(SampledData& data);

}  // namespace cfit

#endif  // CFIT_DATA_SAMPLED_DATA_H
