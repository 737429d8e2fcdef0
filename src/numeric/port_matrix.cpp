#include "numeric/port_matrix.h"

#include <algorithm>

namespace cfit {

PortMatrix::PortMatrix(int order)
    : order_(std::max(order, 0)),
      elements_(static_cast<std::size_t>(order_) * static_cast<std::size_t>(order_)) {}

bool PortMatrix::Set(int i, int j, Complex value) {
  if (InRange(i, j)) {
    At(i, j) = value;
    return true;
  }
  return false;
}

Complex PortMatrix::Get(int i, int j) const {
  if (InRange(i, j)) return At(i, j);
  return {};
}

void PortMatrix::SumAll() {
  Complex sum;
  for (const Complex& v : elements_) sum += v;
  aggregate_ = sum;
}

void PortMatrix::Trace() {
  Complex sum;
  for (int i = 0; i < order_; ++i) sum += At(i, i);
  aggregate_ = sum;
}

void PortMatrix::AlternatingSum() {
  Complex sum;
  for (int i = 0; i < order_; ++i) {
    for (int j = 0; j < order_; ++j) {
      if ((i + j) % 2 == 0) {
        sum += At(i, j);
      } else {
        sum -= At(i, j);
      }
    }
  }
  aggregate_ = sum;
}

double PortMatrix::RowSumNorm() const {
  double best = 0.0;
  for (int i = 0; i < order_; ++i) {
    double sum = 0.0;
    for (int j = 0; j < order_; ++j) sum += Magnitude(At(i, j));
    best = std::max(best, sum);
  }
  return best;
}

double PortMatrix::AsymmetryNorm() const {
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

}  // namespace cfit
