#include "passivity/passivity_certificate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

#include "fit/state_space.h"
#include "numeric/eigen_general.h"
#include "numeric/symmetric_eigen.h"
#include "passivity/magnitude_bound.h"

namespace cfit {

namespace {

using Cx = std::complex<double>;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Relative distance of the eigenvalue's real part from 0 under which it is
// taken for a crossing candidate. Candidates that are no crossing only split
// an interval in two; both halves are tested. It is wide because the
// Hamiltonian is far from normal: two crossings close together (a narrow
// band) make a nearly double imaginary eigenvalue, which the eigensolver
// can push off the axis by the square root of the rounding times the
// matrix's size.
constexpr double kImaginaryTolerance = 0.1;
// Part of the Hamiltonian's largest entry under which a real part counts as
// rounding.
constexpr double kAbsoluteTolerance = 1e-9;
// Relative move of the limit when R is singular.
constexpr double kLimitShift = 1e-9;
// Growth of the half-size matrix's factors over A's own size beyond which
// the Hamiltonian is used instead (see HalfSizeCandidates).
constexpr double kHalfSizeGrowth = 1e4;
// Iterations the eigensolver may spend on one eigenvalue of the Hamiltonian.
// Orders in the thousands can need more than the fitter's 50.
constexpr int kHqrIterations = 400;
// Points sampled across a band before the worst point is refined.
constexpr int kBandSamples = 48;

// Solves the n x n real system in place: a (row-major) times X = rhs, rhs n x
// m row-major, by Gaussian elimination with partial pivoting. False when a
// pivot is 0.
bool Solve(int n, std::vector<double> a, int m, std::vector<double>& rhs) {
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i) {
      if (std::abs(a[i * n + k]) > std::abs(a[p * n + k])) p = i;
    }
    if (a[p * n + k] == 0.0) return false;
    if (p != k) {
      for (int j = 0; j < n; ++j) std::swap(a[k * n + j], a[p * n + j]);
      for (int j = 0; j < m; ++j) std::swap(rhs[k * m + j], rhs[p * m + j]);
    }
    for (int i = k + 1; i < n; ++i) {
      const double f = a[i * n + k] / a[k * n + k];
      if (f == 0.0) continue;
      for (int j = k; j < n; ++j) a[i * n + j] -= f * a[k * n + j];
      for (int j = 0; j < m; ++j) rhs[i * m + j] -= f * rhs[k * m + j];
    }
  }
  for (int k = n - 1; k >= 0; --k) {
    for (int j = 0; j < m; ++j) {
      double s = rhs[k * m + j];
      for (int i = k + 1; i < n; ++i) s -= a[k * n + i] * rhs[i * m + j];
      rhs[k * m + j] = s / a[k * n + k];
    }
  }
  return true;
}

// The eigenvalues (real and imaginary parts) of the n x n row-major matrix
// m, which is destroyed; false when the eigensolver does not converge.
bool Eigenvalues(int n, std::vector<double>& m, std::vector<double>* wr, std::vector<double>* wi) {
  wr->assign(static_cast<std::size_t>(n), 0.0);
  wi->assign(static_cast<std::size_t>(n), 0.0);
  BalanceMatrix(n, m.data(), n);
  ReduceToHessenberg(n, m.data(), n);
  return hqr(n, m.data(), n, wr->data(), wi->data(), kHqrIterations) != 0;
}

// out (r x c) = x (r x k) * y (k x c), all row-major; y given transposed
// when `yTransposed` (then stored c x k).
std::vector<double> Multiply(int r, int k, int c, const std::vector<double>& x, const double* y,
                             bool yTransposed) {
  std::vector<double> out(static_cast<std::size_t>(r) * c, 0.0);
  if (yTransposed) {
    for (int i = 0; i < r; ++i) {
      for (int l = 0; l < k; ++l) {
        const double v = x[static_cast<std::size_t>(i) * k + l];
        if (v == 0.0) continue;
        for (int j = 0; j < c; ++j) {
          out[static_cast<std::size_t>(i) * c + j] += v * y[static_cast<std::size_t>(j) * k + l];
        }
      }
    }
    return out;
  }
  // By tiles of y that stay in cache while every row of x passes over them
  // (a half-size matrix of order 2,000 is 32 MB); each entry still adds its
  // terms in the order of l.
  constexpr int kTileRows = 64;
  constexpr int kTileColumns = 256;
  for (int j0 = 0; j0 < c; j0 += kTileColumns) {
    const int j1 = std::min(c, j0 + kTileColumns);
    for (int l0 = 0; l0 < k; l0 += kTileRows) {
      const int l1 = std::min(k, l0 + kTileRows);
      for (int i = 0; i < r; ++i) {
        double* o = out.data() + static_cast<std::size_t>(i) * c;
        for (int l = l0; l < l1; ++l) {
          const double v = x[static_cast<std::size_t>(i) * k + l];
          if (v == 0.0) continue;
          const double* row = y + static_cast<std::size_t>(l) * c;
          for (int j = j0; j < j1; ++j) o[j] += v * row[j];
        }
      }
    }
  }
  return out;
}

std::vector<double> Transpose(int r, int c, const double* x) {
  std::vector<double> t(static_cast<std::size_t>(r) * c);
  for (int i = 0; i < r; ++i) {
    for (int j = 0; j < c; ++j) {
      t[static_cast<std::size_t>(j) * r + i] = x[static_cast<std::size_t>(i) * c + j];
    }
  }
  return t;
}

