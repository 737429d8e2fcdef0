#include "network/port_network.h"

#include <utility>

namespace cfit {

void InstallPortNetwork(FitterState& state, SampledData data, std::vector<double> z0) {
  Network& network = state.network;
  const int n = data.port_count();
  if (n != network.portCount) network.mixedMode = false;
  data.ComputeAsymmetry();
  network.symmetric = state.settings.symmetryTolerance > data.relative_asymmetry();
  state.model.reset();
  network.portCount = n;
  network.impedances = std::move(z0);
  state.ReplaceData(std::move(data));
  state.ResetElementTable();
}

}  // namespace cfit
