// The network a fitter describes, as a value: port count, data type,
// reference impedances, the sampled data (the points in one contiguous
// block), the per-element option table and the symmetric and mode flags.
// Replacing the held network is one assignment.
#ifndef CFIT_CORE_NETWORK_H
#define CFIT_CORE_NETWORK_H

#include <memory>
#include <optional>
#include <vector>

#include "data/sampled_data.h"
#include "numeric/element_table.h"

namespace cfit {

// Data type codes shared by data and model.
enum DataType : int {
  kNoData = 0,
  kS = 1,
  kY = 2,
  kZ = 3,
  kABCD = 4,  // 2-port chain matrix, produced only from S
  kPulse = 5  // the pulse model, letter P in files
};

struct Network {
  int portCount = 0;
  int dataType = kNoData;
  // Per-port reference impedances in ohms; absent until data or a model are
  // loaded.
  std::optional<std::vector<double>> impedances;
  // Absent when the fitter holds no data set; a set may be present with no
  // points yet (between BeginData and the first point).
  std::optional<SampledData> data;
  std::unique_ptr<ElementTable> elements;
  bool symmetric = true;
  bool mixedMode = false;

  bool HasPoints() const { return data.has_value() && !data->empty(); }
};

}  // namespace cfit

#endif  // CFIT_CORE_NETWORK_H
