// Reference LAPACK routines and random test matrices for the dense kernel
// tests. LAPACK is an independent implementation of the same mathematics,
// so agreement with it is evidence rather than a restatement of our code.
#ifndef CFIT_TESTS_NUMERIC_LAPACK_REFERENCE_H
#define CFIT_TESTS_NUMERIC_LAPACK_REFERENCE_H

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

// Fortran interfaces (gfortran ABI: trailing hidden lengths of character
// arguments).
extern "C" {
void dgeqrf_(const int* m, const int* n, double* a, const int* lda, double* tau, double* work,
             const int* lwork, int* info);
void dgeqp3_(const int* m, const int* n, double* a, const int* lda, int* jpvt, double* tau,
             double* work, const int* lwork, int* info);
void dorgqr_(const int* m, const int* n, const int* k, double* a, const int* lda, const double* tau,
             double* work, const int* lwork, int* info);
void dgels_(const char* trans, const int* m, const int* n, const int* nrhs, double* a,
            const int* lda, double* b, const int* ldb, double* work, const int* lwork, int* info,
            std::size_t);
void dgeev_(const char* jobvl, const char* jobvr, const int* n, double* a, const int* lda,
            double* wr, double* wi, double* vl, const int* ldvl, double* vr, const int* ldvr,
            double* work, const int* lwork, int* info, std::size_t, std::size_t);
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info, std::size_t, std::size_t);
void zheev_(const char* jobz, const char* uplo, const int* n, std::complex<double>* a,
            const int* lda, double* w, std::complex<double>* work, const int* lwork, double* rwork,
            int* info, std::size_t, std::size_t);
void zgesv_(const int* n, const int* nrhs, std::complex<double>* a, const int* lda, int* ipiv,
            std::complex<double>* b, const int* ldb, int* info);
}

namespace cfit::testing {

inline void CheckInfo(int info) {
  if (info != 0) throw std::runtime_error("LAPACK reference failed");
}

// rows x cols, column-stored, with a leading dimension that may exceed rows.
struct ColumnMatrix {
  int rows = 0;
  int cols = 0;
  int lda = 0;
  std::vector<double> v;

  ColumnMatrix(int r, int c, int ld = 0) : rows(r), cols(c), lda(ld > 0 ? ld : r) {
    v.assign(static_cast<std::size_t>(lda) * static_cast<std::size_t>(cols), 0.0);
  }
  double& operator()(int i, int j) { return v[static_cast<std::size_t>(j) * lda + i]; }
  double operator()(int i, int j) const { return v[static_cast<std::size_t>(j) * lda + i]; }
  double* data() { return v.data(); }
  double* Column(int j) { return v.data() + static_cast<std::size_t>(j) * lda; }
};

inline ColumnMatrix RandomMatrix(int rows, int cols, std::mt19937_64& rng, int lda = 0) {
  std::normal_distribution<double> normal;
  ColumnMatrix a(rows, cols, lda);
  for (int j = 0; j < cols; ++j) {
    for (int i = 0; i < rows; ++i) a(i, j) = normal(rng);
  }
  return a;
}

inline std::vector<double> RandomVector(int n, std::mt19937_64& rng) {
  std::normal_distribution<double> normal;
  std::vector<double> x(static_cast<std::size_t>(n));
  for (double& value : x) value = normal(rng);
  return x;
}

// rows x cols (rows >= cols) with orthonormal columns, from the QR of a
// Gaussian matrix.
inline ColumnMatrix RandomOrthonormal(int rows, int cols, std::mt19937_64& rng) {
  ColumnMatrix q = RandomMatrix(rows, cols, rng);
  std::vector<double> tau(static_cast<std::size_t>(cols));
  int lwork = std::max(1, cols) * 64;
  std::vector<double> work(static_cast<std::size_t>(lwork));
  int info = 0;
  dgeqrf_(&rows, &cols, q.data(), &q.lda, tau.data(), work.data(), &lwork, &info);
  CheckInfo(info);
  dorgqr_(&rows, &cols, &cols, q.data(), &q.lda, tau.data(), work.data(), &lwork, &info);
  CheckInfo(info);
  return q;
}

// U diag(sigma) V^T with random orthonormal U (rows x cols) and V.
inline ColumnMatrix WithSingularValues(int rows, const std::vector<double>& sigma,
                                       std::mt19937_64& rng) {
  const int cols = static_cast<int>(sigma.size());
  const ColumnMatrix u = RandomOrthonormal(rows, cols, rng);
  const ColumnMatrix v = RandomOrthonormal(cols, cols, rng);
  ColumnMatrix a(rows, cols);
  for (int j = 0; j < cols; ++j) {
    for (int k = 0; k < cols; ++k) {
      const double f = sigma[static_cast<std::size_t>(k)] * v(j, k);
      for (int i = 0; i < rows; ++i) a(i, j) += u(i, k) * f;
    }
  }
  return a;
}

// Least-squares solution of a full-rank system by dgels.
inline std::vector<double> LapackLeastSquares(ColumnMatrix a, std::vector<double> b) {
  const int one = 1;
  int lwork = -1;
  int info = 0;
  double query = 0.0;
  int ldb = std::max(a.rows, a.cols);
  b.resize(static_cast<std::size_t>(ldb), 0.0);
  dgels_("N", &a.rows, &a.cols, &one, a.data(), &a.lda, b.data(), &ldb, &query, &lwork, &info, 1);
  CheckInfo(info);
  lwork = static_cast<int>(query);
  std::vector<double> work(static_cast<std::size_t>(lwork));
  dgels_("N", &a.rows, &a.cols, &one, a.data(), &a.lda, b.data(), &ldb, work.data(), &lwork, &info,
         1);
  CheckInfo(info);
  b.resize(static_cast<std::size_t>(a.cols));
  return b;
}

// A x.
inline std::vector<double> Multiply(const ColumnMatrix& a, const std::vector<double>& x) {
  std::vector<double> y(static_cast<std::size_t>(a.rows), 0.0);
  for (int j = 0; j < a.cols; ++j) {
    for (int i = 0; i < a.rows; ++i) y[static_cast<std::size_t>(i)] += a(i, j) * x[j];
  }
  return y;
}

// max |x - y| / max |y| over the first n entries.
inline double RelativeDifference(const std::vector<double>& x, const std::vector<double>& y,
                                 std::size_t n) {
  double diff = 0.0;
  double scale = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    diff = std::max(diff, std::fabs(x[i] - y[i]));
    scale = std::max(scale, std::fabs(y[i]));
  }
  return scale == 0.0 ? diff : diff / scale;
}