// Both kinds reduce to one "violation" function of the response that is
// positive exactly where the model is not passive: S: sigma_max - limit;
// Y/Z: limit - lambda_min of (H + H^H) / 2 (limit 0 or the shifted one).
struct Criterion {
  PassivityKind kind;
  double limit;
};

// The value deciding passivity: sigma_max (S) or lambda_min of the Hermitian
// part (Y/Z). NaN when the eigensolver fails.
double Deciding(PassivityKind kind, int n, const std::vector<Cx>& h) {
  std::vector<double> values;
  if (!HermitianEigen(n, PassivityMatrix(n, h, kind == PassivityKind::kScattering), &values,
                      nullptr))
    return std::nan("");
  if (kind == PassivityKind::kScattering) return std::sqrt(std::max(values.front(), 0.0));
  return values.back();
}

double Violation(const Criterion& c, double deciding) {
  return c.kind == PassivityKind::kScattering ? deciding - c.limit : c.limit - deciding;
}

double LibraryMeasure(PassivityKind kind, double deciding) {
  return kind == PassivityKind::kScattering ? deciding * deciding : std::max(0.0, 1.0 - deciding);
}

// Scales the states of each diagonal block of A (1 x 1 or 2 x 2) so that
// its rows of B and its columns of C are of one size; A stays (T^-1 A T =
// A for a scalar per block), and so does the response.
void ScaleBlocks(int p, int n, const double* a, std::vector<double>& b, std::vector<double>& c) {
  for (int k = 0; k < n;) {
    const bool pair = k + 1 < n && (a[static_cast<std::size_t>(k) * n + k + 1] != 0.0 ||
                                    a[static_cast<std::size_t>(k + 1) * n + k] != 0.0);
    const int size = pair ? 2 : 1;
    double nb = 0.0;
    double nc = 0.0;
    for (int r = k; r < k + size; ++r) {
      for (int j = 0; j < p; ++j)
        nb = std::max(nb, std::abs(b[static_cast<std::size_t>(r) * p + j]));
      for (int i = 0; i < p; ++i)
        nc = std::max(nc, std::abs(c[static_cast<std::size_t>(i) * n + r]));
    }
    if (nb > 0.0 && nc > 0.0) {
      const double t = std::sqrt(nb / nc);
      for (int r = k; r < k + size; ++r) {
        for (int j = 0; j < p; ++j) b[static_cast<std::size_t>(r) * p + j] /= t;
        for (int i = 0; i < p; ++i) c[static_cast<std::size_t>(i) * n + r] *= t;
      }
    } else if (nc == 0.0) {
      // A block the outputs do not see (a pole whose residues are all zero)
      // is the limit of an ever larger scale: its rows of B go to zero. The
      // response stays, and its B no longer feeds the other states through
      // the half-size factors.
      for (int r = k; r < k + size; ++r) {
        for (int j = 0; j < p; ++j) b[static_cast<std::size_t>(r) * p + j] = 0.0;
      }
    }
    k += size;
  }
}

double Largest(const double* x, std::size_t count) {
  double v = 0.0;
  for (std::size_t k = 0; k < count; ++k) v = std::max(v, std::abs(x[k]));
  return v;
}

// The factors F and G of the half-size matrix P = F G (see the header) of
// the system (A n x n, B n x p, C p x n, D p x p); false when one of them
// does not exist.
bool HalfSizeFactors(int p, int n, const double* a, const std::vector<double>& b,
                     const std::vector<double>& c, const std::vector<double>& d, bool scattering,
                     std::vector<double>* f, std::vector<double>* g) {
  // A - B X^-1 C for the p x p matrix X.
  const auto reduced = [&](std::vector<double> x, std::vector<double>* out) {
    std::vector<double> xinvC = c;
    if (!Solve(p, std::move(x), n, xinvC)) return false;
    *out = Multiply(n, p, n, b, xinvC.data(), false);
    for (std::size_t k = 0; k < out->size(); ++k) (*out)[k] = a[k] - (*out)[k];
    return true;
  };
  f->assign(a, a + static_cast<std::size_t>(n) * n);
  if (!scattering) return reduced(d, g);
  std::vector<double> minus = d;
  std::vector<double> plus = d;
  for (int i = 0; i < p; ++i) {
    minus[static_cast<std::size_t>(i) * p + i] -= 1.0;
    plus[static_cast<std::size_t>(i) * p + i] += 1.0;
  }
  return reduced(std::move(minus), f) && reduced(std::move(plus), g);
}

// Whether the product of the factors' largest entries stays within
// kHalfSizeGrowth of A's squared, so that P's rounding stays that of A^2.
bool FactorsStayNearA(int n, const double* a, const std::vector<double>& f,
                      const std::vector<double>& g) {
  const double normA = Largest(a, static_cast<std::size_t>(n) * n);
  return Largest(f.data(), f.size()) * Largest(g.data(), g.size()) <=
         kHalfSizeGrowth * normA * normA;
}

class Certifier {
 public:
  Certifier(const SystemView& s, PassivityKind kind) : s_(s), criterion_{kind, 0.0} {
    criterion_.limit = kind == PassivityKind::kScattering ? 1.0 : 0.0;
  }

