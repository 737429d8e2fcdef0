#include "network/second_network.h"

#include <algorithm>
#include <utility>

#include "data/data_loading.h"
#include "io/touchstone_reader.h"
#include "network/type_conversion.h"

namespace cfit {

Result<Network> ReadSecondTouchstone(const std::string& fileName, const Settings& settings,
                                     const RunContext& context) {
  TouchstoneReach reach;
  Result<TouchstoneFile> read = ReadTouchstoneFile(fileName, {}, context, &reach);
  if (!read.ok()) {
    if (reach.started) LogTouchstoneReadEnd(fileName, context);
    return read.failure();
  }
  FitterState scratch;
  scratch.settings = settings;
  scratch.network.portCount = read->portCount;
  const bool stored = StoreReadPoints(scratch, std::move(read->points), context);
  LogTouchstoneReadEnd(fileName, context);
  if (!stored) return ErrorCode::kNoPointsRead;
  scratch.network.dataType = read->dataType;
  scratch.network.impedances = std::move(read->impedances);
  scratch.network.elements.reset();
  return std::move(scratch.network);
}

Network CopyOfData(const Network& held) {
  Network copy;
  copy.portCount = held.portCount;
  copy.dataType = held.dataType;
  copy.impedances = held.impedances;
  copy.data = held.data;
  copy.symmetric = held.symmetric;
  copy.mixedMode = held.mixedMode;
  return copy;
}

Result<Network> ConvertedTo(Network network, int target, const RunContext& context) {
  FitterState scratch;
  scratch.network = std::move(network);
  const Status converted = ConvertDataType(scratch, target, context);
  if (!converted.ok()) return converted.failure();
  scratch.network.elements.reset();
  return std::move(scratch.network);
}

bool EqualImpedances(const Network& network) {
  if (!network.impedances.has_value() || network.impedances->empty()) return false;
  const std::vector<double>& z = *network.impedances;
  return std::all_of(z.begin(), z.end(), [&](double v) { return v == z.front(); });
}

}  // namespace cfit
