// Reference LAPACK routines and random test matrices for the dense kernel
// tests. LAPACK is an independent implementation of the same mathematics,
// so agreement with it is evidence rather than a restatement of our code.
#ifndef CFIT_TESTS_NUMERIC_LAPACK_REFERENCE_H
#define CFIT_TESTS_NUMERIC_LAPACK_REFERENCE_H

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>
#include <vector>

// Fortran interfaces (gfortran ABI: trailing hidden lengths of character
// arguments).
extern "C" {
void dgeqrf_(const int* m, const int* n, double* a, const int* lda, double* tau, double* work,
             const int* lwork, int* info);
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
void zgesv_(const int* n, const int* nrhs, std::complex<double>* a, const int* lda, int* ipiv,
            std::complex<double>* b, const int* ldb, int* info);
}

namespace cfit::testing {

inline void CheckInfo(int info) {
  if (info != 0) throw std::runtime_error("LAPACK reference failed");
}

// rows x cols, column-stored, with a leading dimension that may exceed rows.
struct ColumnMatrix {
  int rows = 0, cols = 0, lda = 0;
  std::vector<double> v;
  ColumnMatrix(int r, int c, int ld = 0)
      : rows(r), cols(c), lda(ld > 0 ? ld : r), v(static_cast<std::size_t>(lda) * c, 0.0) {}
  double& operator()(int i, int j) { return v[static_cast<std::size_t>(j) * lda + i]; }
  double operator()(int i, int j) const { return v[static_cast<std::size_t>(j) * lda + i]; }
  double* data() { return v.data(); }
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
  return RandomMatrix(n, 1, rng).v;
}

// U diag(sigma) V^T with random orthonormal U (rows x cols) and V, from the
// QR of Gaussian matrices.
inline ColumnMatrix WithSingularValues(int rows, const std::vector<double>& sigma,
                                       std::mt19937_64& rng) {
  const int cols = static_cast<int>(sigma.size());
  auto orthonormal = [&](int m) {
    ColumnMatrix q = RandomMatrix(m, cols, rng);
    std::vector<double> tau(cols), work(64 * cols);
    int lwork = 64 * cols, info = 0;
    dgeqrf_(&m, &cols, q.data(), &q.lda, tau.data(), work.data(), &lwork, &info);
    dorgqr_(&m, &cols, &cols, q.data(), &q.lda, tau.data(), work.data(), &lwork, &info);
    CheckInfo(info);
    return q;
  };
  const ColumnMatrix u = orthonormal(rows), v = orthonormal(cols);
  ColumnMatrix a(rows, cols);
  for (int j = 0; j < cols; ++j) {
    for (int k = 0; k < cols; ++k) {
      for (int i = 0; i < rows; ++i) a(i, j) += u(i, k) * sigma[k] * v(j, k);
    }
  }
  return a;
}

// Least-squares solution of a full-rank system by dgels.
inline std::vector<double> LapackLeastSquares(ColumnMatrix a, std::vector<double> b) {
  const int one = 1;
  int ldb = std::max(a.rows, a.cols), lwork = 64 * (ldb + 1), info = 0;
  std::vector<double> work(lwork);
  b.resize(ldb, 0.0);
  dgels_("N", &a.rows, &a.cols, &one, a.data(), &a.lda, b.data(), &ldb, work.data(), &lwork, &info,
         1);
  CheckInfo(info);
  b.resize(a.cols);
  return b;
}

// A x.
inline std::vector<double> Multiply(const ColumnMatrix& a, const std::vector<double>& x) {
  std::vector<double> y(a.rows, 0.0);
  for (int j = 0; j < a.cols; ++j) {
    for (int i = 0; i < a.rows; ++i) y[i] += a(i, j) * x[j];
  }
  return y;
}

// max |x - y| / max |y| over the entries of y.
inline double RelativeDifference(const std::vector<double>& x, const std::vector<double>& y) {
  double diff = 0.0, scale = 0.0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    diff = std::max(diff, std::fabs(x[i] - y[i]));
    scale = std::max(scale, std::fabs(y[i]));
  }
  return scale == 0.0 ? diff : diff / scale;
}

using ComplexVector = std::vector<std::complex<double>>;

// Eigenvalues by dgeev of a general square matrix stored by rows (as the
// eigenvalue kernels store it).
inline ComplexVector LapackEigenvalues(const ColumnMatrix& rows) {
  ColumnMatrix a(rows.rows, rows.rows);
  for (int i = 0; i < a.rows * a.rows; ++i)
    a(i / a.rows, i % a.rows) = rows(i % a.rows, i / a.rows);
  std::vector<double> wr(a.rows), wi(a.rows), work(8 * a.rows + 16);
  const int one = 1, lwork = static_cast<int>(work.size());
  double dummy = 0.0;
  int info = 0;
  dgeev_("N", "N", &a.rows, a.data(), &a.lda, wr.data(), wi.data(), &dummy, &one, &dummy, &one,
         work.data(), &lwork, &info, 1, 1);
  CheckInfo(info);
  ComplexVector z(a.rows);
  for (int i = 0; i < a.rows; ++i) z[i] = {wr[i], wi[i]};
  return z;
}

// Eigenvalues of a symmetric matrix by dsyev, in ascending order.
inline std::vector<double> LapackSymmetricEigenvalues(ColumnMatrix a) {
  std::vector<double> w(a.rows), work(8 * a.rows + 16);
  const int lwork = static_cast<int>(work.size());
  int info = 0;
  dsyev_("N", "L", &a.rows, a.data(), &a.lda, w.data(), work.data(), &lwork, &info, 1, 1);
  CheckInfo(info);
  return w;
}

}  // namespace cfit::testing

#endif  // CFIT_TESTS_NUMERIC_LAPACK_REFERENCE_H
