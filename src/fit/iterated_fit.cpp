#include "fit/iterated_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "fit/passive_constant.h"
#include "fit/pole_identification.h"
#include "numeric/householder_qr.h"
#include "numeric/pivoted_qr.h"
#include "numeric/singular_value_clip.h"
#include "numeric/symmetric_eigen.h"

namespace cfit {

namespace {

// A residue column whose part outside the span of the earlier ones is below
// this share of its length adds nothing to the least squares.
constexpr double kDependentColumn = kLooseSolveTolerance;
// Sigma's relaxed constant below this is taken as a breakdown of the
// relaxation, and sigma's constant is fixed to 1 instead.
constexpr double kSmallSigmaConstant = 1e-8;
// Order control: terms contributing less than this share of the target
// error are dropped, and it gives up after this many rounds without a
// better fit.
constexpr double kNegligibleShare = 1e-2;
constexpr int kRoundsWithoutGain = 3;
// Relocation stops after this many iterations without a better fit.
constexpr int kStallIterations = 2;
// Relocations of starting poles that will be trimmed to the order limit.
constexpr int kBriefIterations = 2;

// Above this many targets the relocation works on a compressed set with the
// same Gram matrix (see CompressTargets); the sketch that finds it has this
// many columns, and it is used only when it reproduces the targets to this
// relative accuracy.
constexpr std::size_t kCompressAbove = 48;
constexpr int kSketchColumns = 64;
constexpr double kCompressTolerance = 1e-13;

// The least-squares view of the targets on a pole set: the weighted residue
// columns (the basis, with the pulse factor, then the constant and the
// proportional term) made orthonormal over the real and imaginary rows.
class ResidueSpace {
 public:
  ResidueSpace(const FitSeries& series, const FitOptions& options,
               std::span<const ResidueTarget> targets);

  // Builds the orthonormal basis for the poles.
  void Build(const PoleList& poles);

  int points() const { return npts_; }
  int basis() const { return basis_; }
  int rank() const { return static_cast<int>(kept_.size()); }
  double weight(int i) const { return weight_[i]; }
  // Weighted value of target k at point i.
  Complex Value(std::size_t k, int i) const { return value_[k * npts_ + i]; }
  std::size_t targets() const { return targetCount_; }
  // The number of targets given (before any compression).
  std::size_t givenTargets() const { return givenCount_; }
  // Orthonormal column a at point i.
  Complex Q(int i, int a) const { return q_[static_cast<std::size_t>(i) * rank() + a]; }
  // The sigma columns (basis, then 1) at point i, unweighted.
  const Complex* Sigma(int i) const {
    return sigma_.data() + static_cast<std::size_t>(i) * (basis_ + 1);
  }

  // Squared error of every sampled point summed over the targets, and the
  // relative error over all targets.
  double Errors(std::vector<double>* perPoint) const;
  // Residue coefficients of target k (one per column of the residue
  // problem; columns without a share in the basis get 0).
  void Coefficients(std::size_t k, std::vector<double>* x) const;
  // Unweighted value of residue column c at point i.
  Complex Column(int c, int i) const { return column_[static_cast<std::size_t>(i) * cols_ + c]; }
  int columns() const { return cols_; }

 private:
  const FitSeries& series_;
  const FitOptions& options_;
  int npts_ = 0;
  int mode_ = kConstant;
  void CompressTargets();

