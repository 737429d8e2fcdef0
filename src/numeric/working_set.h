// The least-squares working set of a fitter, allocated once at Init at its
// largest size and reused by every fit, iteration and element.
//
// columns: max_cols columns of max_rows doubles (the column-stored
// least-squares matrix; also the square matrix of the eigenvalue step);
// rhs: max_rows doubles; c, d, scale, work: max_cols doubles each;
// permutation: max_cols ints. Contents are not initialised.
#ifndef CFIT_NUMERIC_WORKING_SET_H
#define CFIT_NUMERIC_WORKING_SET_H

#include <cstddef>
#include <memory>

namespace cfit {

class WorkingSet {
 public:
  // Releases the storage and allocates it again for `rows` x `cols`. Returns
  // false, holding nothing, when either is below 1 or the storage cannot be
  // obtained.
  bool Allocate(long long rows, long long cols);
  void Release();

  bool allocated() const { return columns_ != nullptr; }
  int max_rows() const { return maxRows_; }
  int max_cols() const { return maxCols_; }

  double* Column(int k) {
    return columns_.get() + static_cast<std::size_t>(k) * static_cast<std::size_t>(maxRows_);
  }
  double* columns() { return columns_.get(); }
  double* rhs() { return rhs_.get(); }
  double* c() { return c_.get(); }
  double* d() { return d_.get(); }
  double* scale() { return scale_.get(); }
  double* work() { return work_.get(); }
  int* permutation() { return permutation_.get(); }

 private:
  int maxRows_ = 0;
  int maxCols_ = 0;
  std::unique_ptr<double[]> columns_;
  std::unique_ptr<double[]> rhs_;
  std::unique_ptr<double[]> c_;
  std::unique_ptr<double[]> d_;
  std::unique_ptr<double[]> scale_;
  std::unique_ptr<double[]> work_;
  std::unique_ptr<int[]> permutation_;
};

}  // namespace cfit

#endif  // CFIT_NUMERIC_WORKING_SET_H
