// Read-outs of the sampled data for the host. The caller checks the
// preconditions that concern the fitter (data present, indices valid).
#ifndef CFIT_DATA_DATA_QUERIES_H
#define CFIT_DATA_DATA_QUERIES_H

#include "core/result.h"
#include "core/run_context.h"
#include "data/sampled_data.h"
#include "network/conversion_workspace.h"

namespace cfit {

// The largest |m(i, j)| over the points and its frequency (the first of a
// tie; 0 and 0 when every value is 0).
struct ElementPeak {
  double magnitude = 0.0;
  double frequency = 0.0;
};
ElementPeak MaxElementMagnitude(const SampledData& data, int i, int j);

// |S(i, j)| at the lowest frequency. S data are read as they are; Y and Z
// data convert a copy of the first point to S with the impedances `z0`
// and the workspace (a singular system is reported in the log and its
// solver output used); the held data stay as they are.
double LowestPointTransfer(const SampledData& data, int dataType, int i, int j, const double* z0,
                           ConversionWorkspace* ws, const RunContext& context);

}  // namespace cfit

#endif  // CFIT_DATA_DATA_QUERIES_H