  std::size_t targetCount_ = 0;
  std::size_t givenCount_ = 0;
  std::vector<double> weight_;
  std::vector<Complex> value_;  // weighted targets, target after target
  int basis_ = 0;
  int cols_ = 0;
  std::vector<Complex> column_;  // unweighted residue columns by point
  std::vector<Complex> sigma_;   // sigma columns by point
  std::vector<Complex> q_;       // orthonormal columns by point
  std::vector<int> kept_;        // residue column of each orthonormal column
  std::vector<double> r_;        // triangular factor, rank x rank, by rows
};

ResidueSpace::ResidueSpace(const FitSeries& series, const FitOptions& options,
                           std::span<const ResidueTarget> targets)
    : series_(series), options_(options), npts_(series.size()), mode_(options.asymptoteMode) {
  targetCount_ = targets.size();
  weight_.resize(static_cast<std::size_t>(npts_));
  for (int i = 0; i < npts_; ++i) weight_[i] = RowWeight(series, options, i);
  value_.resize(targetCount_ * static_cast<std::size_t>(npts_));
  for (std::size_t k = 0; k < targetCount_; ++k) {
    const ResidueTarget& t = targets[k];
    const double d0 = mode_ == kNoAsymptote ? t.fixedConstant : 0.0;
    for (int i = 0; i < npts_; ++i) value_[k * npts_ + i] = weight_[i] * (t.value[i] - d0);
  }
  givenCount_ = targetCount_;
  CompressTargets();
}

// Every sum the relocation forms over the targets (the sigma system, the
// errors, the residue contributions) depends on the targets V (stacked real
// and imaginary rows, one column per target) only through V V^T. When there
// are many targets of low rank (the elements of a large network made of few
// distinct curves), V V^T = T T^T with few columns T: a random sketch of V's
// range U, V ~ U B, and T = U W sqrt(L) from the eigenvectors W and values L
// of B B^T. Kept only when V - U B is negligible.
void ResidueSpace::CompressTargets() {
  const std::size_t count = targetCount_;
  if (count <= kCompressAbove || npts_ == 0) return;
  const int rows = 2 * npts_;
  const int width = std::min<int>(kSketchColumns, static_cast<int>(count));
  auto at = [&](std::size_t k, int row) {
    const Complex v = value_[k * npts_ + (row % npts_)];
    return row < npts_ ? v.re : v.im;
  };
  // Sketch columns from a fixed pseudo-random mixing of the targets.
  std::vector<std::vector<double>> u;
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  double norm2 = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    for (int row = 0; row < rows; ++row) norm2 += at(k, row) * at(k, row);
  }
  for (int j = 0; j < width; ++j) {
    std::vector<double> y(static_cast<std::size_t>(rows), 0.0);
    for (std::size_t k = 0; k < count; ++k) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      const double mix = static_cast<double>(state >> 11) * 0x1.0p-53 * 2.0 - 1.0;
      const Complex* v = value_.data() + k * npts_;
      for (int i = 0; i < npts_; ++i) {
        y[i] += mix * v[i].re;
        y[npts_ + i] += mix * v[i].im;
      }
    }
    double length = 0.0;
    for (double x : y) length += x * x;
    length = std::sqrt(length);
    for (int pass = 0; pass < 2; ++pass) {
      for (const std::vector<double>& q : u) {
        double dot = 0.0;
        for (int row = 0; row < rows; ++row) dot += q[row] * y[row];
        for (int row = 0; row < rows; ++row) y[row] -= dot * q[row];
      }
    }
    double rest = 0.0;
    for (double x : y) rest += x * x;
    rest = std::sqrt(rest);
    if (!(rest > 1e-14 * length) || rest == 0.0) continue;
    for (double& x : y) x /= rest;
    u.push_back(std::move(y));
  }
  const int l = static_cast<int>(u.size());
  if (l == 0 || l >= static_cast<int>(count)) return;
  // B = U^T V and the part of V outside U's range.
  std::vector<double> b(static_cast<std::size_t>(l) * count);
  double outside2 = 0.0;
  std::vector<double> column(static_cast<std::size_t>(rows));
  for (std::size_t k = 0; k < count; ++k) {
    for (int row = 0; row < rows; ++row) column[row] = at(k, row);
    for (int a = 0; a < l; ++a) {
      double dot = 0.0;
      for (int row = 0; row < rows; ++row) dot += u[a][row] * column[row];
      b[a * count + k] = dot;
      for (int row = 0; row < rows; ++row) column[row] -= dot * u[a][row];
    }
    for (double x : column) outside2 += x * x;
  }
  if (!(outside2 <= kCompressTolerance * kCompressTolerance * norm2)) return;
  // B B^T = W L W^T.
  std::vector<double> c(static_cast<std::size_t>(l) * l);
  for (int a = 0; a < l; ++a) {
    for (int d = 0; d <= a; ++d) {
      double sum = 0.0;
      for (std::size_t k = 0; k < count; ++k) sum += b[a * count + k] * b[d * count + k];
      c[static_cast<std::size_t>(a) * l + d] = sum;
    }
  }
  std::vector<double> lambda(static_cast<std::size_t>(l)), work(static_cast<std::size_t>(l));
  if (SymmetricEigen(l, c.data(), l, lambda.data(), work.data(), true) == 0) return;
  const double largest = *std::max_element(lambda.begin(), lambda.end());
  std::vector<Complex> compressed;
  std::size_t kept = 0;
  for (int j = 0; j < l; ++j) {
    if (!(lambda[j] > 1e-30 * largest)) continue;
    const double scale = std::sqrt(lambda[j]);
    std::vector<double> t(static_cast<std::size_t>(rows), 0.0);
    for (int a = 0; a < l; ++a) {
      const double w = c[static_cast<std::size_t>(a) * l + j] * scale;
      for (int row = 0; row < rows; ++row) t[row] += w * u[a][row];
    }
    for (int i = 0; i < npts_; ++i) compressed.push_back(Complex(t[i], t[npts_ + i]));
    ++kept;
  }
  value_ = std::move(compressed);
  targetCount_ = kept;
}

