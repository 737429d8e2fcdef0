#include "numeric/cholesky.h"

#include <cmath>

namespace cfit {

bool Cholesky(int m, std::vector<double>& a) {
  for (int j = 0; j < m; ++j) {
    double s = a[j * m + j];
    for (int k = 0; k < j; ++k) s -= a[j * m + k] * a[j * m + k];
    if (!(s > 0.0)) return false;
    const double d = std::sqrt(s);
    a[j * m + j] = d;
    for (int i = j + 1; i < m; ++i) {
      double t = a[i * m + j];
      for (int k = 0; k < j; ++k) t -= a[i * m + k] * a[j * m + k];
      a[i * m + j] = t / d;
    }
    for (int k = j + 1; k < m; ++k) a[j * m + k] = 0.0;
  }
  return true;
}

void ForwardSolve(int m, const std::vector<double>& l, double* y) {
  for (int i = 0; i < m; ++i) {
    double s = y[i];
    for (int k = 0; k < i; ++k) s -= l[i * m + k] * y[k];
    y[i] = s / l[i * m + i];
  }
}

void BackSolve(int m, const std::vector<double>& l, double* y) {
  for (int i = m - 1; i >= 0; --i) {
    double s = y[i];
    for (int k = i + 1; k < m; ++k) s -= l[k * m + i] * y[k];
    y[i] = s / l[i * m + i];
  }
}

}  // namespace cfit
