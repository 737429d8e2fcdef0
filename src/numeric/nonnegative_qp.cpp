#include "numeric/nonnegative_qp.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

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

// The lower Cholesky factor of M_PP + ridge I for an ordered set P, kept row
// by row (row r holds r + 1 entries).
class IncrementalFactor {
 public:
  // Appends variable c to the set and its row to the factor; false when
  // the pivot is not positive (then neither changes).
  bool Append(const std::vector<double>& mm, std::size_t k, std::vector<std::size_t>& set,
              std::size_t c, double ridge) {
    const std::size_t p = set.size();
    std::vector<double> row(p + 1);
    for (std::size_t r = 0; r < p; ++r) row[r] = mm[set[r] * k + c];
    double d = mm[c * k + c] + ridge;
    for (std::size_t r = 0; r < p; ++r) {
      double t = row[r];
      const std::vector<double>& lr = rows_[r];
      for (std::size_t q = 0; q < r; ++q) t -= lr[q] * row[q];
      row[r] = t / lr[r];
      d -= row[r] * row[r];
    }
    if (!(d > 0.0)) return false;
    row[p] = std::sqrt(d);
    rows_.push_back(std::move(row));
    set.push_back(c);
    return true;
  }

  // Deletes the r-th variable: the rows below it lose their entry in its
  // column and a rotation of each pair of neighbouring columns restores
  // the triangle.
  void Remove(std::size_t r) {
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(r));
    for (std::size_t j = r; j < rows_.size(); ++j) {
      std::vector<double>& lj = rows_[j];
      const double a = lj[j], b = lj[j + 1];
      const double h = std::hypot(a, b);
      const double c = a / h, s = b / h;
      for (std::size_t i = j; i < rows_.size(); ++i) {
        std::vector<double>& li = rows_[i];
        const double x = li[j], y = li[j + 1];
        li[j] = c * x + s * y;
        li[j + 1] = -s * x + c * y;
      }
      lj.pop_back();  // now zero
    }
  }

  // z = (L L^T)^-1 z.
  void Solve(std::vector<double>& z) const {
    const std::size_t p = rows_.size();
    for (std::size_t i = 0; i < p; ++i) {
      double t = z[i];
      for (std::size_t q = 0; q < i; ++q) t -= rows_[i][q] * z[q];
      z[i] = t / rows_[i][i];
    }
    for (std::size_t i = p; i-- > 0;) {
      double t = z[i];
      for (std::size_t q = i + 1; q < p; ++q) t -= rows_[q][i] * z[q];
      z[i] = t / rows_[i][i];
    }
  }

 private:
  std::vector<std::vector<double>> rows_;
};

}  // namespace

// A few sweeps of projected coordinate descent find most of the variables
// that end positive; an active-set iteration then solves exactly on them:
// the equations M_PP x_P = -b_P on the positive set P (with a relative
// ridge of 1e-12 of M's largest diagonal entry, since repeated or
// dependent constraints make M_PP singular), a step back to the last feasible point when one of
// them would turn negative, and the variable with the most negative gradient joins P until none is
// left. The positive sets of the passivity duals are small (tens to hundreds among thousands),
// where coordinate descent alone needed thousands of sweeps over all of them and often stopped
// short of the tolerance.
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
  // The factor of M_PP (with the ridge) follows the set: a joining
  // variable appends a row, a leaving one is deleted from it by rotations,
  // so that each change costs the square of the set's size rather than a
  // new factorisation's cube.
  double scale = 0.0;
  for (std::size_t c = 0; c < k; ++c) scale = std::max(scale, mm[c * k + c]);
  const double ridge = 1e-12 * scale;
  std::vector<std::size_t> set;
  IncrementalFactor factor;
  for (std::size_t c = 0; c < k; ++c) {
    if (mu[c] > 0.0 && !factor.Append(mm, k, set, c, ridge)) return mu;
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
      // Not semidefinite after all: keep what we have.
      if (!factor.Append(mm, k, set, join, ridge)) return mu;
    }
    // Solve on the set; step back while a multiplier would turn negative.
    for (;;) {
      const std::size_t p = set.size();
      std::vector<double> z(p);
      for (std::size_t r = 0; r < p; ++r) z[r] = -b[set[r]];
      factor.Solve(z);
      // The longest step towards z that keeps every multiplier positive;
      // the one that reaches zero first leaves the set.
      double alpha = 1.0;
      std::size_t blocking = p;
      for (std::size_t r = 0; r < p; ++r) {
        if (z[r] > 0.0) continue;
        const double t = mu[set[r]] / (mu[set[r]] - z[r]);
        if (t < alpha) alpha = t, blocking = r;
      }
      for (std::size_t r = p; r-- > 0;) {
        double& m = mu[set[r]];
        m = r == blocking ? 0.0 : std::max(0.0, m + alpha * (z[r] - m));
        if (m > 0.0) continue;
        factor.Remove(r);
        set.erase(set.begin() + static_cast<std::ptrdiff_t>(r));
      }
      if (blocking == p || set.empty()) break;
    }
  }
  gradient();
  return mu;
}

}  // namespace cfit
