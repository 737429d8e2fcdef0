// A common frequency grid for two sampled data sets whose samples need not
// coincide: the walk that joining and cascading run over both sets.
#ifndef CFIT_NETWORK_FREQUENCY_GRID_MERGE_H
#define CFIT_NETWORK_FREQUENCY_GRID_MERGE_H

#include <functional>

#include "data/sampled_data.h"
#include "numeric/port_matrix.h"

namespace cfit {

// Two frequencies count as one when they differ by less than this fraction
// of either (of one that is above 0).
inline constexpr double kGridTolerance = 1e-7;
bool SameGridFrequency(double f1, double f2);

// Makes one output matrix (of the output set's order) from the values of
// both sets at one frequency, or returns false.
using GridCombine = std::function<bool(const PortMatrix& a, const PortMatrix& b, PortMatrix& out)>;

struct MergedGrid {
  SampledData data;
  // False when the combine step refused a point (the walk stopped there) or
  // the output set refused one (the walk went on).
  bool complete = true;
};

// Walks both sets in increasing frequency from the lower of their first
// frequencies until the set with the lower last frequency runs out. At each
// grid frequency a set with a sample there gives it; the other is
// interpolated linearly element by element (real and imaginary parts)
// between its current sample and the next, extrapolating before its first
// sample; a last sample gives its own values. Next frequencies of both sets
// that count as one become one grid point at the lower of the two.
MergedGrid MergeFrequencyGrids(const SampledData& a, const SampledData& b, int outputOrder,
                               const GridCombine& combine);

}  // namespace cfit

#endif  // CFIT_NETWORK_FREQUENCY_GRID_MERGE_H