void ResidueSpace::Build(const PoleList& poles) {
  basis_ = BasisColumnCount(poles);
  cols_ = basis_ + (mode_ >= 1 ? 1 : 0) + (mode_ == 2 ? 1 : 0);
  const std::size_t n = static_cast<std::size_t>(npts_);
  column_.assign(n * cols_, Complex());
  sigma_.assign(n * (basis_ + 1), Complex());
  std::vector<Complex> b(static_cast<std::size_t>(basis_));
  for (int i = 0; i < npts_; ++i) {
    const double f = series_.frequency[i];
    const double tau = options_.timeStep;
    const Complex pulse = tau > 0.0 ? PulseSpectrum(f, tau) : Complex(1.0, 0.0);
    PoleBasis(poles, f, b.data());
    Complex* col = column_.data() + i * cols_;
    Complex* sig = sigma_.data() + i * (basis_ + 1);
    for (int c = 0; c < basis_; ++c) {
      col[c] = b[c] * pulse;
      sig[c] = b[c];
    }
    sig[basis_] = Complex(1.0, 0.0);
    int c = basis_;
    if (mode_ >= 1) col[c++] = pulse;
    if (mode_ == 2) col[c++] = Complex(0.0, f) * pulse;
  }

  // Modified Gram-Schmidt with one reorthogonalisation, over the real inner
  // product of the stacked real and imaginary rows.
  std::vector<std::vector<Complex>> basisColumns;
  std::vector<std::vector<double>> coefficients;
  kept_.clear();
  for (int c = 0; c < cols_; ++c) {
    std::vector<Complex> v(n);
    for (int i = 0; i < npts_; ++i) v[i] = weight_[i] * column_[i * cols_ + c];
    double length = 0.0;
    for (const Complex& x : v) length += x.re * x.re + x.im * x.im;
    length = std::sqrt(length);
    std::vector<double> rc(basisColumns.size(), 0.0);
    for (int pass = 0; pass < 2; ++pass) {
      for (std::size_t a = 0; a < basisColumns.size(); ++a) {
        const std::vector<Complex>& u = basisColumns[a];
        double dot = 0.0;
        for (int i = 0; i < npts_; ++i) dot += u[i].re * v[i].re + u[i].im * v[i].im;
        for (int i = 0; i < npts_; ++i) v[i] -= dot * u[i];
        rc[a] += dot;
      }
    }
    double rest = 0.0;
    for (const Complex& x : v) rest += x.re * x.re + x.im * x.im;
    rest = std::sqrt(rest);
    if (!(rest > kDependentColumn * length)) continue;
    for (Complex& x : v) x = x / rest;
    rc.push_back(rest);
    basisColumns.push_back(std::move(v));
    coefficients.push_back(std::move(rc));
    kept_.push_back(c);
  }
  const int r = rank();
  q_.assign(n * r, Complex());
  for (int a = 0; a < r; ++a) {
    for (int i = 0; i < npts_; ++i) q_[static_cast<std::size_t>(i) * r + a] = basisColumns[a][i];
  }
  r_.assign(static_cast<std::size_t>(r) * r, 0.0);
  for (int a = 0; a < r; ++a) {
    for (int row = 0; row <= a; ++row)
      r_[static_cast<std::size_t>(row) * r + a] = coefficients[a][row];
  }
}

double ResidueSpace::Errors(std::vector<double>* perPoint) const {
  const int r = rank();
  const int sampled = std::min(series_.sampled, npts_);
  perPoint->assign(static_cast<std::size_t>(sampled), 0.0);
  std::vector<double> a(static_cast<std::size_t>(r));
  double error2 = 0.0, norm2 = 0.0;
  for (std::size_t k = 0; k < targetCount_; ++k) {
    std::fill(a.begin(), a.end(), 0.0);
    for (int i = 0; i < npts_; ++i) {
      const Complex v = Value(k, i);
      const Complex* q = q_.data() + static_cast<std::size_t>(i) * r;
      for (int c = 0; c < r; ++c) a[c] += q[c].re * v.re + q[c].im * v.im;
    }
    for (int i = 0; i < sampled; ++i) {
      Complex e = Value(k, i);
      const Complex* q = q_.data() + static_cast<std::size_t>(i) * r;
      for (int c = 0; c < r; ++c) e -= a[c] * q[c];
      const double e2 = e.re * e.re + e.im * e.im;
      (*perPoint)[i] += e2;
      error2 += e2;
      const Complex v = Value(k, i);
      norm2 += v.re * v.re + v.im * v.im;
    }
  }
  return norm2 > 0.0 ? std::sqrt(error2 / norm2) : 0.0;
}

void ResidueSpace::Coefficients(std::size_t k, std::vector<double>* x) const {
  const int r = rank();
  std::vector<double> a(static_cast<std::size_t>(r), 0.0);
  for (int i = 0; i < npts_; ++i) {
    const Complex v = Value(k, i);
    const Complex* q = q_.data() + static_cast<std::size_t>(i) * r;
    for (int c = 0; c < r; ++c) a[c] += q[c].re * v.re + q[c].im * v.im;
  }
  // Back substitution with the triangular factor.
  for (int row = r - 1; row >= 0; --row) {
    double s = a[row];
    for (int c = row + 1; c < r; ++c) s -= r_[static_cast<std::size_t>(row) * r + c] * a[c];
    a[row] = s / r_[static_cast<std::size_t>(row) * r + row];
  }
  x->assign(static_cast<std::size_t>(cols_), 0.0);
  for (int c = 0; c < r; ++c) (*x)[kept_[c]] = a[c];
}

