#include "network/impedance_scaling.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace cfit {

void ScaleByImpedances(int n, Complex* x, const double* z0, ImpedanceScaling how, bool negate) {
  for (int i = 0; i < n; ++i) {
    const double rootI = std::sqrt(z0[i]);
    Complex* row = x + static_cast<std::ptrdiff_t>(i) * n;
    for (int j = 0; j < n; ++j) {
      const double factor = rootI * std::sqrt(z0[j]);
      const Complex v = negate ? -row[j] : row[j];
      row[j] = how == ImpedanceScaling::kMultiply ? v * factor : v / factor;
    }
  }
}

bool ValidReferenceImpedances(const FitterState& state, int n) {
  if (n < 1 || !state.network.impedances.has_value()) return false;
  const std::vector<double>& z0 = *state.network.impedances;
  if (z0.size() < static_cast<std::size_t>(n)) return false;
  return std::all_of(z0.begin(), z0.begin() + n,
                     [](double z) { return std::isfinite(z) && z > 0.0; });
}

}  // namespace cfit
