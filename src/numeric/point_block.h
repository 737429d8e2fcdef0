// The points of a network in one block: F matrices of order N, point-major
// (point k's matrix at element k * N * N, row by row), and their F
// frequencies beside. It sets no rule on the frequencies; the sampled data
// set that adopts a block does.
#ifndef CFIT_NUMERIC_POINT_BLOCK_H
#define CFIT_NUMERIC_POINT_BLOCK_H

#include <cstddef>
#include <stdexcept>
#include <vector>

#include "numeric/complex.h"
#include "numeric/matrix_view.h"

namespace cfit {

class PointBlock {
 public:
  PointBlock() = default;
  explicit PointBlock(int order) : order_(order < 0 ? 0 : order) {}

  int order() const { return order_; }
  std::size_t size() const { return frequencies_.size(); }
  bool empty() const { return frequencies_.empty(); }

  ConstPointRange points() const {
    return {values_.data(), frequencies_.data(), order_, frequencies_.size()};
  }
  PointRange points() { return {values_.data(), frequencies_.data(), order_, frequencies_.size()}; }
  ConstMatrixView operator[](std::size_t k) const { return points()[k]; }
  MatrixView operator[](std::size_t k) { return points()[k]; }
  // Checked access: throws std::out_of_range past the last point.
  ConstMatrixView at(std::size_t k) const {
    if (k >= size()) throw std::out_of_range("PointBlock::at");
    return (*this)[k];
  }
  MatrixView back() { return (*this)[size() - 1]; }
  double back_frequency() const { return frequencies_.back(); }
  double front_frequency() const { return frequencies_.front(); }

  // Appends a point with all elements 0 at frequency 0 and returns it. Views
  // taken earlier are invalid afterwards.
  MatrixView AppendZero() {
    values_.resize(values_.size() + Block());
    frequencies_.push_back(0.0);
    return back();
  }
  // Appends / puts in front a copy of a point of the block's order.
  void Append(ConstMatrixView point) {
    const Complex* first = point.Row(0);
    values_.insert(values_.end(), first, first + Block());
    frequencies_.push_back(point.frequency());
  }
  void Prepend(ConstMatrixView point) {
    const Complex* first = point.Row(0);
    values_.insert(values_.begin(), first, first + Block());
    frequencies_.insert(frequencies_.begin(), point.frequency());
  }
  // Keeps the first `count` points (count <= size()).
  void Truncate(std::size_t count) {
    values_.resize(count * Block());
    frequencies_.resize(count);
  }
  void Reserve(std::size_t count) {
    values_.reserve(count * Block());
    frequencies_.reserve(count);
  }
  // Drops every point and gives the storage back.
  void Release() {
    values_ = {};
    frequencies_ = {};
  }

 private:
  std::size_t Block() const {
    return static_cast<std::size_t>(order_) * static_cast<std::size_t>(order_);
  }

  int order_ = 0;
  std::vector<Complex> values_;
  std::vector<double> frequencies_;
};

}  // namespace cfit

#endif  // CFIT_NUMERIC_POINT_BLOCK_H