  Result<PassivityCertificate> Run(double hertzPerUnit) {
    PassivityCertificate cert;
    if (s_.ports <= 0) return Failure::Silent();
    std::vector<double> omegas;
    if (s_.states > 0) {
      // Should the eigensolver not converge on the scaled matrix, the
      // unscaled one is tried.
      const Criterion start = criterion_;
      if (!Candidates(&omegas, &cert, true)) {
        criterion_ = start;
        omegas.clear();
        crossings_.clear();
        cert.shiftedLimit = false;
        if (!Candidates(&omegas, &cert, false)) return Failure::Silent();
      }
    }
    std::sort(omegas.begin(), omegas.end());
    omegas.erase(std::unique(omegas.begin(), omegas.end(),
                             [](double x, double y) { return std::abs(x - y) <= 1e-13 * y; }),
                 omegas.end());
    // Intervals between neighbouring crossings, 0 and infinity; one test
    // point in each decides it.
    std::vector<double> bounds{0.0};
    bounds.insert(bounds.end(), omegas.begin(), omegas.end());
    bounds.push_back(kInfinity);
    const std::size_t intervals = bounds.size() - 1;
    std::vector<bool> violating(intervals);
    for (std::size_t k = 0; k < intervals; ++k) {
      const double v = ViolationAt(TestPoint(bounds[k], bounds[k + 1]));
      if (std::isnan(v)) return Failure::Silent();
      violating[k] = v > 0.0;
    }
    // The ends themselves: a crossing close to 0 or far out can sit in the
    // eigenvalues' rounding (an eigenvalue near the origin is never clearly
    // on the axis), and the test point then speaks for an interval whose
    // end violates. Such an end gets its own interval up to the crossing
    // between it and the test point.
    if (!SplitEnd(bounds, violating, true) || !SplitEnd(bounds, violating, false)) {
      return Failure::Silent();
    }
    const std::size_t all = bounds.size() - 1;
    std::sort(crossings_.begin(), crossings_.end());
    crossings_.erase(std::unique(crossings_.begin(), crossings_.end(),
                                 [](double x, double y) { return std::abs(x - y) <= 1e-13 * y; }),
                     crossings_.end());
    for (double w : crossings_) cert.crossings.push_back(w * hertzPerUnit);
    for (std::size_t k = 0; k < all;) {
      if (!violating[k]) {
        ++k;
        continue;
      }
      std::size_t last = k;
      while (last + 1 < all && violating[last + 1]) ++last;
      CertifiedBand band = Worst(bounds[k], bounds[last + 1]);
      band.from = bounds[k] * hertzPerUnit;
      band.to = bounds[last + 1] * hertzPerUnit;
      band.worstAt *= hertzPerUnit;
      cert.bands.push_back(band);
      k = last + 1;
    }
    cert.passive = cert.bands.empty();
    return cert;
  }

 private:
  // Splits the first (`low`) or last interval when its end (0 or infinite
  // frequency) violates and its test point does not, at the crossing
  // between them. False when the response cannot be evaluated.
  bool SplitEnd(std::vector<double>& bounds, std::vector<bool>& violating, bool low) {
    const std::size_t k = low ? 0 : violating.size() - 1;
    if (violating[k]) return true;
    const double end = low ? 0.0 : kInfinity;
    const double ve = ViolationAt(end);
    if (std::isnan(ve)) return false;
    if (!(ve > 0.0)) return true;
    const double t = TestPoint(bounds[k], bounds[k + 1]);
    const double vt = ViolationAt(t);
    if (std::isnan(vt)) return false;
    double x;
    if (low) {
      x = Root(0.0, t, ve, vt);
    } else {
      // Towards infinity: doubling until the violation shows, then the root.
      double hi = 2.0 * t;
      double vhi = ViolationAt(hi);
      for (int it = 0; it < 1100 && !(vhi > 0.0) && std::isfinite(hi); ++it) {
        hi *= 2.0;
        vhi = ViolationAt(hi);
      }
      if (!(vhi > 0.0) || !std::isfinite(hi)) return true;  // only the limit itself
      x = Root(0.5 * hi, hi, ViolationAt(0.5 * hi), vhi);
    }
    crossings_.push_back(x);
    if (low) {
      bounds.insert(bounds.begin() + 1, x);
      violating.insert(violating.begin(), true);
    } else {
      bounds.insert(bounds.end() - 1, x);
      violating.push_back(true);
    }
    return true;
  }

