#include "timedomain/port_solver.h"

#include <cmath>

#include "fit/model_evaluation.h"

namespace cfit {

int cCPSolverImp::FreeElements() {
  elements_.clear();
  elements_.shrink_to_fit();
  inputs_ = {}, work_ = {}, matrix_ = {};
  n_ = 0;
  mixed_ = false;
  return 1;
}

int cCPSolverImp::BuildElements(int p1, int p2, int p3, int p4) {
  FreeElements();
  const FitterState& state = *fitter_;
  const int n = state.network.portCount;
  if (n <= 0 || !state.HasFit() || state.model->n != n) return 0;
  if (!state.network.impedances.has_value() ||
      state.network.impedances->size() < static_cast<std::size_t>(n))
    return 0;
  const std::vector<double>& z0 = *state.network.impedances;
  if (state.network.mixedMode) {
    // Mixed mode: 4 ports in a permuted order, one reference impedance.
    if (n != 4) return 0;
    const int order[4] = {p1 - 1, p2 - 1, p3 - 1, p4 - 1};
    bool seen[4] = {};
    for (int p : order) {
      if (p < 0 || p > 3 || seen[p]) return 0;
      seen[p] = true;
    }
    if (z0[1] != z0[0] || z0[2] != z0[0] || z0[3] != z0[0]) return 0;
    toModes_ = {}, toPorts_ = {};
    // m0 = u(p0) - u(p1), m1 = u(p2) - u(p3), m2 = u(p1) + u(p0), m3 = u(p3) + u(p2).
    const int a[4] = {order[0], order[2], order[0], order[2]};
    const int b[4] = {order[1], order[3], order[1], order[3]};
    for (int m = 0; m < 4; ++m) {
      const double sign = m < 2 ? -1.0 : 1.0;
      toModes_[m][a[m]] = 1.0, toModes_[m][b[m]] = sign;
      // u(a) = (m_diff + m_common) / 2, u(b) = (m_common - m_diff) / 2.
      toPorts_[a[m]][m] = 0.5;
      toPorts_[b[m]][m] = m < 2 ? -0.5 : 0.5;
    }
    mixed_ = true;
  }
  const ModelView view = ViewOf(state);
  elements_.reserve(static_cast<std::size_t>(n * n));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      std::optional<SolverElement> element =
          SolverElement::Build(TimeDomainElementOf(view, i, j), state.network.dataType, i == j,
                               z0[static_cast<std::size_t>(i)], z0[static_cast<std::size_t>(j)]);
      // What was built so far stays until FreeElements.
      if (!element.has_value()) return 0;
      elements_.push_back(std::move(*element));
    }
  }
  n_ = n;
  inputs_.assign(static_cast<std::size_t>(n), 0.0);
  work_.assign(static_cast<std::size_t>(n), 0.0);
  matrix_.assign(static_cast<std::size_t>(n * n), 0.0);
  return 1;
}

const std::vector<double>& cCPSolverImp::Inputs(const double* u) {
  for (int j = 0; j < n_; ++j) inputs_[static_cast<std::size_t>(j)] = u[j];
  if (mixed_) {
    for (int m = 0; m < 4; ++m) {
      double sum = 0.0;
      for (int j = 0; j < 4; ++j) sum += toModes_[m][j] * u[j];
      inputs_[static_cast<std::size_t>(m)] = sum;
    }
  }
  return inputs_;
}

template <class F>
bool cCPSolverImp::PutMatrix(double** out, F get) {
  if (out == nullptr) return false;
  for (int i = 0; i < n_; ++i) {
    if (out[i] == nullptr) return false;
  }
  for (int i = 0; i < n_; ++i) {
    for (int j = 0; j < n_; ++j) matrix_[static_cast<std::size_t>(i * n_ + j)] = get(At(i, j));
  }
  for (int i = 0; i < n_; ++i) {
    for (int j = 0; j < n_; ++j) {
      if (!mixed_) {
        out[i][j] = matrix_[static_cast<std::size_t>(i * n_ + j)];
        continue;
      }
      // Ports: toPorts M toModes.
      double sum = 0.0;
      for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) sum += toPorts_[i][a] * matrix_[a * 4 + b] * toModes_[b][j];
      }
      out[i][j] = sum;
    }
  }
  return true;
}

