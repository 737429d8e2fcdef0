// The N x N complex matrix of one frequency point.
//
// Elements are held row by row in one contiguous block. Get/Set check their
// indices: out of range, Set refuses (false) and Get yields 0. At() is the
// unchecked accessor for loops that already know their bounds.
#ifndef CFIT_NUMERIC_PORT_MATRIX_H
#define CFIT_NUMERIC_PORT_MATRIX_H

#include <cstddef>
#include <vector>

#include "numeric/complex.h"

namespace cfit {

class PortMatrix {
 public:
  PortMatrix() = default;
  // All elements zero, frequency 0, aggregate 0.
  explicit PortMatrix(int order);

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

  // Aggregate value: the quantity a common-pole fit fits for this point.
  Complex aggregate() const { return aggregate_; }
  void set_aggregate(Complex a) { aggregate_ = a; }
  // aggregate = sum of all elements.
  void SumAll();
  // aggregate = sum of the diagonal.
  void Trace();
  // aggregate = sum of (-1)^(i+j) * a(i, j): plus where i + j is even.
  void AlternatingSum();

  // Largest row sum of element magnitudes.
  double RowSumNorm() const;
  // Largest row sum over j != i of |a(i, j) - a(j, i)|.
  double AsymmetryNorm() const;

 private:
  std::size_t Index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(order_) +
           static_cast<std::size_t>(j);
  }
  bool InRange(int i, int j) const { return i >= 0 && j >= 0 && i < order_ && j < order_; }

  int order_ = 0;
  double frequency_ = 0.0;
  std::vector<Complex> elements_;
  Complex aggregate_;
};

}  // namespace cfit

#endif  // CFIT_NUMERIC_PORT_MATRIX_H
