// Light views of one N x N complex matrix held elsewhere (a point of a
// network, or a PortMatrix): order, frequency and elements row by row. A view
// owns nothing; it stays valid while the storage it looks at is neither
// resized nor destroyed. A MatrixView may change elements and frequency; it
// converts to a ConstMatrixView.
#ifndef CFIT_NUMERIC_MATRIX_VIEW_H
#define CFIT_NUMERIC_MATRIX_VIEW_H

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <type_traits>

#include "numeric/complex.h"

namespace cfit {

template <bool Mutable>
class BasicMatrixView {
 public:
  using Element = std::conditional_t<Mutable, Complex, const Complex>;
  using Frequency = std::conditional_t<Mutable, double, const double>;

  BasicMatrixView(Element* elements, int order, Frequency* frequency)
      : elements_(elements), frequency_(frequency), order_(order) {}
  // A changeable view reads as a constant one.
  operator BasicMatrixView<false>() const requires Mutable {
    return {elements_, order_, frequency_};
  }

  int order() const { return order_; }
  double frequency() const { return *frequency_; }
  void set_frequency(double f) const requires Mutable { *frequency_ = f; }

  // Unchecked access, 0 <= i, j < order.
  Element& At(int i, int j) const { return elements_[Index(i, j)]; }
  Element* Row(int i) const { return elements_ + Index(i, 0); }
  // Checked read: 0 out of range.
  Complex Get(int i, int j) const {
    return i >= 0 && j >= 0 && i < order_ && j < order_ ? At(i, j) : Complex();
  }

  // Largest row sum of element magnitudes.
  double RowSumNorm() const {
    double best = 0.0;
    for (int i = 0; i < order_; ++i) {
      double sum = 0.0;
      for (int j = 0; j < order_; ++j) sum += Magnitude(At(i, j));
      best = std::max(best, sum);
    }
    return best;
  }
  // Largest row sum over j != i of |a(i, j) - a(j, i)|.
  double AsymmetryNorm() const {
    double best = 0.0;
    for (int i = 0; i < order_; ++i) {
      double sum = 0.0;
      for (int j = 0; j < order_; ++j) {
        if (j != i) sum += Magnitude(At(i, j) - At(j, i));
      }
      best = std::max(best, sum);
    }
    return best;
  }

 private:
  std::size_t Index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(order_) +
           static_cast<std::size_t>(j);
  }

  Element* elements_;
  Frequency* frequency_;
  int order_;
};

using ConstMatrixView = BasicMatrixView<false>;
using MatrixView = BasicMatrixView<true>;

// The points of a network as a range of views: point k's matrix starts at
// element k * N * N of one block, its frequency is frequencies[k].
template <bool Mutable>
class BasicPointRange {
 public:
  using View = BasicMatrixView<Mutable>;
  using Element = typename View::Element;
  using Frequency = typename View::Frequency;

  class iterator {
   public:
    // Dereferencing yields a view by value: a forward range in the C++20
    // sense, an input iterator for the older algorithms.
    using iterator_concept = std::forward_iterator_tag;
    using iterator_category = std::input_iterator_tag;
    using value_type = View;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = View;

    iterator() = default;
    iterator(Element* elements, Frequency* frequencies, int order, std::size_t k)
        : elements_(elements), frequencies_(frequencies), order_(order), k_(k) {}
    View operator*() const {
      const std::size_t block = static_cast<std::size_t>(order_) * static_cast<std::size_t>(order_);
      return View(elements_ + k_ * block, order_, frequencies_ + k_);
    }
    iterator& operator++() {
      ++k_;
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      ++k_;
      return old;
    }
    bool operator==(const iterator& other) const { return k_ == other.k_; }

   private:
    Element* elements_ = nullptr;
    Frequency* frequencies_ = nullptr;
    int order_ = 0;
    std::size_t k_ = 0;
  };

  BasicPointRange(Element* elements, Frequency* frequencies, int order, std::size_t count)
      : elements_(elements), frequencies_(frequencies), order_(order), count_(count) {}
  operator BasicPointRange<false>() const requires Mutable {
    return {elements_, frequencies_, order_, count_};
  }

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  View operator[](std::size_t k) const {
    const std::size_t block = static_cast<std::size_t>(order_) * static_cast<std::size_t>(order_);
    return View(elements_ + k * block, order_, frequencies_ + k);
  }
  View front() const { return (*this)[0]; }
  View back() const { return (*this)[count_ - 1]; }
  // The first k points (k <= size()).
  BasicPointRange first(std::size_t k) const { return {elements_, frequencies_, order_, k}; }

  iterator begin() const { return iterator(elements_, frequencies_, order_, 0); }
  iterator end() const { return iterator(elements_, frequencies_, order_, count_); }

 private:
  Element* elements_;
  Frequency* frequencies_;
  int order_;
  std::size_t count_;
};

using ConstPointRange = BasicPointRange<false>;
using PointRange = BasicPointRange<true>;

}  // namespace cfit

#endif  // CFIT_NUMERIC_MATRIX_VIEW_H
