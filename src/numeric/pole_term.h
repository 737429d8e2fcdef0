// One pole of a pole list with its residue matrix.
//
// A list that belongs to one matrix element has 1 x 1 residues; a list common
// to all elements of an N-port has N x N residues. A complex-conjugate pair
// is always held by one term, its second member implied. Lists are kept as
// std::vector<PoleTerm> in their list order.
#ifndef CFIT_NUMERIC_POLE_TERM_H
#define CFIT_NUMERIC_POLE_TERM_H

#include <vector>

#include "numeric/complex.h"

namespace cfit {

class PoleTerm {
 public:
  PoleTerm() : PoleTerm(1) {}
  // Pole 0 (real), residues zero-filled, n x n.
  explicit PoleTerm(int n);

  int n() const { return n_; }

  // Sets the pole; IsReal() becomes true exactly when im is 0.
  void SetPole(double re, double im);
  void SetPole(Complex p) { SetPole(p.re, p.im); }
  Complex GetPole() const { return pole_; }
  bool IsReal() const { return isReal_; }

  // 0 + 0j out of range.
  Complex GetResidue(int i, int j) const;
  Complex GetResidue00() const { return residues_.empty() ? Complex{} : residues_[0]; }
  // Refused (false, nothing stored) out of range, or when the pole is real
  // and the value has a non-zero imaginary part.
  bool SetResidue(int i, int j, Complex value);
  bool SetResidue00(Complex value) { return SetResidue(0, 0, value); }

  // |Im p / Re p|, and 1e10 when Re p is exactly 0.
  double QualityRatio() const;
  // True when every residue r has (|Re r| + |Im r|) * w <= threshold, with
  // w = 1 for a real pole and 1 + |Im p / Re p| for a pair.
  bool IsNegligible(double threshold) const;

 private:
  bool InRange(int i, int j) const { return i >= 0 && j >= 0 && i < n_ && j < n_; }

  bool isReal_ = true;
  Complex pole_;
  std::vector<Complex> residues_;
  int n_ = 1;
};

using PoleList = std::vector<PoleTerm>;

// Stored poles this large stand for the constant term: R / (1 + s / P) is R
// at every frequency a model is used at. The realisation and the passivity
// routines leave such terms to the constant.
inline constexpr double kConstantPoleBound = 1e20;

}  // namespace cfit

#endif  // CFIT_NUMERIC_POLE_TERM_H