  // Imaginary eigenvalues of the Hamiltonian, as crossing frequencies
  // polished on the response. False when the eigensolver fails.
  bool Candidates(std::vector<double>* omegas, PassivityCertificate* cert, bool scaleStates) {
    const int n = s_.states;
    const int p = s_.ports;
    std::vector<double> cm(s_.c, s_.c + static_cast<std::size_t>(p) * n);
    std::vector<double> dm(s_.d, s_.d + static_cast<std::size_t>(p) * p);
    std::vector<double> bIn(s_.b, s_.b + static_cast<std::size_t>(n) * p);
    // Scalings that change neither the crossings nor the verdict but keep
    // the Hamiltonian's entries of comparable size, so that its small
    // eigenvalues are not lost in the rounding of its large ones: each
    // diagonal block of A gets states scaled so that its rows of B and its
    // columns of C are of one size (T^-1 A T = A for a scalar per block),
    // and a Y/Z response is divided by its size (the sign of the Hermitian
    // part's eigenvalues stays).
    if (scaleStates) ScaleBlocks(p, n, s_.a, bIn, cm);
    const double responseScale =
        criterion_.kind == PassivityKind::kImmittance ? ResponseScale() : 1.0;
    const double yzScale = responseScale > 0.0 ? responseScale : 1.0;
    if (criterion_.kind == PassivityKind::kImmittance) {
      for (double& x : cm) x /= yzScale;
      for (double& x : dm) x /= yzScale;
    }
    std::vector<double> r;
    std::vector<double> q;
    // R (and Q for S); when singular, the limit moves slightly: for S the
    // system is scaled by 1 / (1 + shift), for Y/Z D gains shift * scale I.
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (attempt == 1) {
        cert->shiftedLimit = true;
        if (criterion_.kind == PassivityKind::kScattering) {
          const double g = 1.0 + kLimitShift;
          criterion_.limit = g;
          for (double& x : cm) x /= g;
          for (double& x : dm) x /= g;
        } else {
          const double shift = kLimitShift * std::max(responseScale, 1e-300);
          criterion_.limit = -shift;
          for (int i = 0; i < p; ++i) dm[i * p + i] += shift / yzScale;
        }
      }
      if (criterion_.kind == PassivityKind::kScattering) {
        r = Multiply(p, p, p, Transpose(p, p, dm.data()), dm.data(), false);
        q = Multiply(p, p, p, dm, dm.data(), true);
        for (int i = 0; i < p; ++i) {
          r[i * p + i] -= 1.0;
          q[i * p + i] -= 1.0;
        }
      } else {
        r.assign(static_cast<std::size_t>(p) * p, 0.0);
        for (int i = 0; i < p; ++i) {
          for (int j = 0; j < p; ++j) r[i * p + j] = dm[i * p + j] + dm[j * p + i];
        }
      }
      // S: R and Q are measured against the identity they differ from; Y/Z:
      // R against the size of the response.
      const double reference = responseScale / yzScale;
      if (WellConditioned(p, r, reference) && (q.empty() || WellConditioned(p, q, reference))) {
        break;
      }
      if (attempt == 1) return false;
    }

    if (s_.symmetric) {
      const std::optional<bool> half = HalfSizeCandidates(bIn, cm, dm, omegas, cert);
      if (half.has_value()) return *half;
    }