// Solves for sigma's coefficients (basis, then its constant) over all
// targets and writes c / constant into the poles' residue (0, 0).
Status SolveSigma(const ResidueSpace& space, PoleList& poles) {
  const int npts = space.points();
  const int m = space.basis() + 1;
  const int r = space.rank();
  const std::size_t mm = static_cast<std::size_t>(m) * m;
  std::vector<double> g(mm, 0.0);

  // The sigma columns of target k are -v_k times the sigma basis; their
  // Gram matrix summed over the targets needs only the summed squared
  // moduli of the values at each point.
  for (int i = 0; i < npts; ++i) {
    double s = 0.0;
    for (std::size_t k = 0; k < space.targets(); ++k) {
      const Complex v = space.Value(k, i);
      s += v.re * v.re + v.im * v.im;
    }
    const Complex* psi = space.Sigma(i);
    for (int b = 0; b < m; ++b) {
      for (int c = b; c < m; ++c) {
        g[static_cast<std::size_t>(b) * m + c] +=
            s * (psi[b].re * psi[c].re + psi[b].im * psi[c].im);
      }
    }
  }
  // Less their parts in the span of the residue columns: P_k = Q^T M_k,
  // with Q^T M_k[a][b] = -Re sum_i w_i v_k(i) conj(Q(i, a)) psi_b(i).
  // Z(i)[a][b] = conj(Q(i, a)) psi_b(i) is made for a block of points at a
  // time (its size grows with points x order^2); two targets take two of
  // its rows at once.
  const std::size_t ab = static_cast<std::size_t>(r) * m;
  const std::size_t count = space.targets();
  constexpr int kPointBlock = 32;
  constexpr std::size_t kBlock = 2;
  std::vector<double> pAll(count * ab, 0.0), spare((kBlock - 1) * ab);
  std::vector<double> zr(static_cast<std::size_t>(kPointBlock) * ab), zi(zr.size());
  for (int i0 = 0; i0 < npts; i0 += kPointBlock) {
    const int rowsHere = std::min(kPointBlock, npts - i0);
    for (int ii = 0; ii < rowsHere; ++ii) {
      const Complex* psi = space.Sigma(i0 + ii);
      for (int a = 0; a < r; ++a) {
        const Complex q = Conj(space.Q(i0 + ii, a));
        for (int b = 0; b < m; ++b) {
          const Complex z = q * psi[b];
          zr[ii * ab + a * m + b] = z.re;
          zi[ii * ab + a * m + b] = z.im;
        }
      }
    }
    for (std::size_t k0 = 0; k0 < count; k0 += kBlock) {
      const std::size_t block = std::min(kBlock, count - k0);
      double* __restrict p0 = pAll.data() + k0 * ab;
      double* __restrict p1 = block > 1 ? pAll.data() + (k0 + 1) * ab : spare.data();
      const auto value = [&](std::size_t q, int ii) {
        return q < block ? space.Value(k0 + q, i0 + ii) : Complex(0.0, 0.0);
      };
      // Two points per pass: each partial sum is loaded and stored once for
      // both, and still adds the points' terms in their order.
      int ii = 0;
      for (; ii + 1 < rowsHere; ii += 2) {
        const Complex a0 = value(0, ii), a1 = value(1, ii);
        const Complex b0 = value(0, ii + 1), b1 = value(1, ii + 1);
        const double* __restrict xr = zr.data() + ii * ab;
        const double* __restrict xi = zi.data() + ii * ab;
        const double* __restrict yr = xr + ab;
        const double* __restrict yi = xi + ab;
        for (std::size_t e = 0; e < ab; ++e) {
          p0[e] = (p0[e] + (a0.re * xr[e] - a0.im * xi[e])) + (b0.re * yr[e] - b0.im * yi[e]);
          p1[e] = (p1[e] + (a1.re * xr[e] - a1.im * xi[e])) + (b1.re * yr[e] - b1.im * yi[e]);
        }
      }
      for (; ii < rowsHere; ++ii) {
        const Complex a0 = value(0, ii), a1 = value(1, ii);
        const double* __restrict xr = zr.data() + ii * ab;
        const double* __restrict xi = zi.data() + ii * ab;
        for (std::size_t e = 0; e < ab; ++e) {
          p0[e] += a0.re * xr[e] - a0.im * xi[e];
          p1[e] += a1.re * xr[e] - a1.im * xi[e];
        }
      }
    }
  }
  for (std::size_t k = 0; k < count; ++k) {
    for (int a = 0; a < r; ++a) {
      const double* pa = pAll.data() + k * ab + static_cast<std::size_t>(a) * m;
      for (int b = 0; b < m; ++b) {
        double* gb = g.data() + static_cast<std::size_t>(b) * m;
        const double pb = pa[b];
        for (int c = b; c < m; ++c) gb[c] -= pb * pa[c];
      }
    }
  }
  for (int b = 0; b < m; ++b) {
    for (int c = 0; c < b; ++c) g[static_cast<std::size_t>(b) * m + c] = g[c * m + b];
  }

  // The relaxation row: the real part of sigma sums to the number of
  // points, scaled to the size of the data.
  double dataNorm2 = 0.0;
  for (std::size_t k = 0; k < space.targets(); ++k) {
    for (int i = 0; i < npts; ++i) {
      const Complex v = space.Value(k, i);
      dataNorm2 += v.re * v.re + v.im * v.im;
    }
  }
  const double beta2 = dataNorm2 / (static_cast<double>(npts) * npts);
  std::vector<double> row(static_cast<std::size_t>(m), 0.0);
  for (int i = 0; i < npts; ++i) {
    const Complex* psi = space.Sigma(i);
    for (int b = 0; b < m; ++b) row[b] += space.weight(i) * psi[b].re;
  }

  // Solves the (scaled) normal equations of the first `n` unknowns with
  // the given right-hand side.
  auto solve = [&](int n, const std::vector<double>& matrix, std::vector<double> rhs,
                   std::vector<double>* x) {
    std::vector<double> scale(static_cast<std::size_t>(n), 1.0);
    for (int b = 0; b < n; ++b) {
      const double d = matrix[static_cast<std::size_t>(b) * m + b];
      if (d > 0.0) scale[b] = 1.0 / std::sqrt(d);
    }
    std::vector<double> a(static_cast<std::size_t>(n) * n);
    for (int c = 0; c < n; ++c) {
      for (int b = 0; b < n; ++b) {
        a[static_cast<std::size_t>(c) * n + b] =
            matrix[static_cast<std::size_t>(b) * m + c] * scale[b] * scale[c];
      }
    }
    for (int b = 0; b < n; ++b) rhs[b] *= scale[b];
    std::vector<double> cc(static_cast<std::size_t>(n)), dd(static_cast<std::size_t>(n));
    if (HouseholderQR(n, n, a.data(), n, cc.data(), dd.data()) == 0) return false;
    SolveQR(n, n, a.data(), n, cc.data(), dd.data(), rhs.data());
    x->assign(static_cast<std::size_t>(n), 0.0);
    for (int b = 0; b < n; ++b) {
      (*x)[b] = rhs[b] * scale[b];
      if (!std::isfinite((*x)[b])) return false;
    }
    return true;
  };

  // A^T (b - A x) of the full least-squares problem for a full set of
  // sigma coefficients x (with the relaxation row when `relaxation`),
  // computed from the targets rather than from G: one step of refinement
  // with it gives the solve the accuracy of an orthogonal factorisation
  // while G alone would lose twice the digits.
  auto correction = [&](const std::vector<double>& x, bool relaxation) {
    std::vector<double> h(static_cast<std::size_t>(m), 0.0);
    std::vector<Complex> y(static_cast<std::size_t>(npts));
    std::vector<double> a(static_cast<std::size_t>(r));
    std::vector<Complex> sigmaValue(static_cast<std::size_t>(npts));
    for (int i = 0; i < npts; ++i) {
      const Complex* psi = space.Sigma(i);
      Complex sum;
      for (int b = 0; b < m; ++b) sum += x[b] * psi[b];
      sigmaValue[i] = sum;
    }
    for (std::size_t k = 0; k < space.targets(); ++k) {
      // y = (I - Q Q^T) A_k x with A_k x = -w v_k sigma.
      std::fill(a.begin(), a.end(), 0.0);
      for (int i = 0; i < npts; ++i) {
        y[i] = -(space.Value(k, i) * sigmaValue[i]);
        for (int c = 0; c < r; ++c) {
          const Complex q = space.Q(i, c);
          a[c] += q.re * y[i].re + q.im * y[i].im;
        }
      }
      for (int i = 0; i < npts; ++i) {
        Complex e = y[i];
        for (int c = 0; c < r; ++c) e -= a[c] * space.Q(i, c);
        // h -= A_k^T e, the columns of A_k being -w v_k psi_b.
        const Complex u = space.Value(k, i);
        const Complex* psi = space.Sigma(i);
        for (int b = 0; b < m; ++b) {
          const Complex col = u * psi[b];
          h[b] += col.re * e.re + col.im * e.im;
        }
      }
    }
    if (relaxation) {
      double rowValue = 0.0;
      for (int b = 0; b < m; ++b) rowValue += row[b] * x[b];
      const double residual = npts - rowValue;
      for (int b = 0; b < m; ++b) h[b] += beta2 * row[b] * residual;
    }
    return h;
  };

  std::vector<double> relaxed = g;
  std::vector<double> rhs(static_cast<std::size_t>(m));
  for (int b = 0; b < m; ++b) {
    for (int c = 0; c < m; ++c) {
      relaxed[static_cast<std::size_t>(b) * m + c] += beta2 * row[b] * row[c];
    }
    rhs[b] = beta2 * npts * row[b];
  }
  std::vector<double> x, step;
  if (!solve(m, relaxed, rhs, &x)) return Failure::Silent();
  if (!solve(m, relaxed, correction(x, true), &step)) return Failure::Silent();
  for (int b = 0; b < m; ++b) x[b] += step[b];
  double constant = x[m - 1];
  if (std::fabs(constant) < kSmallSigmaConstant) {
    // Sigma's constant fixed to 1: its column moves to the right-hand side.
    for (int b = 0; b < m - 1; ++b) rhs[b] = -g[static_cast<std::size_t>(b) * m + (m - 1)];
    if (!solve(m - 1, g, rhs, &x)) return Failure::Silent();
    x.push_back(1.0);
    std::vector<double> h = correction(x, false);
    h.pop_back();
    if (!solve(m - 1, g, h, &step)) return Failure::Silent();
    for (int b = 0; b < m - 1; ++b) x[b] += step[b];
    constant = 1.0;
  }
  int c = 0;
  for (PoleTerm& term : poles) {
    if (term.IsReal()) {
      term.SetResidue00({x[c] / constant, 0.0});
      c += 1;
    } else {
      term.SetResidue00({x[c] / constant, x[c + 1] / constant});
      c += 2;
    }
  }
  return Success();
}

