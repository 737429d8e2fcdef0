#include "data/data_queries.h"

#include "network/type_conversion.h"

namespace cfit {

ElementPeak MaxElementMagnitude(const SampledData& data, int i, int j) {
  ElementPeak peak;
  for (ConstMatrixView point : data.points()) {
    const double m = Abs(point.At(i, j));
    if (m > peak.magnitude) peak = {m, point.frequency()};
  }
  return peak;
}

double LowestPointTransfer(const SampledData& data, int dataType, int i, int j, const double* z0,
                           ConversionWorkspace* ws, const RunContext& context) {
  if (dataType == kS) return Abs(data.front().At(i, j));
  PortMatrix copy(data.front());
  if (!ConvertMatrix(*ws, dataType, kS, z0, copy.Row(0))) {
    LogSingularPoints(1, 1, copy.frequency(), context);
  }
  return Abs(copy.At(i, j));
}

}  // namespace cfit
