// The N x N complex matrix of one frequency point, owning its elements: the
// value for computations on one point (conversions, the model at one
// frequency, passivity measures). A network holds its points in one block
// and hands out views; a PortMatrix converts to a view as well.
//
// Elements are held row by row in one contiguous block. Get/Set check their
// indices: out of range, Set refuses (false) and Get yields 0. At() is the
// unchecked accessor for loops that already know their bounds.
#ifndef CFIT_NUMERIC_PORT_MATRIX_H
#define CFIT_NUMERIC_PORT_MATRIX_H

#include <cstddef>
#include <vector>

#include "numeric/complex.h"
#include "numeric/matrix_view.h"

namespace cfit {

class PortMatrix {
 public:
  PortMatrix() = default;
  // All elements zero, frequency 0.
  explicit PortMatrix(int order);
  // A copy of the viewed matrix and its frequency.
  explicit PortMatrix(ConstMatrixView view);

  int order() const { return order_; }
  double frequency() const { return frequency_; }
  void set_frequency(double f) { frequency_ = f; }

  // Checked element access.
  bool Set(int i, int j, Complex value);
  Complex Get(int i, int j) const;

  // Unchecked access, 0 <= i, j < order.
  Complex& At(int i, int j) { return elements_[Index(i, j)]; }
  const Complex& At(int i, int j) const { return elements_[Index(i, j)]; }
  Complex* Row(int i) { return elements_.data() + Index(i, 0); }
  const Complex* Row(int i) const { return elements_.data() + Index(i, 0); }

  operator ConstMatrixView() const { return {elements_.data(), order_, &frequency_}; }
  MatrixView view() { return {elements_.data(), order_, &frequency_}; }

  // Largest row sum of element magnitudes.
  double RowSumNorm() const { return ConstMatrixView(*this).RowSumNorm(); }
  // Largest row sum over j != i of |a(i, j) - a(j, i)|.
  double AsymmetryNorm() const { return ConstMatrixView(*this).AsymmetryNorm(); }

 private:
  std::size_t Index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(order_) +
           static_cast<std::size_t>(j);
  }
  bool InRange(int i, int j) const { return i >= 0 && j >= 0 && i < order_ && j < order_; }

  int order_ = 0;
  double frequency_ = 0.0;
  std::vector<Complex> elements_;
};

}  // namespace cfit

#endif  // CFIT_NUMERIC_PORT_MATRIX_H
