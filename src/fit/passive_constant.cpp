#include "fit/passive_constant.h"

#include <cmath>
#include <numbers>

#include "numeric/singular_value_clip.h"

namespace cfit {

std::vector<double> HeldConstant(const SampledData& data, const std::vector<double>& delays) {
  const int n = data.port_count();
  if (data.empty() || n <= 0) return {};
  const ConstMatrixView last = data.back();
  const double f = last.frequency();
  std::vector<double> d(static_cast<std::size_t>(n) * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * n + j;
      const double tau = k < delays.size() ? delays[k] : 0.0;
      // The value with exp(-j 2 pi f tau) taken out.
      const double phase = 2.0 * std::numbers::pi * f * tau;
      const Complex v = last.At(i, j);
      d[k] = v.re * std::cos(phase) - v.im * std::sin(phase);
    }
  }
  if (ClipSingularValues(d, n, kHeldConstantBound, kHeldConstantBound) < 0) return {};
  return d;
}

}  // namespace cfit