    // Blocks of the Hamiltonian.
    const std::vector<double> bt = Transpose(n, p, bIn.data());  // p x n
    const std::vector<double> ct = Transpose(p, n, cm.data());
    std::vector<double> rinvBt = bt;  // R^-1 B^T, p x n
    if (!Solve(p, r, n, rinvBt)) return false;
    std::vector<double> m11(s_.a, s_.a + static_cast<std::size_t>(n) * n);
    std::vector<double> m12;  // -B R^-1 B^T
    std::vector<double> m21;
    std::vector<double> m22;
    m12 = Multiply(n, p, n, bIn, rinvBt.data(), false);
    for (double& x : m12) x = -x;
    if (criterion_.kind == PassivityKind::kScattering) {
      // M11 = A - B R^-1 D^T C; M22 = -A^T + C^T D R^-1 B^T; M21 = C^T Q^-1 C.
      std::vector<double> rinvDtC = Multiply(p, p, n, Transpose(p, p, dm.data()), cm.data(), false);
      if (!Solve(p, r, n, rinvDtC)) return false;
      const std::vector<double> t1 = Multiply(n, p, n, bIn, rinvDtC.data(), false);
      for (std::size_t k = 0; k < m11.size(); ++k) m11[k] -= t1[k];
      const std::vector<double> dRinvBt = Multiply(p, p, n, dm, rinvBt.data(), false);
      m22 = Multiply(n, p, n, ct, dRinvBt.data(), false);
      std::vector<double> qinvC = cm;
      if (!Solve(p, q, n, qinvC)) return false;
      m21 = Multiply(n, p, n, ct, qinvC.data(), false);
    } else {
      // M11 = A - B R^-1 C; M22 = -A^T + C^T R^-1 B^T; M21 = C^T R^-1 C.
      std::vector<double> rinvC = cm;
      if (!Solve(p, r, n, rinvC)) return false;
      const std::vector<double> t1 = Multiply(n, p, n, bIn, rinvC.data(), false);
      for (std::size_t k = 0; k < m11.size(); ++k) m11[k] -= t1[k];
      m22 = Multiply(n, p, n, ct, rinvBt.data(), false);
      m21 = Multiply(n, p, n, ct, rinvC.data(), false);
    }
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) m22[i * n + j] -= s_.a[j * n + i];
    }

    const int order = 2 * n;
    cert->hamiltonianOrder = order;
    std::vector<double> h(static_cast<std::size_t>(order) * order);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const std::size_t k = static_cast<std::size_t>(i) * n + j;
        h[static_cast<std::size_t>(i) * order + j] = m11[k];
        h[static_cast<std::size_t>(i) * order + n + j] = m12[k];
        h[static_cast<std::size_t>(n + i) * order + j] = m21[k];
        h[static_cast<std::size_t>(n + i) * order + n + j] = m22[k];
      }
    }
    const double norm = Largest(h.data(), h.size());
    if (!std::isfinite(norm)) return false;
    std::vector<double> wr;
    std::vector<double> wi;
    if (!Eigenvalues(order, h, &wr, &wi)) return false;
    for (int k = 0; k < order; ++k) {
      if (wi[k] <= 0.0) continue;
      // Relative to the eigenvalue, and to the matrix's size: eigenvalues
      // far below its largest carry an absolute error of the rounding of
      // its largest entries.
      if (std::abs(wr[k]) >
          kImaginaryTolerance * std::hypot(wr[k], wi[k]) + kAbsoluteTolerance * norm) {
        continue;
      }
      Polish(wi[k], std::abs(wr[k]) / wi[k], omegas);
    }
    return true;
  }

  // The candidates of a symmetric system from the half-size matrix P (see
  // the header), with B, C and D as scaled and shifted for the Hamiltonian.
  // An eigenvalue lambda of P is s^2 for an eigenvalue s of the
  // Hamiltonian; s = sqrt(lambda) in the upper half plane is tested as the
  // Hamiltonian's own would be. Squaring doubles the span of the
  // eigenvalues' magnitudes, and P is formed as a product, so its rounding
  // is that of |F| |G|: when that exceeds kHalfSizeGrowth times |A|^2 (a
  // constant with a singular value near 1 makes (D - I)^-1 large), small
  // crossings would drown in it, and nothing is returned: the caller builds
  // the Hamiltonian instead.
  std::optional<bool> HalfSizeCandidates(const std::vector<double>& b, const std::vector<double>& c,
                                         const std::vector<double>& d, std::vector<double>* omegas,
                                         PassivityCertificate* cert) {
    const int n = s_.states;
    const bool scattering = criterion_.kind == PassivityKind::kScattering;
    std::vector<double> f;
    std::vector<double> g;
    if (!HalfSizeFactors(s_.ports, n, s_.a, b, c, d, scattering, &f, &g)) return false;
    if (!FactorsStayNearA(n, s_.a, f, g)) return std::nullopt;
    std::vector<double> m = Multiply(n, n, n, f, g.data(), false);
    cert->hamiltonianOrder = n;
    cert->halfSize = true;
    const double norm = Largest(m.data(), m.size());
    if (!std::isfinite(norm)) return false;
    std::vector<double> wr;
    std::vector<double> wi;
    if (!Eigenvalues(n, m, &wr, &wi)) return false;
    for (int k = 0; k < n; ++k) {
      if (wi[k] < 0.0) continue;  // the conjugate's root is the mirror image
      const Cx root = std::sqrt(Cx(wr[k], wi[k]));
      const double re = std::abs(root.real());
      const double im = std::abs(root.imag());
      if (im == 0.0) continue;
      // The rounding of P's largest entries, as a distance of its roots.
      if (re > kImaginaryTolerance * std::abs(root) + std::sqrt(kAbsoluteTolerance * norm))
        continue;
      Polish(im, re / im, omegas);
    }
    return true;
  }

  // The largest entry of D and of the response at the typical frequency.
  double ResponseScale() const {
    double scale = 0.0;
    for (int k = 0; k < s_.ports * s_.ports; ++k) scale = std::max(scale, std::abs(s_.d[k]));
    for (const Cx& v : SystemResponse(s_, TypicalFrequency())) {
      scale = std::max(scale, std::abs(v));
    }
    return scale;
  }

  // Whether the smallest pivot of elimination stands out of the rounding of
  // entries of size `reference` (and of the matrix's own largest entry).
  static bool WellConditioned(int p, const std::vector<double>& m, double reference) {
    std::vector<double> a = m;
    double largest = reference;
    for (double x : a) largest = std::max(largest, std::abs(x));
    if (largest == 0.0) return false;
    double smallestPivot = kInfinity;
    for (int k = 0; k < p; ++k) {
      int piv = k;
      for (int i = k + 1; i < p; ++i) {
        if (std::abs(a[i * p + k]) > std::abs(a[piv * p + k])) piv = i;
      }
      if (piv != k) {
        for (int j = 0; j < p; ++j) std::swap(a[k * p + j], a[piv * p + j]);
      }
      smallestPivot = std::min(smallestPivot, std::abs(a[k * p + k]));
      if (a[k * p + k] == 0.0) return false;
      for (int i = k + 1; i < p; ++i) {
        const double f = a[i * p + k] / a[k * p + k];
        for (int j = k; j < p; ++j) a[i * p + j] -= f * a[k * p + j];
      }
    }
    return smallestPivot > 1e-12 * largest;
  }

  // The crossing near w: the root of the violation in the smallest bracket
  // around w that shows a change of sign; w itself when none does (a
  // crossing of a singular value that is not the largest).
  // The root of the violation between lo and hi, whose signs differ
  // (Illinois variant of regula falsi).
  double Root(double lo, double hi, double vlo, double vhi) {
    int side = 0;
    for (int it = 0; it < 100 && hi - lo > 1e-15 * hi; ++it) {
      const double x = (lo * vhi - hi * vlo) / (vhi - vlo);
      const double vx = ViolationAt(x);
      if (std::isnan(vx) || vx == 0.0) return x;
      if ((vx > 0.0) == (vhi > 0.0)) {
        hi = x;
        vhi = vx;
        if (side == 1) vlo *= 0.5;
        side = 1;
      } else {
        lo = x;
        vlo = vx;
        if (side == -1) vhi *= 0.5;
        side = -1;
      }
    }
    return 0.5 * (lo + hi);
  }

  // The crossings near the candidate w, whose relative distance from the
  // imaginary axis is `offAxis` (of the order of its error): first the
  // smallest bracket around w that shows a change of sign, then, for a
  // candidate visibly off the axis, a scan across a few times that distance
  // (a narrow band's two crossings can sit there). w itself is kept as an
  // interval boundary either way.
  void Polish(double w, double offAxis, std::vector<double>* boundaries) {
    boundaries->push_back(w);
    for (double width : {1e-10, 1e-8, 1e-6, 1e-4}) {
      const double lo = w * (1.0 - width);
      const double hi = w * (1.0 + width);
      const double vlo = ViolationAt(lo);
      const double vhi = ViolationAt(hi);
      if (std::isnan(vlo) || std::isnan(vhi) || (vlo > 0.0) == (vhi > 0.0)) continue;
      const double x = Root(lo, hi, vlo, vhi);
      boundaries->push_back(x);
      crossings_.push_back(x);
      return;
    }
    // A candidate that violates itself sits inside a band whose two
    // crossings the eigensolver moved towards its middle (they are a nearly
    // double eigenvalue when the band is narrow): each is found by steps
    // growing from w until the violation ends.
    const double vw = ViolationAt(w);
    if (vw > 0.0) {
      for (double side : {-1.0, 1.0}) {
        double inner = w;
        double vinner = vw;
        for (double width = 1e-12; width < 1.0; width *= 4.0) {
          const double x = w * (1.0 + side * width);
          const double v = ViolationAt(x);
          if (std::isnan(v)) break;
          if (!(v > 0.0)) {
            const double root = side < 0.0 ? Root(x, inner, v, vinner) : Root(inner, x, vinner, v);
            boundaries->push_back(root);
            crossings_.push_back(root);
            break;
          }
          inner = x;
          vinner = v;
        }
      }
      return;
    }
    if (offAxis <= 1e-4) return;
    Scan(w, std::min(3.0 * offAxis, 0.5), boundaries);
  }

  // Scans w (1 +- width) at kScan steps for changes of sign of the
  // violation.
  void Scan(double w, double width, std::vector<double>* boundaries) {
    constexpr int kScan = 24;
    double previous = 0.0;
    double vprevious = 0.0;
    for (int k = 0; k <= kScan; ++k) {
      const double x = w * (1.0 - width + 2.0 * width * k / kScan);
      const double v = ViolationAt(x);
      if (std::isnan(v)) return;
      if (k > 0 && (v > 0.0) != (vprevious > 0.0)) {
        const double root = Root(previous, x, vprevious, v);
        boundaries->push_back(root);
        crossings_.push_back(root);
      }
      previous = x;
      vprevious = v;
    }
  }

  double DecidingAt(double w) {
    if (std::isinf(w)) {
      std::vector<Cx> h(s_.d, s_.d + static_cast<std::size_t>(s_.ports) * s_.ports);
      return Deciding(criterion_.kind, s_.ports, h);
    }
    return Deciding(criterion_.kind, s_.ports, SystemResponse(s_, w));
  }
  double ViolationAt(double w) { return Violation(criterion_, DecidingAt(w)); }

  double TestPoint(double lo, double hi) const {
    if (lo == 0.0 && std::isinf(hi)) return TypicalFrequency();
    if (lo == 0.0) return 0.5 * hi;
    if (std::isinf(hi)) return 2.0 * lo;
    return std::sqrt(lo * hi);
  }

  // The geometric mean of the smallest and largest block magnitudes of A.
  double TypicalFrequency() const {
    double lo = kInfinity;
    double hi = 0.0;
    for (int i = 0; i < s_.states; ++i) {
      double m = std::abs(s_.a[static_cast<std::size_t>(i) * s_.states + i]);
      if (i + 1 < s_.states) {
        m = std::hypot(m, s_.a[static_cast<std::size_t>(i) * s_.states + i + 1]);
      }
      if (m > 0.0) {
        lo = std::min(lo, m);
        hi = std::max(hi, m);
      }
    }
    return hi > 0.0 ? std::sqrt(lo * hi) : 1.0;
  }

  // The worst point of a band: the largest violation over log-spaced
  // samples, then golden-section search between the neighbours of the best.
  CertifiedBand Worst(double from, double to) {
    const double lo = from > 0.0 ? from : (std::isinf(to) ? TypicalFrequency() : to) * 1e-6;
    const double hi = std::isinf(to) ? std::max(lo, TypicalFrequency()) * 1e4 : to;
    std::vector<double> x(kBandSamples);
    std::vector<double> v(kBandSamples);
    std::size_t best = 0;
    for (int k = 0; k < kBandSamples; ++k) {
      x[k] = lo * std::pow(hi / lo, (k + 0.5) / kBandSamples);
      v[k] = ViolationAt(x[k]);
      if (!(v[k] <= v[best])) best = static_cast<std::size_t>(k);
    }
    double a = std::log(best == 0 ? lo : x[best - 1]);
    double b = std::log(best + 1 == x.size() ? hi : x[best + 1]);
    const double phi = 0.5 * (std::sqrt(5.0) - 1.0);
    double c1 = b - phi * (b - a);
    double c2 = a + phi * (b - a);
    double v1 = ViolationAt(std::exp(c1));
    double v2 = ViolationAt(std::exp(c2));
    for (int it = 0; it < 60; ++it) {
      if (v1 > v2) {
        b = c2;
        c2 = c1;
        v2 = v1;
        c1 = b - phi * (b - a);
        v1 = ViolationAt(std::exp(c1));
      } else {
        a = c1;
        c1 = c2;
        v1 = v2;
        c2 = a + phi * (b - a);
        v2 = ViolationAt(std::exp(c2));
      }
    }
    double at = std::exp(0.5 * (a + b));
    double worst = ViolationAt(at);
    if (v[best] > worst) {
      at = x[best];
      worst = v[best];
    }
    // The ends themselves: 0 Hz, or the value towards infinite frequency.
    for (double end : {from, to}) {
      if (end == 0.0 || std::isinf(end)) {
        const double ve = ViolationAt(end);
        if (ve > worst) {
          worst = ve;
          at = end;
        }
      }
    }
    CertifiedBand band;
    band.worstAt = at;
    band.worst = DecidingAt(at);
    band.measure = LibraryMeasure(criterion_.kind, band.worst);
    return band;
  }

  const SystemView& s_;
  Criterion criterion_;
  std::vector<double> crossings_;
};

