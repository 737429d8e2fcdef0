#include "numeric/nonnegative_qp.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "numeric/cholesky.h"

namespace cfit {

namespace {

// g += delta * column over k entries (the update of the dual's gradient
// when one multiplier moves); restrict lets the compiler vectorise it.
void AddScaled(std::size_t k, double delta, const double* __restrict column, double* __restrict g) {
  for (std::size_t r = 0; r < k; ++r) g[r] += delta * column[r];
}

// The worst violation of the dual's optimality conditions: g = 0 where a
// multiplier is positive, g >= 0 where it is zero.
double DualResidual(const std::vector<double>& mm, const std::vector<double>& mu,
                    const std::vector<double>& g) {
  const std::size_t k = mu.size();
  double worst = 0.0;
  for (std::size_t c = 0; c < k; ++c) {
    if (mm[c * k + c] <= 0.0) continue;
    worst = std::max(worst, mu[c] > 0.0 ? std::abs(g[c]) : std::max(0.0, -g[c]));
  }
  return worst;
}

}  // namespace

// A few sweeps of projected coordinate descent find most of the variables
// that end positive; an active-set iteration then solves exactly on them:
// the equations M_PP x_P = -b_P on the positive set P (with a relative
// ridge of 1e-12, since repeated or dependent constraints make M_PP
// singular), a step back to the last feasible point when one of them would
// turn negative, and the variable with the most negative gradient joins P
// until none is left. The positive sets of the passivity duals are small
// (tens to hundreds among thousands), where coordinate descent alone needed
// thousands of sweeps over all of them and often stopped short of the
// tolerance.
std::vector<double> SolveNonnegativeQp(const std::vector<double>& mm, const std::vector<double>& b,
                                       double tolerance) {
  const std::size_t k = b.size();
  std::vector<double> mu(k, 0.0), g = b;
  for (int sweep = 0; sweep < 50; ++sweep) {
    for (std::size_t c = 0; c < k; ++c) {
      const double diag = mm[c * k + c];
      if (diag <= 0.0) continue;
      const double next = std::max(0.0, mu[c] - g[c] / diag);
      const double delta = next - mu[c];
      if (delta == 0.0) continue;
      mu[c] = next;
      AddScaled(k, delta, &mm[c * k], g.data());  // column c, read along row c
    }
    if (DualResidual(mm, mu, g) <= tolerance) return mu;
  }
  std::vector<std::size_t> set;
  for (std::size_t c = 0; c < k; ++c) {
    if (mu[c] > 0.0) set.push_back(c);
  }
  const auto gradient = [&] {
    g = b;
    for (std::size_t c = 0; c < k; ++c) {
      if (mu[c] != 0.0) AddScaled(k, mu[c], &mm[c * k], g.data());
    }
  };
  for (std::size_t round = 0; round < 4 * k + 100; ++round) {
    if (set.empty() || round > 0) {
      // The most negative gradient outside the set joins it.
      gradient();
      std::size_t join = k;
      double most = -tolerance;
      for (std::size_t c = 0; c < k; ++c) {
        if (mu[c] > 0.0 || mm[c * k + c] <= 0.0 || g[c] >= most) continue;
        most = g[c];
        join = c;
      }
      if (join == k) break;
      set.push_back(join);
    }
    // Solve on the set; step back while a multiplier would turn negative.
    for (;;) {
      const int p = static_cast<int>(set.size());
      std::vector<double> a(static_cast<std::size_t>(p) * p), z(static_cast<std::size_t>(p));
      double scale = 0.0;
      for (int r = 0; r < p; ++r) scale = std::max(scale, mm[set[r] * k + set[r]]);
      for (int r = 0; r < p; ++r) {
        for (int c = 0; c < p; ++c) a[r * p + c] = mm[set[r] * k + set[c]];
        a[r * p + r] += 1e-12 * scale;
        z[r] = -b[set[r]];
      }
      if (!Cholesky(p, a)) return mu;  // not semidefinite after all: keep what we have
      ForwardSolve(p, a, z.data());
      BackSolve(p, a, z.data());
      // The longest step towards z that keeps every multiplier positive;
      // the one that reaches zero first leaves the set.
      double alpha = 1.0;
      int blocking = -1;
      for (int r = 0; r < p; ++r) {
        if (z[r] > 0.0) continue;
        const double t = mu[set[r]] / (mu[set[r]] - z[r]);
        if (t < alpha) alpha = t, blocking = r;
      }
      std::vector<std::size_t> kept;
      for (int r = 0; r < p; ++r) {
        double& m = mu[set[r]];
        m = r == blocking ? 0.0 : std::max(0.0, m + alpha * (z[r] - m));
        if (m > 0.0) kept.push_back(set[r]);
      }
      set = std::move(kept);
      if (blocking < 0 || set.empty()) break;
    }
  }
  gradient();
  return mu;
}

}  // namespace cfit
