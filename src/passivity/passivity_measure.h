// The passivity measure of an N x N matrix at one frequency.
//
// S data: m = the largest eigenvalue of H H^H (the square of the largest
// singular value of H); passive when m <= 1. Y or Z data: m = the largest
// eigenvalue of I - (H + H^H) / 2 (of I - Re H for a symmetric matrix);
// passive when m <= 1, that is when the Hermitian part of H has no negative
// eigenvalue. m is floored at 0. Hermitian matrices go to the symmetric
// eigensolver as the real symmetric 2N x 2N matrix [Re P, -Im P; Im P, Re P],
// whose eigenvalues are those of P, each twice.
#ifndef CFIT_PASSIVITY_PASSIVITY_MEASURE_H
#define CFIT_PASSIVITY_PASSIVITY_MEASURE_H

#include <vector>

#include "api/fitter_state.h"

namespace cfit {

// Scratch storage of the measure for one port count, reused over a sweep.
class MeasureWorkspace {
 public:
  explicit MeasureWorkspace(int n);
  int n() const { return n_; }

  // The largest eigenvalue of the real symmetric matrix in square() (order
  // `order`, row-stored with leading dimension 2N), floored at 0. False when
  // the eigensolver fails (non-finite entries).
  bool LargestEigenvalue(int order, double* value);
  double* square() { return square_.data(); }
  int lda() const { return 2 * n_; }

 private:
  int n_;
  std::vector<double> square_;
  std::vector<double> eigenvalues_;
  std::vector<double> work_;
};

// True for the data types the measure knows: S, Y and Z.
bool MeasurableType(int dataType);

// m for the matrix `h` of data type `dataType`; with `symmetric` only the
// elements with j <= i are read. False when the eigensolver fails.
bool PassivityMeasure(ConstMatrixView h, int dataType, bool symmetric, MeasureWorkspace& work,
                      double* measure);

// The margin of a measure: 1 - sqrt(m) for S data, 1 - m for Y and Z data.
double PassivityMargin(double measure, int dataType);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_PASSIVITY_MEASURE_H