// True when tau(i, j) = a(i) + b(j) for all elements (to a femtosecond).
bool DelaysFactor(int n, const std::vector<double>& tau) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const double predicted = tau[i * n] + tau[j] - tau[0];
      if (std::abs(tau[i * n + j] - predicted) > 1e-15) return false;
    }
  }
  return true;
}

// True when the model's response is a symmetric matrix by construction:
// its constant, proportional term, delays and its terms of (i, j) and (j, i)
// are the same numbers.
bool ExactlySymmetric(const Model& m) {
  const int n = m.n;
  const auto same = [n](const std::vector<double>& t, int i, int j) {
    return t.empty() ||
           t[static_cast<std::size_t>(i) * n + j] == t[static_cast<std::size_t>(j) * n + i];
  };
  const auto equal = [](const Complex& x, const Complex& y) {
    return x.re == y.re && x.im == y.im;
  };
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < i; ++j) {
      if (!same(m.constant, i, j) || !same(m.proportional, i, j)) return false;
      if (!m.individual()) {
        for (const PoleTerm& t : m.commonPoles) {
          if (!equal(t.GetResidue(i, j), t.GetResidue(j, i))) return false;
        }
        continue;
      }
      if (m.symmetric) continue;  // (j, i) reads the list of (i, j)
      if (!same(m.delay, i, j)) return false;
      const PoleList& x = m.elementPoles[m.Index(i, j)];
      const PoleList& y = m.elementPoles[m.Index(j, i)];
      if (x.size() != y.size()) return false;
      for (std::size_t k = 0; k < x.size(); ++k) {
        if (!equal(x[k].GetPole(), y[k].GetPole()) ||
            !equal(x[k].GetResidue00(), y[k].GetResidue00())) {
          return false;
        }
      }
    }
  }
  return true;
}

}  // namespace