using ComplexVector = std::vector<std::complex<double>>;

inline ComplexVector ToComplex(const std::vector<double>& re, const std::vector<double>& im) {
  ComplexVector z(re.size());
  for (std::size_t i = 0; i < re.size(); ++i) z[i] = {re[i], im[i]};
  return z;
}

// Largest distance between the eigenvalues of `got` and those of `want`,
// pairing each wanted value with the nearest unused one found. Infinite
// when the counts differ.
inline double EigenvalueMismatch(const ComplexVector& got, const ComplexVector& want) {
  if (got.size() != want.size()) return std::numeric_limits<double>::infinity();
  std::vector<bool> used(got.size(), false);
  double worst = 0.0;
  for (const auto& w : want) {
    std::size_t best = got.size();
    double bestDistance = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (!used[i] && std::abs(got[i] - w) < bestDistance) {
        bestDistance = std::abs(got[i] - w);
        best = i;
      }
    }
    if (best == got.size()) return std::numeric_limits<double>::infinity();
    used[best] = true;
    worst = std::max(worst, bestDistance);
  }
  return worst;
}

// Eigenvalues of a general square matrix (column-stored, lda = n) by dgeev.
inline ComplexVector LapackEigenvalues(int n, std::vector<double> a) {
  std::vector<double> wr(static_cast<std::size_t>(n)), wi(static_cast<std::size_t>(n));
  int lwork = 8 * n + 16;
  std::vector<double> work(static_cast<std::size_t>(lwork));
  const int one = 1;
  double dummy = 0.0;
  int info = 0;
  dgeev_("N", "N", &n, a.data(), &n, wr.data(), wi.data(), &dummy, &one, &dummy, &one, work.data(),
         &lwork, &info, 1, 1);
  CheckInfo(info);
  return ToComplex(wr, wi);
}

// Eigenvalues of a symmetric matrix (column-stored, lda = n) by dsyev, in
// ascending order.
inline std::vector<double> LapackSymmetricEigenvalues(int n, std::vector<double> a) {
  std::vector<double> w(static_cast<std::size_t>(n));
  int lwork = 8 * n + 16;
  std::vector<double> work(static_cast<std::size_t>(lwork));
  int info = 0;
  dsyev_("N", "L", &n, a.data(), &n, w.data(), work.data(), &lwork, &info, 1, 1);
  CheckInfo(info);
  return w;
}

// Row-stored square matrix with a leading dimension that may exceed n.
struct Square {
  int n = 0;
  int lda = 0;
  std::vector<double> v;
  Square(int order, int ld = 0) : n(order), lda(ld > 0 ? ld : order) {
    v.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(lda), 0.0);
  }
  double& operator()(int i, int j) { return v[static_cast<std::size_t>(i) * lda + j]; }
  double operator()(int i, int j) const { return v[static_cast<std::size_t>(i) * lda + j]; }
  // Packed column-major copy for LAPACK.
  std::vector<double> ColumnMajor() const {
    std::vector<double> out(static_cast<std::size_t>(n) * n);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) out[static_cast<std::size_t>(j) * n + i] = (*this)(i, j);
    }
    return out;
  }
};

}  // namespace cfit::testing

#endif  // CFIT_TESTS_NUMERIC_LAPACK_REFERENCE_H
