#include "network/port_combination.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "network/conversion_workspace.h"
#include "network/matrix_inversion.h"
#include "network/port_network.h"
#include "network/type_conversion.h"

namespace cfit {

bool ValidJoinSelection(const unsigned char* join, int n) {
  if (join == nullptr || n < 0) return false;
  for (int k = 0; k < n; ++k) {
    if (join[k] > 1) return false;
  }
  return true;
}

Status CombinePorts(FitterState& state, const std::vector<bool>& join, int position,
                    const RunContext& context) {
  Network& network = state.network;
  const int n = network.portCount;
  std::vector<int> joined, rest;
  for (int k = 0; k < n; ++k) (join[k] ? joined : rest).push_back(k);
  if (!network.impedances.has_value() || network.impedances->size() < static_cast<std::size_t>(n))
    return ErrorCode::kInvalidImpedance;
  const std::vector<double>& z0 = *network.impedances;
  for (int port : joined) {
    if (z0[port] != z0[joined.front()]) return ErrorCode::kCombinedImpedancesDiffer;
  }
  const int m = static_cast<int>(joined.size()), r = static_cast<int>(rest.size());
  if (position < 0 || position > r) return ErrorCode::kInvalidCombinedPosition;
  if (m < 2) return ErrorCode::kNothingToDo;
  if (network.dataType != kS) return ErrorCode::kNeedsS;
  if (network.data->port_count() != n) return ErrorCode::kInconsistentData;
  ConversionWorkspace ws;
  if (state.HasPoints() && !BindConversionWorkspace(state, m, ws)) {
    return ErrorCode::kSizeExceedsWorkspace;
  }

  // New port k is the joined port at `position`, else rest[k] or rest[k - 1].
  const auto keptIndex = [position](int a) { return a < position ? a : a + 1; };
  SampledData out(r + 1);
  out.Reserve(network.data->points().size());
  std::vector<Complex> w(static_cast<std::size_t>(m) * m), rw(static_cast<std::size_t>(r) * m),
      row(r), column(r);
  const double rootM = std::sqrt(static_cast<double>(m));
  SingularPoints singular;
  for (ConstMatrixView s : network.data->points()) {
    for (int a = 0; a < m; ++a) {
      for (int b = 0; b < m; ++b) w[a * m + b] = s.At(joined[a], joined[b]);
      w[a * m + a] += 1.0;
    }
    bool regular = InvertMatrix(ws, w.data());
    Complex sigma;
    for (const Complex& v : w) sigma += v;
    regular = regular && !(sigma.re == 0.0 && sigma.im == 0.0);
    singular.Note(regular, s.frequency());
    const Complex inverseSigma = sigma.re == 0.0 && sigma.im == 0.0 ? Complex() : 1.0 / sigma;
    // rw = S_RC W; column = S_RC W 1; row = 1^T W S_CR.
    for (int a = 0; a < r; ++a) {
      column[a] = Complex();
      for (int d = 0; d < m; ++d) {
        Complex sum;
        for (int c = 0; c < m; ++c) sum += s.At(rest[a], joined[c]) * w[c * m + d];
        rw[a * m + d] = sum;
        column[a] += sum;
      }
    }
    for (int b = 0; b < r; ++b) {
      row[b] = Complex();
      for (int c = 0; c < m; ++c) {
        Complex wColumnSum;
        for (int d = 0; d < m; ++d) wColumnSum += w[d * m + c];
        row[b] += wColumnSum * s.At(joined[c], rest[b]);
      }
    }
    PortMatrix p(r + 1);
    p.set_frequency(s.frequency());
    p.At(position, position) = static_cast<double>(m) * inverseSigma - 1.0;
    for (int b = 0; b < r; ++b) {
      p.At(position, keptIndex(b)) = rootM * inverseSigma * row[b];
      p.At(keptIndex(b), position) = rootM * inverseSigma * column[b];
    }
    for (int a = 0; a < r; ++a) {
      for (int b = 0; b < r; ++b) {
        Complex through;
        for (int d = 0; d < m; ++d) through += rw[a * m + d] * s.At(joined[d], rest[b]);
        p.At(keptIndex(a), keptIndex(b)) =
            s.At(rest[a], rest[b]) - through + column[a] * row[b] * inverseSigma;
      }
    }
    if (!out.Append(p)) return Failure::Silent();
  }
  LogSingularPoints("Port combination", singular.count, out.point_count(), singular.first, context);
  std::vector<double> newZ0;
  for (int b = 0; b < r; ++b) newZ0.push_back(z0[rest[b]]);
  newZ0.insert(newZ0.begin() + position, z0[joined.front()] / m);
  InstallPortNetwork(state, std::move(out), std::move(newZ0));
  return Success();
}

}  // namespace cfit
