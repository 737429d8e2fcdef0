#include "numeric/pole_term.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace cfit {

PoleTerm::PoleTerm(int n)
    : residues_(static_cast<std::size_t>(std::max(n, 0)) *
                static_cast<std::size_t>(std::max(n, 0))),
      n_(std::max(n, 0)) {}

void PoleTerm::SetPole(double re, double im) {
  pole_ = {re, im};
  isReal_ = (im == 0.0);
}

Complex PoleTerm::GetResidue(int i, int j) const {
  if (!InRange(i, j)) return {};
  return residues_[static_cast<std::size_t>(i) * static_cast<std::size_t>(n_) +
                   static_cast<std::size_t>(j)];
}

bool PoleTerm::SetResidue(int i, int j, Complex value) {
  if (!InRange(i, j)) return false;
  if (isReal_ && value.im != 0.0) return false;
  residues_[static_cast<std::size_t>(i) * static_cast<std::size_t>(n_) +
            static_cast<std::size_t>(j)] = value;
  return true;
}

double PoleTerm::QualityRatio() const {
  if (pole_.re == 0.0) return 1e10;
  return std::fabs(pole_.im / pole_.re);
}

bool PoleTerm::IsNegligible(double threshold) const {
  const double weight = isReal_ ? 1.0 : 1.0 + QualityRatio();
  for (const Complex& r : residues_) {
    if ((std::fabs(r.re) + std::fabs(r.im)) * weight > threshold) return false;
  }
  return true;
}

}  // namespace cfit