// The largest move of a pole relative to its modulus, from the nearest pole
// of the previous set; infinite when the number of terms changed.
double LargestMove(const PoleList& before, const PoleList& after) {
  if (before.size() != after.size()) return std::numeric_limits<double>::infinity();
  double largest = 0.0;
  for (const PoleTerm& t : after) {
    const Complex q = t.GetPole();
    double nearest = std::numeric_limits<double>::infinity();
    for (const PoleTerm& u : before) nearest = std::min(nearest, Abs(q - u.GetPole()));
    largest = std::max(largest, nearest / std::max(Abs(q), std::numeric_limits<double>::min()));
  }
  return largest;
}

struct RoundResult {
  PoleList poles;
  double error = std::numeric_limits<double>::infinity();
  std::vector<double> perPoint;
  int iterations = 0;
  bool settled = false;
  // The single pass's relocation of the starting poles (empty when it
  // failed).
  PoleList single;
};

// One round of relocations from the given poles.
Result<RoundResult> Relocate(ResidueSpace& space, const FitSeries& series,
                             const FitOptions& options, const PoleLimits& limits,
                             const IterationSettings& settings, WorkingSet& work, PoleList poles,
                             bool withSingle, const RunContext& run) {
  RoundResult best;
  std::vector<double> perPoint;
  int stalled = 0;
  bool settled = false;
  if (withSingle) {
    // The single pass's relocation (its sigma solve on the series) is a
    // candidate too, so that the result is never worse than its poles.
    PoleList single = poles;
    if (SolveSigmaSystem(series, options, work, single, run) &&
        FindCPols(series, options, limits, work, single, run)) {
      best.single = std::move(single);
    }
  }
  for (int t = 0;; ++t) {
    if (run.Cancelled()) return Failure::Silent();
    space.Build(poles);
    const double error = space.Errors(&perPoint);
    stalled = error < (1.0 - settings.stallRatio) * best.error ? 0 : stalled + 1;
    if (error < best.error || best.poles.empty()) {
      best.error = error;
      best.poles = poles;
      best.perPoint = perPoint;
    }
    if (t >= settings.maxIterations || settled || stalled > kStallIterations || error == 0.0) {
      best.iterations = t;
      best.settled = settled;
      return best;
    }
    // A relocation that breaks down ends the round with the best poles met.
    PoleList before = poles;
    if (!SolveSigma(space, poles) || !FindCPols(series, options, limits, work, poles, run)) {
      best.iterations = t;
      return best;
    }
    settled = LargestMove(before, poles) <= settings.poleTolerance;
  }
}

