// What a fitter keeps of its passivity assessments between calls: the model
// check curve and the cached conductance matrices (the engine's), and the
// types of the margin lists and accuracy matrices the host session holds.
#ifndef CFIT_PASSIVITY_PASSIVITY_STATE_H
#define CFIT_PASSIVITY_PASSIVITY_STATE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "numeric/complex.h"

namespace cfit {

// One point of a sampled passivity curve (the "module function"): the
// measure at a frequency (the margin, in the host's margin lists) and, for a
// row curve, the row's N values |H(i, k)|^2.
struct PassivityPoint {
  double frequency = 0.0;
  double measure = 0.0;
  std::vector<double> values;
};
using PassivityCurve = std::vector<PassivityPoint>;

// A margin list and its walk.
struct MarginList {
  PassivityCurve points;
  std::optional<std::size_t> cursor;
};

// A normalised conductance matrix computed from one source (the data or the
// model, told apart by identity) at one frequency.
struct ConductanceCache {
  bool valid = false;
  bool fromModel = false;
  std::uint64_t source = 0;
  double frequency = 0.0;
  int n = 0;
  std::vector<Complex> values;  // N x N, row by row
};

// N row arrays of N doubles, owned here and handed to the host.
struct HostMatrix {
  std::vector<double> storage;
  std::vector<double*> rows;
  void Resize(int n) {
    const auto size = static_cast<std::size_t>(n);
    storage.assign(size * size, 0.0);
    rows.resize(size);
    for (std::size_t i = 0; i < size; ++i) rows[i] = storage.data() + i * size;
  }
  int order() const { return static_cast<int>(rows.size()); }
  double& At(int i, int j) {
    return storage[static_cast<std::size_t>(i) * rows.size() + static_cast<std::size_t>(j)];
  }
  double At(int i, int j) const {
    return storage[static_cast<std::size_t>(i) * rows.size() + static_cast<std::size_t>(j)];
  }
};

struct PassivityState {
  PassivityCurve checkCurve;
  ConductanceCache dcConductance;
  ConductanceCache conductance;
};

}  // namespace cfit

#endif  // CFIT_PASSIVITY_PASSIVITY_STATE_H
