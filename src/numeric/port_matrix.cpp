#include "numeric/port_matrix.h"

#include <algorithm>

namespace cfit {

PortMatrix::PortMatrix(int order)
    : order_(std::max(order, 0)),
      elements_(static_cast<std::size_t>(order_) * static_cast<std::size_t>(order_)) {}

PortMatrix::PortMatrix(ConstMatrixView view)
    : order_(view.order()),
      frequency_(view.frequency()),
      elements_(view.Row(0), view.Row(0) + static_cast<std::size_t>(view.order()) *
                                               static_cast<std::size_t>(view.order())) {}

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

}  // namespace cfit