// The sum of squared errors over the sampled points of the model the fit
// would store for these poles: the residue fit on a copy of them, less the
// terms that committing the poles drops; infinite when the fit fails.
double CommittedError(const FitSeries& series, std::span<const ResidueTarget> targets,
                      const FitOptions& options, const PoleLimits& limits, WorkingSet& work,
                      const PoleList& poles, const RunContext& run) {
  PoleList stored = poles;
  const Result<std::vector<ResidueFit>> fits =
      IdentifyResidues(series, targets, options, work, stored, run);
  if (!fits) return std::numeric_limits<double>::infinity();
  PoleList working = stored, kept;
  CommitPoles(working, kept, limits.workingQLimit, options);
  // The kept terms' values at every sampled point, in working form: the
  // working pole is q = (-Re P, Im P) of the stored pole P, the residue
  // R P of a real pole and conj(R) (-q) / 2 of a pair.
  struct Term {
    const PoleTerm* stored;
    Complex q;
  };
  std::vector<Term> terms;
  for (const PoleTerm& t : stored) {
    for (const PoleTerm& k : kept) {
      if (k.GetPole().re == t.GetPole().re && k.GetPole().im == t.GetPole().im) {
        terms.push_back({&t, Complex(-t.GetPole().re, t.GetPole().im)});
        break;
      }
    }
  }
  const int sampled = std::min(series.sampled, series.size());
  const std::size_t width = terms.size();
  std::vector<Complex> b1(static_cast<std::size_t>(sampled) * width);
  std::vector<Complex> b2(b1.size());
  for (int i = 0; i < sampled; ++i) {
    const Complex s(0.0, series.frequency[i]);
    for (std::size_t t = 0; t < width; ++t) {
      b1[i * width + t] = 1.0 / (s - terms[t].q);
      if (!terms[t].stored->IsReal()) b2[i * width + t] = 1.0 / (s - Conj(terms[t].q));
    }
  }
  const int mode = options.asymptoteMode;
  const double tau = options.timeStep;
  double sum = 0.0;
  std::vector<Complex> r(width);
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const ResidueTarget& target = targets[k];
    const ResidueFit& fit = (*fits)[k];
    const double d0 = mode == kNoAsymptote ? target.fixedConstant : 0.0;
    for (std::size_t t = 0; t < width; ++t) {
      const Complex R = terms[t].stored->GetResidue(target.row, target.column);
      r[t] = terms[t].stored->IsReal() ? Complex(R.re * -terms[t].q.re, 0.0)
                                       : Conj(R) * (-terms[t].q) / 2.0;
    }
    for (int i = 0; i < sampled; ++i) {
      const double f = series.frequency[i];
      Complex value = mode == kNoAsymptote ? Complex() : Complex(fit.constant, 0.0);
      value += Complex(0.0, f * fit.proportional);
      for (std::size_t t = 0; t < width; ++t) {
        value += r[t] * b1[i * width + t];
        if (!terms[t].stored->IsReal()) value += Conj(r[t]) * b2[i * width + t];
      }
      if (tau > 0.0) value = value * PulseSpectrum(f, tau);
      const Complex e = target.value[i] - (value + d0);
      sum += e.re * e.re + e.im * e.im;
    }
  }
  return sum;
}