std::vector<Cx> SystemResponse(const SystemView& s, double w) {
  const int n = s.states;
  const int p = s.ports;
  std::vector<Cx> h(static_cast<std::size_t>(p) * p);
  for (std::size_t k = 0; k < h.size(); ++k) h[k] = s.d[k];
  // X = (j w I - A)^-1 B, block by block; then H = D + C X.
  std::vector<Cx> x(static_cast<std::size_t>(n) * p);
  const Cx jw(0.0, w);
  for (int i = 0; i < n;) {
    const auto at = [&](int r, int c) { return s.a[static_cast<std::size_t>(r) * n + c]; };
    const bool pair = i + 1 < n && (at(i, i + 1) != 0.0 || at(i + 1, i) != 0.0);
    if (!pair) {
      const Cx g = 1.0 / (jw - at(i, i));
      for (int j = 0; j < p; ++j) x[static_cast<std::size_t>(i) * p + j] = g * s.b[i * p + j];
      ++i;
      continue;
    }
    const Cx m00 = jw - at(i, i);
    const Cx m11 = jw - at(i + 1, i + 1);
    const double m01 = -at(i, i + 1);
    const double m10 = -at(i + 1, i);
    const Cx det = m00 * m11 - m01 * m10;
    for (int j = 0; j < p; ++j) {
      const double b0 = s.b[static_cast<std::size_t>(i) * p + j];
      const double b1 = s.b[static_cast<std::size_t>(i + 1) * p + j];
      x[static_cast<std::size_t>(i) * p + j] = (m11 * b0 - m01 * b1) / det;
      x[static_cast<std::size_t>(i + 1) * p + j] = (m00 * b1 - m10 * b0) / det;
    }
    i += 2;
  }
  for (int r = 0; r < p; ++r) {
    for (int k = 0; k < n; ++k) {
      const double c = s.c[static_cast<std::size_t>(r) * n + k];
      if (c == 0.0) continue;
      for (int j = 0; j < p; ++j) {
        h[static_cast<std::size_t>(r) * p + j] += c * x[static_cast<std::size_t>(k) * p + j];
      }
    }
  }
  return h;
}

std::vector<Cx> PassivityMatrix(int n, const std::vector<Cx>& h, bool scattering) {
  std::vector<Cx> p(static_cast<std::size_t>(n) * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      Cx s = 0.0;
      if (scattering) {
        for (int k = 0; k < n; ++k) s += std::conj(h[k * n + i]) * h[k * n + j];
      } else {
        s = 0.5 * (h[i * n + j] + std::conj(h[j * n + i]));
      }
      p[i * n + j] = s;
    }
  }
  return p;
}

