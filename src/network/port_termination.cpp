#include "network/port_termination.h"

#include <cstddef>
#include <utility>

#include "network/conversion_workspace.h"
#include "network/matrix_inversion.h"
#include "network/port_network.h"
#include "network/type_conversion.h"

namespace cfit {

bool ValidTerminationCodes(const int* codes, int n) {
  if (codes == nullptr || n < 0) return false;
  for (int k = 0; k < n; ++k) {
    if (codes[k] < kShort || codes[k] > kKeep) return false;
  }
  return true;
}

Status TerminatePorts(FitterState& state, const std::vector<int>& codes,
                      const RunContext& context) {
  Network& network = state.network;
  const int n = network.portCount;
  std::vector<int> kept, ended;  // ended: the shorted ports, then the opened ones
  for (int k = 0; k < n; ++k) {
    if (codes[k] == kKeep) kept.push_back(k);
  }
  for (int kind : {kShort, kOpen}) {
    for (int k = 0; k < n; ++k) {
      if (codes[k] == kind) ended.push_back(k);
    }
  }
  if (kept.size() == static_cast<std::size_t>(n)) return Success();
  if (kept.empty()) return ErrorCode::kInvalidSwap;
  if (network.dataType != kS) return ErrorCode::kNeedsS;
  if (network.data->port_count() != n) return ErrorCode::kInconsistentData;
  if (!network.impedances.has_value() || network.impedances->size() < static_cast<std::size_t>(n))
    return ErrorCode::kInvalidImpedance;
  const int k = static_cast<int>(kept.size()), t = static_cast<int>(ended.size());
  ConversionWorkspace ws;
  if (t > 0 && state.HasPoints() && !BindConversionWorkspace(state, t, ws)) {
    return ErrorCode::kSizeExceedsWorkspace;
  }

  SampledData out(k);
  out.Reserve(network.data->points().size());
  std::vector<Complex> m(static_cast<std::size_t>(t) * t), mInvS(static_cast<std::size_t>(t) * k);
  SingularPoints singular;
  for (ConstMatrixView s : network.data->points()) {
    PortMatrix p(k);
    p.set_frequency(s.frequency());
    for (int a = 0; a < k; ++a) {
      for (int b = 0; b < k; ++b) p.At(a, b) = s.At(kept[a], kept[b]);
    }
    if (t > 0) {
      // M: S_TT plus 1 on the diagonal of a short, minus 1 of an open.
      for (int a = 0; a < t; ++a) {
        for (int b = 0; b < t; ++b) m[a * t + b] = s.At(ended[a], ended[b]);
        m[a * t + a] += codes[ended[a]] == kShort ? 1.0 : -1.0;
      }
      singular.Note(InvertMatrix(ws, m.data()), s.frequency());
      for (int a = 0; a < t; ++a) {
        for (int b = 0; b < k; ++b) {
          Complex sum;
          for (int c = 0; c < t; ++c) sum += m[a * t + c] * s.At(ended[c], kept[b]);
          mInvS[a * k + b] = sum;
        }
      }
      for (int a = 0; a < k; ++a) {
        for (int b = 0; b < k; ++b) {
          Complex sum;
          for (int c = 0; c < t; ++c) sum += s.At(kept[a], ended[c]) * mInvS[c * k + b];
          p.At(a, b) -= sum;
        }
      }
    }
    if (!out.Append(p)) return Failure::Silent();
  }
  LogSingularPoints("Port termination", singular.count, out.point_count(), singular.first, context);
  std::vector<double> z0;
  for (int port : kept) z0.push_back((*network.impedances)[port]);
  InstallPortNetwork(state, std::move(out), std::move(z0));
  return Success();
}

}  // namespace cfit
