#include "network/renormalization.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "network/impedance_scaling.h"
#include "network/type_conversion.h"
#include "numeric/complex_inverse.h"

namespace cfit {

bool UsableImpedances(const double* impedances, int n) {
  if (impedances == nullptr || n < 0) return false;
  for (int k = 0; k < n; ++k) {
    if (!std::isfinite(impedances[k]) || !(impedances[k] > 0.0)) return false;
  }
  return true;
}

bool RenormalizeMatrix(ConversionWorkspace& ws, const double* oldZ0, const double* newZ0,
                       Complex* x) {
  const int n = ws.n;
  const auto at = [n](int i, int j) {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(n) + static_cast<std::size_t>(j);
  };
  std::vector<double> rho(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) rho[k] = oldZ0[k] / newZ0[k];
  // Right-hand sides B = S diag(rho + 1) + diag(rho - 1); the system
  // A = S diag(rho - 1) + diag(rho + 1) takes the place of S.
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const Complex s = x[at(i, j)];
      ws.rhs[at(i, j)] = s * (rho[j] + 1.0);
      x[at(i, j)] = s * (rho[j] - 1.0);
    }
    ws.rhs[at(i, i)] += rho[i] - 1.0;
    x[at(i, i)] += rho[i] + 1.0;
  }
  EmbedComplexMatrix(n, x, ws.system, ws.lda);
  const bool regular = SolveForColumns(ws, x);
  for (int i = 0; i < n; ++i) {
    const double qi = std::sqrt(newZ0[i] / oldZ0[i]);
    for (int j = 0; j < n; ++j) {
      if (j != i) x[at(i, j)] *= std::sqrt(newZ0[j] / oldZ0[j]) / qi;
    }
  }
  return regular;
}

Status ChangeReferenceImpedances(FitterState& state, const double* newZ0,
                                 const RunContext& context) {
  Network& network = state.network;
  const int n = network.portCount;
  // A fitter without ports has no impedances to change.
  if (n == 0) return Success();
  const std::vector<double> values(newZ0, newZ0 + n);
  if (network.dataType != kS) {
    network.impedances = values;
    return Success();
  }
  // Without data there is nothing to renormalise: the fitter keeps what it
  // holds.
  if (!network.data.has_value()) return Failure::Silent();
  if (network.data->port_count() != n) return ErrorCode::kInconsistentData;
  if (!ValidReferenceImpedances(state, n)) return ErrorCode::kInvalidImpedance;
  ConversionWorkspace ws;
  if (state.HasPoints() && !BindConversionWorkspace(state, n, ws)) {
    return ErrorCode::kSizeExceedsWorkspace;
  }

  state.model.reset();
  const std::vector<double> old(network.impedances->begin(), network.impedances->begin() + n);
  network.impedances = values;
  if (!state.HasPoints()) return Success();
  SingularPoints singular;
  const PointRange points = network.data->MutablePoints();
  for (MatrixView point : points) {
    singular.Note(RenormalizeMatrix(ws, old.data(), values.data(), point.Row(0)),
                  point.frequency());
  }
  LogSingularPoints("Reference impedance change", singular.count, static_cast<int>(points.size()),
                    singular.first, context);
  return Success();
}

}  // namespace cfit
