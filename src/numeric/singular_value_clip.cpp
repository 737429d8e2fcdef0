#include "numeric/singular_value_clip.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numeric/symmetric_eigen.h"

namespace cfit {

namespace {

// Eigenvalues and (columns of `vectors`) eigenvectors of a^T a.
bool GramEigen(const std::vector<double>& a, int n, std::vector<double>* values,
               std::vector<double>* vectors) {
  vectors->assign(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      double s = 0.0;
      for (int k = 0; k < n; ++k) s += a[k * n + i] * a[k * n + j];
      (*vectors)[i * n + j] = s;
    }
  }
  values->assign(static_cast<std::size_t>(n), 0.0);
  std::vector<double> work(static_cast<std::size_t>(n));
  return SymmetricEigen(n, vectors->data(), n, values->data(), work.data(), true) != 0;
}

}  // namespace

double LargestSingularValue(const std::vector<double>& a, int n) {
  if (n <= 0) return 0.0;
  std::vector<double> values, vectors;
  if (!GramEigen(a, n, &values, &vectors)) return std::numeric_limits<double>::quiet_NaN();
  return std::sqrt(std::max(*std::max_element(values.begin(), values.end()), 0.0));
}

int ClipSingularValues(std::vector<double>& a, int n, double above, double to) {
  if (n <= 0) return 0;
  std::vector<double> values, v;
  if (!GramEigen(a, n, &values, &v)) return -1;
  std::vector<double> update(static_cast<std::size_t>(n) * n, 0.0);
  int changed = 0;
  for (int k = 0; k < n; ++k) {
    const double sigma = std::sqrt(std::max(values[k], 0.0));
    if (sigma < above || sigma == 0.0) continue;
    for (int i = 0; i < n; ++i) {
      double av = 0.0;  // (a v_k)_i
      for (int j = 0; j < n; ++j) av += a[i * n + j] * v[j * n + k];
      for (int j = 0; j < n; ++j) update[i * n + j] += (to / sigma - 1.0) * av * v[j * n + k];
    }
    ++changed;
  }
  // A symmetric matrix stays exactly symmetric (the update is symmetric but
  // its two triangles round differently).
  bool symmetric = true;
  for (int i = 0; i < n && symmetric; ++i) {
    for (int j = 0; j < i; ++j) symmetric = symmetric && a[i * n + j] == a[j * n + i];
  }
  for (std::size_t k = 0; k < a.size(); ++k) a[k] += update[k];
  for (int i = 0; i < n && symmetric; ++i) {
    for (int j = 0; j < i; ++j) a[j * n + i] = a[i * n + j];
  }
  return changed;
}

}  // namespace cfit