bool HermitianEigen(int n, const std::vector<Cx>& p, std::vector<double>* values,
                    std::vector<std::vector<Cx>>* vectors) {
  const int order = 2 * n;
  std::vector<double> a(static_cast<std::size_t>(order) * order);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const Cx v = p[static_cast<std::size_t>(i) * n + j];
      a[i * order + j] = v.real();
      a[i * order + n + j] = -v.imag();
      a[(n + i) * order + j] = v.imag();
      a[(n + i) * order + n + j] = v.real();
    }
  }
  std::vector<double> eig(order);
  std::vector<double> work(order);
  const bool want = vectors != nullptr;
  if (SymmetricEigen(order, a.data(), order, eig.data(), work.data(), want) == 0) return false;
  std::vector<int> idx(order);
  for (int k = 0; k < order; ++k) idx[k] = k;
  std::sort(idx.begin(), idx.end(), [&](int x, int y) { return eig[x] > eig[y]; });
  values->clear();
  if (vectors != nullptr) vectors->clear();
  // Every eigenvalue of P appears twice, with the vectors z and j z; keep
  // one of each pair (by complex Gram-Schmidt among the kept ones).
  for (int k = 0; k < order && static_cast<int>(values->size()) < n; ++k) {
    if (!want) {
      if (k % 2 == 0) values->push_back(eig[idx[k]]);
      continue;
    }
    std::vector<Cx> z(n);
    for (int i = 0; i < n; ++i) {
      z[i] = Cx(a[i * order + idx[k]], a[(n + i) * order + idx[k]]);
    }
    for (const std::vector<Cx>& u : *vectors) {
      Cx dot = 0.0;
      for (int i = 0; i < n; ++i) dot += std::conj(u[i]) * z[i];
      for (int i = 0; i < n; ++i) z[i] -= dot * u[i];
    }
    double norm = 0.0;
    for (const Cx& v : z) norm += std::norm(v);
    norm = std::sqrt(norm);
    if (norm < 0.5) continue;
    for (Cx& v : z) v /= norm;
    vectors->push_back(std::move(z));
    values->push_back(eig[idx[k]]);
  }
  return static_cast<int>(values->size()) == n;
}

int CertificateOrder(const Model& model, const ElementTable* elements) {
  const Result<StateSpace> realized = Realize(model, elements);
  if (!realized) return 0;
  const StateSpace& ss = *realized;
  std::vector<double> b = ss.b;
  std::vector<double> c = ss.c;
  ScaleBlocks(ss.ports, ss.states, ss.a.data(), b, c);  // as the certificate scales them
  std::vector<double> f;
  std::vector<double> g;
  const bool half =
      ExactlySymmetric(model) &&
      HalfSizeFactors(ss.ports, ss.states, ss.a.data(), b, c, ss.d, model.dataType == 1, &f, &g) &&
      FactorsStayNearA(ss.states, ss.a.data(), f, g);
  return half ? ss.states : 2 * ss.states;
}

DelayHandling ClassifyDelays(const Model& model) {
  // A common-pole model's evaluation has no delays.
  bool any = false;
  for (double t : model.delay) any = any || t != 0.0;
  if (!any || !model.individual()) return DelayHandling::kNone;
  // The Hermitian part of a Y/Z matrix changes with any delay.
  const bool factored = model.dataType == 1 && (model.n == 1 || DelaysFactor(model.n, model.delay));
  return factored ? DelayHandling::kFactored : DelayHandling::kIgnored;
}

Result<PassivityCertificate> CertifySystem(const SystemView& system, PassivityKind kind,
                                           double hertzPerUnit) {
  return Certifier(system, kind).Run(hertzPerUnit);
}

Result<PassivityCertificate> CertifyModel(const Model& model, const ElementTable* elements) {
  PassivityKind kind;
  if (model.dataType == 1) {
    kind = PassivityKind::kScattering;
  } else if (model.dataType == 2 || model.dataType == 3) {
    kind = PassivityKind::kImmittance;
  } else {
    return ErrorCode::kUnsupportedParameters;
  }
  if (kind == PassivityKind::kScattering && ScatteringMagnitudeBound(model, elements) < 1.0) {
    PassivityCertificate cert;
    cert.byMagnitudeBound = true;
    cert.delays = ClassifyDelays(model);
    return cert;
  }
  Result<StateSpace> realized = Realize(model, elements);
  if (!realized) return realized.failure();
  const StateSpace& ss = *realized;
  const SystemView view{ss.ports,
                        ss.states,
                        ss.a.data(),
                        ss.b.data(),
                        ss.c.data(),
                        ss.d.data(),
                        ExactlySymmetric(model)};
  Result<PassivityCertificate> cert = CertifySystem(view, kind, 0.5 / std::numbers::pi);
  if (!cert) return cert;

  const int n = ss.ports;
  cert->delays = ClassifyDelays(model);
  // The proportional term: any for S; its skew part for Y/Z.
  for (int i = 0; i < n && !ss.e.empty(); ++i) {
    for (int j = 0; j < n; ++j) {
      const double e = ss.e[i * n + j];
      const double skew = e - ss.e[j * n + i];
      const double part = kind == PassivityKind::kScattering ? e : skew;
      if (part != 0.0) cert->proportionalViolation = true;
    }
  }
  if (cert->proportionalViolation) {
    const bool covered = !cert->bands.empty() && std::isinf(cert->bands.back().to);
    if (!covered) {
      CertifiedBand band;
      band.from = cert->crossings.empty() ? 0.0 : cert->crossings.back();
      band.to = kInfinity;
      band.worstAt = kInfinity;
      band.worst = kind == PassivityKind::kScattering ? kInfinity : -kInfinity;
      band.measure = kInfinity;
      cert->bands.push_back(band);
    }
    cert->passive = false;
  }
  return cert;
}

}  // namespace cfit