// Contribution of every term to the targets (the Frobenius norm of its
// share of the fit over the sampled points).
std::vector<double> Contributions(const ResidueSpace& space, const PoleList& poles, int sampled) {
  std::vector<double> share(poles.size(), 0.0);
  std::vector<double> x;
  for (std::size_t k = 0; k < space.targets(); ++k) {
    space.Coefficients(k, &x);
    int c = 0;
    for (std::size_t t = 0; t < poles.size(); ++t) {
      const int width = poles[t].IsReal() ? 1 : 2;
      for (int i = 0; i < sampled; ++i) {
        Complex part = x[c] * space.Column(c, i);
        if (width == 2) part += x[c + 1] * space.Column(c + 1, i);
        share[t] += part.re * part.re + part.im * part.im;
      }
      c += width;
    }
  }
  for (double& s : share) s = std::sqrt(s);
  return share;
}

// S data whose fitted constant has a singular value above 1: the fit again
// with the constant held at HeldConstant (passive_constant.h). The refit is
// kept when it is at least as accurate as the free fit (so the iterated fit
// never ends less accurate for it), else the free fit's model is put back. Fits with asymptotes or
// constants of the caller's own are left alone.
std::optional<FitReport> RefitWithHeldConstant(FitterState& state, const RunContext& run,
                                               const PoleRelocation& relocate, bool prefer) {
  const int n = state.network.portCount;
  if (state.network.dataType != kS || state.model == nullptr || state.network.elements == nullptr ||
      !state.network.data.has_value()) {
    return std::nullopt;
  }
  ElementTable& table = *state.network.elements;
  if (table.HasConstantValues()) return std::nullopt;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (table.AsymptoteModeAt(i, j) != kConstant) return std::nullopt;
    }
  }
  const Model free = *state.model;
  if (!(LargestSingularValue(free.constant, n) > 1.0)) return std::nullopt;
  const std::vector<double> held = HeldConstant(*state.network.data, free.delay);
  if (held.empty()) return std::nullopt;
  const auto squaredError = [](const Model& m) {
    double sum = 0.0;
    for (double e : m.rmsError) sum += e * e;
    return sum;
  };
  const ElementTable saved = table;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) table.SetAsymptote(kNoAsymptote, i, j, held[i * n + j], false);
  }
  run.Write(
      "\n*** The fitted constant matrix has a singular value above 1: fitting again with "
      "it held at the last point's ***\n");
  const FitReport again = Fit(state, run, &relocate);
  table = saved;
  const double allowed = prefer ? kHeldConstantTolerance * kHeldConstantTolerance : 1.0;
  if (again.ok && squaredError(*state.model) <= allowed * squaredError(free)) {
    return again;
  }
  if (prefer) {
    run.Write("\n*** The fit with the constant held is less accurate by more than a factor of ",
              kHeldConstantTolerance, ": the free fit is kept ***\n");
  } else {
    run.Write("\n*** The fit with the constant held is less accurate: the free fit is kept ***\n");
  }
  *state.model = free;
  return std::nullopt;
}

}  // namespace

