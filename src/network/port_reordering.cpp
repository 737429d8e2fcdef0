#include "network/port_reordering.h"

#include <cstddef>
#include <utility>

namespace cfit {

namespace {

// The n x n row-stored table t with rows and columns permuted.
template <class T>
std::vector<T> Permuted(const std::vector<T>& t, int n, const std::vector<int>& perm) {
  std::vector<T> out;
  out.reserve(t.size());
  for (int k = 0; k < n; ++k) {
    for (int l = 0; l < n; ++l) {
      out.push_back(t[static_cast<std::size_t>(perm[k]) * static_cast<std::size_t>(n) +
                      static_cast<std::size_t>(perm[l])]);
    }
  }
  return out;
}

void PermuteTable(std::vector<double>& table, int n, const std::vector<int>& perm) {
  if (table.size() == static_cast<std::size_t>(n) * static_cast<std::size_t>(n)) {
    table = Permuted(table, n, perm);
  }
}

void ReorderModel(Model& m, bool symmetric, const std::vector<int>& perm) {
  const int n = m.n;
  for (std::vector<double>* table :
       {&m.constant, &m.proportional, &m.delay, &m.rmsError, &m.maxError}) {
    PermuteTable(*table, n, perm);
  }
  for (PoleTerm& term : m.commonPoles) {
    if (term.n() != n) continue;
    PoleTerm moved(n);
    moved.SetPole(term.GetPole());
    for (int k = 0; k < n; ++k) {
      for (int l = 0; l < n; ++l) moved.SetResidue(k, l, term.GetResidue(perm[k], perm[l]));
    }
    term = std::move(moved);
  }
  if (m.elementPoles.size() == static_cast<std::size_t>(n) * static_cast<std::size_t>(n)) {
    m.elementPoles = Permuted(m.elementPoles, n, perm);
    if (symmetric) {
      for (int i = 0; i < n; ++i) {
        for (int j = i + 1; j < n; ++j) {
          PoleList& upper = m.elementPoles[m.Index(i, j)];
          if (upper.empty()) continue;
          m.elementPoles[m.Index(j, i)] = std::move(upper);
          upper.clear();
        }
      }
    }
  }
  m.id.Renew();
}

}  // namespace

bool IsPermutation(const int* perm, int n) {
  if (perm == nullptr || n < 0) return false;
  std::vector<bool> seen(static_cast<std::size_t>(n), false);
  for (int k = 0; k < n; ++k) {
    if (perm[k] < 0 || perm[k] >= n || seen[perm[k]]) return false;
    seen[perm[k]] = true;
  }
  return true;
}

void ReorderPorts(FitterState& state, const std::vector<int>& perm) {
  Network& network = state.network;
  const int n = network.portCount;
  if (network.impedances.has_value() && network.impedances->size() >= static_cast<std::size_t>(n)) {
    std::vector<double>& z0 = *network.impedances;
    const std::vector<double> old = z0;
    for (int k = 0; k < n; ++k) z0[k] = old[perm[k]];
  }
  if (network.data.has_value() && network.data->port_count() == n) {
    std::vector<Complex> old;
    for (MatrixView point : network.data->MutablePoints()) {
      old.assign(point.Row(0), point.Row(0) + static_cast<std::ptrdiff_t>(n) * n);
      for (int k = 0; k < n; ++k) {
        for (int l = 0; l < n; ++l) {
          point.At(k, l) = old[static_cast<std::size_t>(perm[k]) * n + perm[l]];
        }
      }
    }
  }
  if (state.model != nullptr && state.model->n == n) {
    ReorderModel(*state.model, network.symmetric, perm);
  }
}

}  // namespace cfit
