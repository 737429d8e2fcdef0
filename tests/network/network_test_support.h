// Helpers shared by the network tests: fitters holding given data, complex
// matrices in std::complex form, and random matrices of bounded norm.
#ifndef CFIT_TESTS_NETWORK_NETWORK_TEST_SUPPORT_H
#define CFIT_TESTS_NETWORK_NETWORK_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <random>
#include <vector>

#include "api/cfit_impl.h"

namespace cfit::testing {

using C = std::complex<double>;
using CMatrix = std::vector<C>;  // n x n, row by row

inline std::unique_ptr<cCfit> NewFitter() {
  return std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
}

// Gives the fitter data of `type` with the impedances z0, one point per
// matrix at 1 GHz, 2 GHz, ...
inline void LoadData(cCfit& f, int n, int type, const std::vector<double>& z0,
                     const std::vector<CMatrix>& matrices) {
  f.BeginData(n, type, z0.data());
  double frequency = 0.0;
  for (const CMatrix& m : matrices) {
    PortMatrix p(n);
    p.set_frequency(frequency += 1e9);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) p.At(i, j) = {m[i * n + j].real(), m[i * n + j].imag()};
    }
    ASSERT_TRUE(f.state().network.data->Append(std::move(p)));
  }
}

inline CMatrix PointValues(const cCfit& f, int k) {
  const ConstMatrixView p = f.state().network.data->points()[k];
  CMatrix m;
  for (int i = 0; i < p.order(); ++i) {
    for (int j = 0; j < p.order(); ++j) m.emplace_back(p.At(i, j).re, p.At(i, j).im);
  }
  return m;
}

// Largest |a - b| over the entries relative to the largest |b|.
inline double RelativeDifference(const CMatrix& a, const CMatrix& b) {
  double diff = 0.0, scale = 0.0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    diff = std::max(diff, std::abs(a[k] - b[k]));
    scale = std::max(scale, std::abs(b[k]));
  }
  return scale > 0.0 ? diff / scale : diff;
}

// Random n x n matrix with Frobenius norm `norm` (so its spectral norm is at
// most that).
inline CMatrix RandomMatrix(std::mt19937& rng, int n, double norm) {
  std::normal_distribution<double> g;
  CMatrix m(static_cast<std::size_t>(n) * n);
  double sum = 0.0;
  for (C& v : m) {
    v = C(g(rng), g(rng));
    sum += std::norm(v);
  }
  for (C& v : m) v *= norm / std::sqrt(sum);
  return m;
}

// 2 x 2 helpers for closed forms.
inline CMatrix Inverse2(const CMatrix& m) {
  const C det = m[0] * m[3] - m[1] * m[2];
  return {m[3] / det, -m[1] / det, -m[2] / det, m[0] / det};
}
inline CMatrix Product2(const CMatrix& a, const CMatrix& b) {
  return {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2],
          a[2] * b[1] + a[3] * b[3]};
}

}  // namespace cfit::testing

#endif  // CFIT_TESTS_NETWORK_NETWORK_TEST_SUPPORT_H