bool cCPSolverImp::PutHistories(double* out) {
  if (out == nullptr) return false;
  for (int i = 0; i < n_; ++i) {
    double sum = 0.0;
    for (int j = 0; j < n_; ++j) sum += At(i, j).History();
    work_[static_cast<std::size_t>(i)] = sum;
  }
  for (int i = 0; i < n_; ++i) {
    if (!mixed_) {
      out[i] = work_[static_cast<std::size_t>(i)];
      continue;
    }
    double sum = 0.0;
    for (int m = 0; m < 4; ++m) sum += toPorts_[i][m] * work_[static_cast<std::size_t>(m)];
    out[i] = sum;
  }
  return true;
}

int cCPSolverImp::GetDCMatrix(double** matrix) {
  if (!Built()) return 0;
  return PutMatrix(matrix, [](const SolverElement& e) { return e.DcValue(); }) ? 1 : 0;
}

int cCPSolverImp::Start(const double* u, double dt) {
  if (!Built() || u == nullptr || !(dt >= 0.0) || !std::isfinite(dt)) return 0;
  const std::vector<double>& in = Inputs(u);
  int ok = 1;
  for (int i = 0; i < n_; ++i) {
    for (int j = 0; j < n_; ++j) ok &= At(i, j).Start(in[static_cast<std::size_t>(j)], dt) ? 1 : 0;
  }
  return ok;
}

int cCPSolverImp::Advance(double t, const double* u, double** G, double* H) {
  if (!Built() || u == nullptr || G == nullptr || H == nullptr) return 0;
  for (int i = 0; i < n_; ++i) {
    if (G[i] == nullptr) return 0;
  }
  const std::vector<double>& in = Inputs(u);
  int ok = 1;
  for (int i = 0; i < n_; ++i) {
    for (int j = 0; j < n_; ++j) ok &= At(i, j).Advance(t, in[static_cast<std::size_t>(j)]) ? 1 : 0;
  }
  if (ok == 0) return 0;
  PutMatrix(G, [](const SolverElement& e) { return e.Gain(); });
  PutHistories(H);
  return 1;
}

int cCPSolverImp::StartFixedStep(const double* u, double dt, double** G, double* H) {
  if (!Built() || u == nullptr || G == nullptr || H == nullptr || !(dt > 0.0)) return 0;
  for (int i = 0; i < n_; ++i) {
    if (G[i] == nullptr) return 0;
  }
  if (Start(u, dt) == 0) return 0;
  for (SolverElement& element : elements_) element.FirstStep();
  PutMatrix(G, [](const SolverElement& e) { return e.Gain(); });
  PutHistories(H);
  return 1;
}

int cCPSolverImp::Step(const double* u, double* H) {
  if (!Built() || u == nullptr || H == nullptr) return 0;
  const std::vector<double>& in = Inputs(u);
  int ok = 1;
  for (int i = 0; i < n_; ++i) {
    for (int j = 0; j < n_; ++j) ok &= At(i, j).Step(in[static_cast<std::size_t>(j)]) ? 1 : 0;
  }
  if (ok == 0) return 0;
  PutHistories(H);
  return 1;
}

int cCPSolverImp::GetElementResponse(int i, int j, double frequency, double* value) {
  if (!Built() || i < 0 || j < 0 || i >= n_ || j >= n_ || value == nullptr) return 0;
  const std::complex<double> h = At(i, j).Response(frequency);
  value[0] = h.real();
  value[1] = h.imag();
  return 1;
}

}  // namespace cfit