Result<RelocationRecord> RelocatePoles(const FitSeries& series,
                                       std::span<const ResidueTarget> targets,
                                       const FitOptions& options, const PoleLimits& limits,
                                       const IterationSettings& settings, WorkingSet& work,
                                       PoleList& poles, const RunContext& run) {
  if (series.size() == 0 || targets.empty()) return ErrorCode::kInconsistentData;
  if (poles.empty()) return ErrorCode::kFitFailed;
  ResidueSpace space(series, options, targets);
  const int sampled = std::min(series.sampled, series.size());
  // The residue fit after this needs the basis and two more columns.
  const int room = std::max(1, work.allocated() ? work.max_cols() - 2 : 1);
  const int maxOrder = settings.maxOrder > 0 ? std::min(settings.maxOrder, room) : room;

  RelocationRecord record;
  // Starting poles above the order limit are relocated only briefly before
  // the least contributing ones go: the full relocation follows the trim.
  IterationSettings first = settings;
  if (settings.maxOrder > 0 && BasisColumnCount(poles) > maxOrder) {
    first.maxIterations = std::min(settings.maxIterations, kBriefIterations);
  }
  Result<RoundResult> round =
      Relocate(space, series, options, limits, first, work, poles, true, run);
  if (!round) return round.failure();
  record.iterations = round->iterations;
  PoleList single = std::move(round->single);
  RoundResult best = std::move(*round);
  if (settings.maxOrder > 0) {
    if (BasisColumnCount(single) > maxOrder) single.clear();
    if (BasisColumnCount(best.poles) > maxOrder) {
      // Too many poles: drop the terms that contribute least, then relocate
      // the rest.
      space.Build(best.poles);
      const std::vector<double> share = Contributions(space, best.poles, sampled);
      std::vector<std::size_t> rank(share.size());
      for (std::size_t t = 0; t < rank.size(); ++t) rank[t] = t;
      std::sort(rank.begin(), rank.end(),
                [&](std::size_t a, std::size_t b) { return share[a] < share[b]; });
      std::vector<bool> dropped(share.size(), false);
      int order = BasisColumnCount(best.poles);
      for (std::size_t t : rank) {
        if (order <= maxOrder) break;
        dropped[t] = true;
        order -= best.poles[t].IsReal() ? 1 : 2;
      }
      PoleList kept;
      for (std::size_t t = 0; t < best.poles.size(); ++t) {
        if (!dropped[t]) kept.push_back(best.poles[t]);
      }
      if (kept.empty()) kept.push_back(best.poles[rank.back()]);
      round = Relocate(space, series, options, limits, settings, work, kept, false, run);
      if (!round) return round.failure();
      record.iterations += round->iterations;
      best = std::move(*round);
    }
  }
  if (settings.targetError > 0.0) {
    double norm2 = 0.0;
    for (std::size_t k = 0; k < space.targets(); ++k) {
      for (int i = 0; i < sampled; ++i) {
        const Complex v = space.Value(k, i);
        norm2 += v.re * v.re + v.im * v.im;
      }
    }
    const double dataNorm = std::sqrt(norm2);
    PoleList current = best.poles;
    std::vector<double> perPoint = best.perPoint;
    int withoutGain = 0;
    while (best.error > settings.targetError && withoutGain < kRoundsWithoutGain) {
      space.Build(current);
      const std::vector<double> share = Contributions(space, current, sampled);
      PoleList next;
      for (std::size_t t = 0; t < current.size(); ++t) {
        if (share[t] >= kNegligibleShare * settings.targetError * dataNorm) {
          next.push_back(current[t]);
        }
      }
      // A complex pair where it fits under the order limit, else a real pole.
      const int order = BasisColumnCount(next);
      if (order + 1 > maxOrder || perPoint.empty()) break;
      const auto worst = std::max_element(perPoint.begin(), perPoint.end()) - perPoint.begin();
      double f = series.frequency[static_cast<std::size_t>(worst)];
      if (f <= 0.0) f = sampled > 1 ? series.frequency[1] : 1.0;
      PoleTerm added(options.residueOrder);
      if (order + 2 <= maxOrder) {
        added.SetPole(-0.01 * f, -f);
      } else {
        added.SetPole(-f, 0.0);
      }
      next.push_back(added);
      round = Relocate(space, series, options, limits, settings, work, next, false, run);
      if (!round) return round.failure();
      record.iterations += round->iterations;
      current = round->poles;
      perPoint = round->perPoint;
      if (round->error < best.error) {
        best = std::move(*round);
        withoutGain = 0;
      } else {
        ++withoutGain;
      }
    }
  }
  // The single pass's poles win unless the residue fit itself, as the
  // model will get it, is better on the relocated ones.
  if (!single.empty()) {
    const double relocated =
        CommittedError(series, targets, options, limits, work, best.poles, run);
    const double once = CommittedError(series, targets, options, limits, work, single, run);
    if (once < relocated) best.poles = std::move(single);
  }
  poles = std::move(best.poles);
  record.settled = best.settled;
  record.order = BasisColumnCount(poles);
  record.relativeError = best.error;
  return record;
}

FitReport FitIterated(FitterState& state, const IterationSettings& settings, const RunContext& run,
                      IteratedFitRecord* record) {
  IteratedFitRecord tally;
  const PoleRelocation relocate =
      [&](const FitSeries& series, std::span<const ResidueTarget> targets,
          const FitOptions& options, const PoleLimits& limits, WorkingSet& work, PoleList& poles,
          const RunContext& context) -> Status {
    const Result<RelocationRecord> r =
        RelocatePoles(series, targets, options, limits, settings, work, poles, context);
    if (!r) return r.failure();
    tally.fewestIterations =
        tally.quantities == 0 ? r->iterations : std::min(tally.fewestIterations, r->iterations);
    tally.mostIterations = std::max(tally.mostIterations, r->iterations);
    tally.totalIterations += r->iterations;
    tally.quantities += 1;
    tally.settled += r->settled ? 1 : 0;
    return Success();
  };
  // Poles near the band: the caller's band for this fit, up to
  // kPoleBandFactor times the top frequency.
  const Settings saved = state.settings;
  const bool nearBand = settings.polesNearBand && !state.settings.callerBand &&
                        state.network.data.has_value() && !state.network.data->empty() &&
                        state.network.data->back().frequency() > 0.0;
  if (nearBand) {
    state.settings.callerBand = true;
    state.settings.lowerBandFrequency = 0.0;
    state.settings.upperBandFrequency = kPoleBandFactor * state.network.data->back().frequency();
    run.Write("\n*** Poles kept below ", state.settings.upperBandFrequency, " Hz ***\n");
  }
  FitReport report = Fit(state, run, &relocate);
  if (report.ok && settings.holdPassiveConstant) {
    const IteratedFitRecord first = tally;
    tally = IteratedFitRecord{};
    if (const std::optional<FitReport> held =
            RefitWithHeldConstant(state, run, relocate, settings.preferHeldConstant)) {
      report = *held;
      tally.constantHeld = true;
    } else {
      tally = first;
    }
  }
  state.settings = saved;
  tally.polesInBand = nearBand;
  if (record != nullptr) *record = tally;
  return report;
}

}  // namespace cfit
