#include "passivity/mutual_conductance.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "fit/model_evaluation.h"
#include "numeric/complex_inverse.h"
#include "numeric/pivoted_qr.h"
#include "passivity/passivity_measure.h"

namespace cfit {

namespace {

// Singular I + s H is retried with s = 0.9999, then its square each time; a
// matrix that stays singular (non-finite values) ends the retries here.
constexpr double kFirstRetryScale = 0.9999;
constexpr int kMaxRetries = 64;

// H at f from the data: linear interpolation between the last point at or
// below f and the first above it (lower triangle, mirrored).
std::vector<Complex> DataMatrix(const SampledData& data, double f, const RunContext& context) {
  const ConstPointRange points = data.points();
  const int n = data.port_count();
  std::vector<Complex> h(static_cast<std::size_t>(n) * n);
  std::optional<ConstMatrixView> a = points.front();
  std::optional<ConstMatrixView> b;
  double t = 0.0;
  if (f < points.front().frequency() || f > points.back().frequency()) {
    context.Write(" *** Warning in GetMutualConductance. The requested frequency",
                  " is not contained in the sampled data. Taking the nearest point... ***\n");
    a = f < points.front().frequency() ? points.front() : points.back();
  } else {
    // The first point above f (points.size() when none is).
    std::size_t low = 0;
    std::size_t high = points.size();
    while (low < high) {
      const std::size_t mid = low + (high - low) / 2;
      if (f < points[mid].frequency()) {
        high = mid;
      } else {
        low = mid + 1;
      }
    }
    const std::size_t upper = low;
    a = points[upper - 1];
    if (upper != points.size() && a->frequency() != f) {
      b = points[upper];
      t = (f - a->frequency()) / (b->frequency() - a->frequency());
    }
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      Complex v = a->At(i, j);
      if (b.has_value()) v = v + t * (b->At(i, j) - v);
      h[static_cast<std::size_t>(i) * n + j] = v;
      h[static_cast<std::size_t>(j) * n + i] = v;
    }
  }
  return h;
}

std::vector<Complex> ModelMatrix(const ModelView& view, double f) {
  const int n = view.n();
  std::vector<Complex> h(static_cast<std::size_t>(n) * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      const Complex v = EvaluateElement(view, i, j, f);
      h[static_cast<std::size_t>(i) * n + j] = v;
      h[static_cast<std::size_t>(j) * n + i] = v;
    }
  }
  return h;
}

// Y = (I + s H)^-1 (I - H) (real parts only at 0 Hz), normalised by the
// impedances. False when the solve fails.
bool Conductance(const std::vector<Complex>& h, int n, bool dc, const std::vector<double>& z0,
                 std::vector<Complex>* y) {
  // The real problem: order n at 0 Hz, the 2n embedding otherwise.
  const int order = dc ? n : 2 * n;
  std::vector<double> a(static_cast<std::size_t>(order) * order);
  std::vector<double> c(static_cast<std::size_t>(order)), d(c.size()), work(c.size());
  std::vector<double> b(c.size());
  std::vector<int> permutation(c.size());
  auto build = [&](double s) {
    std::vector<Complex> m(static_cast<std::size_t>(n) * n);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        Complex v = s * h[static_cast<std::size_t>(i) * n + j];
        if (dc) v.im = 0.0;
        m[static_cast<std::size_t>(i) * n + j] = (i == j ? Complex(1.0) : Complex()) + v;
      }
    }
    if (dc) {
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
          a[static_cast<std::size_t>(j) * order + i] = m[static_cast<std::size_t>(i) * n + j].re;
      }
    } else {
      // Column-stored embedding [R, -X; X, R].
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
          const Complex v = m[static_cast<std::size_t>(i) * n + j];
          a[static_cast<std::size_t>(j) * order + i] = v.re;
          a[static_cast<std::size_t>(j + n) * order + i] = -v.im;
          a[static_cast<std::size_t>(j) * order + n + i] = v.im;
          a[static_cast<std::size_t>(j + n) * order + n + i] = v.re;
        }
      }
    }
    return PivotedQR(order, order, a.data(), order, c.data(), d.data(), permutation.data(), nullptr,
                     false);
  };
  double s = 1.0;
  int rank = build(s);
  for (int retry = 0; rank < order; ++retry) {
    if (retry == kMaxRetries) return false;
    s = retry == 0 ? kFirstRetryScale : s * s;
    rank = build(s);
  }
  y->assign(static_cast<std::size_t>(n) * n, Complex());
  for (int k = 0; k < n; ++k) {
    // Right-hand side: column k of B = I - H, split into real and imaginary
    // parts for the embedding.
    for (int i = 0; i < n; ++i) {
      Complex v = (i == k ? Complex(1.0) : Complex()) - h[static_cast<std::size_t>(i) * n + k];
      if (dc) {
        b[i] = v.re;
      } else {
        b[i] = v.re;
        b[n + i] = v.im;
      }
    }
    if (SolvePivotedQR(order, order, a.data(), order, c.data(), d.data(), b.data(),
                       permutation.data(), work.data(), false) != order) {
      return false;
    }
    for (int i = 0; i < n; ++i) {
      const Complex v = dc ? Complex(b[i]) : Complex(b[i], b[n + i]);
      const Complex value = v / std::sqrt(z0[i] * z0[k]);
      // Values that are not numbers in H give none in Y: the solve failed.
      if (!std::isfinite(value.re) || !std::isfinite(value.im)) return false;
      (*y)[static_cast<std::size_t>(i) * n + k] = value;
    }
  }
  return true;
}

// The conductance element from a normalised Y.
Complex Element(const std::vector<Complex>& y, int n, int i, int j) {
  if (i != j) return -y[static_cast<std::size_t>(i) * n + j];
  Complex sum;
  for (int k = 0; k < n; ++k) sum += y[static_cast<std::size_t>(i) * n + k];
  return sum;
}

// Element (i, j) of the conductance matrix of one source at f, computed by
// `matrix` unless the cache holds it for this source and frequency.
template <class MatrixAt>
Result<Complex> Cached(ConductanceCache& cache, bool model, std::uint64_t source, int n,
                       const std::vector<double>& z0, int i, int j, double f, bool dc,
                       const MatrixAt& matrix) {
  const bool reuse = cache.valid && cache.fromModel == model && cache.source == source &&
                     cache.n == n && (dc || cache.frequency == f);
  if (!reuse) {
    cache.valid = false;
    if (!Conductance(matrix(f), n, dc, z0, &cache.values)) return ErrorCode::kNoConnectivity;
    cache.valid = true;
    cache.fromModel = model;
    cache.source = source;
    cache.frequency = f;
    cache.n = n;
  }
  return Element(cache.values, n, i, j);
}

}  // namespace

Result<Complex> DataConductance(const SampledData& data, const std::vector<double>& z0, int i,
                                int j, double f, bool dc, ConductanceCache& cache,
                                const RunContext& context) {
  return Cached(cache, false, data.id().value(), data.port_count(), z0, i, j, f, dc,
                [&](double at) { return DataMatrix(data, at, context); });
}

Result<Complex> ModelConductance(const ModelView& view, const std::vector<double>& z0, int i, int j,
                                 double f, bool dc, ConductanceCache& cache) {
  return Cached(cache, true, view.model->id.value(), view.n(), z0, i, j, f, dc,
                [&](double at) { return ModelMatrix(view, at); });
}

}  // namespace cfit
