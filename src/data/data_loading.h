// Loading sampled data into a fitter: point by point from the host, or as a
// finished list from a file reader.
#ifndef CFIT_DATA_DATA_LOADING_H
#define CFIT_DATA_DATA_LOADING_H

#include <vector>

#include "api/fitter_state.h"
#include "core/run_context.h"

namespace cfit {

// Starts point-by-point loading: sets the port count, the impedances (N
// values; 50 ohms each when none are given), the data type and a fresh
// element table, replaces the data by an empty set and drops the data's
// margin list. The model is not touched. A port count outside
// 1..kMaxPortCount changes nothing (the facade refuses it with error 45).
void BeginData(FitterState& state, int portCount, int dataType, const double* impedances);

// Appends one host point. False when there is no set, the record is
// incomplete, its frequency or a value is not a finite number, or the set
// refuses the point.
bool AddDataPoint(FitterState& state, const DataPointRecord* record);

// Finishes host data: band ends, capacity warning, optional 0 Hz point and
// the asymmetry statistics. Returns the symmetric flag it sets. Without a set
// or without points it returns false and changes nothing.
bool EndData(FitterState& state);

// Takes the pole band from the data's first and last frequencies, unless the
// caller's band is kept (caller band set and the end valid).
void SetBandFromData(FitterState& state);

// Takes over the points a file reader produced (already in the fitter's port
// order and units) as the sampled data, up to the first point the set
// refuses (see SampledData::Append), without copying them; logs the count,
// adds the 0 Hz point and reduces points when asked, then measures asymmetry
// and symmetrises data that are symmetric within the tolerance.
// Returns false when no point was given (error 24 for the caller). The log lines
// go through `context`.
bool StoreReadPoints(FitterState& state, PointBlock points,
                     const RunContext& context = RunContext());

}  // namespace cfit

#endif  // CFIT_DATA_DATA_LOADING_H
