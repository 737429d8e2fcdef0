#include "network/join_modal_two_ports.h"

#include <utility>
#include <vector>

#include "data/data_loading.h"
#include "network/frequency_grid_merge.h"
#include "network/second_network.h"

namespace cfit {

PortMatrix JoinedModes(const PortMatrix& differential, const PortMatrix& common) {
  PortMatrix joined(4);
  joined.set_frequency(differential.frequency());
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      joined.At(i, j) = differential.At(i, j);
      joined.At(i + 2, j + 2) = common.At(i, j);
    }
  }
  return joined;
}

Status JoinModalTwoPorts(FitterState& state, const std::string& fileName,
                         const RunContext& context) {
  Result<Network> read = ReadSecondTouchstone(fileName, state.settings, context);
  if (!read.ok()) return read.failure();
  const Network& common = *read;
  if (common.portCount != 2 || common.dataType != kS) return ErrorCode::kNoData;
  const double z = state.network.impedances->front();
  if (!EqualImpedances(common) || common.impedances->front() != z)
    return ErrorCode::kNeedsEqualImpedances;

  MergedGrid merged =
      MergeFrequencyGrids(*state.network.data, *common.data, 4,
                          [](const PortMatrix& d, const PortMatrix& c, PortMatrix& out) {
                            out = JoinedModes(d, c);
                            return true;
                          });
  if (!merged.complete) return Failure::Silent();

  const bool symmetric = state.network.symmetric && common.symmetric;
  merged.data.ComputeAsymmetry();
  state.model.reset();
  state.ReplaceData(std::move(merged.data));
  state.network.portCount = 4;
  state.network.impedances = std::vector<double>(4, z);
  state.network.symmetric = symmetric;
  state.network.mixedMode = true;
  state.ResetElementTable();
  SetBandFromData(state);
  return Success();
}

}  // namespace cfit
