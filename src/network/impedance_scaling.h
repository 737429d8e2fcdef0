// Scaling of a port matrix by its reference impedances: element (i, j) is
// multiplied or divided by sqrt(Z0i * Z0j). This is what turns normalised
// admittances and impedances into ohms and siemens and back.
#ifndef CFIT_NETWORK_IMPEDANCE_SCALING_H
#define CFIT_NETWORK_IMPEDANCE_SCALING_H

#include "api/fitter_state.h"
#include "numeric/complex.h"

namespace cfit {

enum class ImpedanceScaling {
  kMultiply,  // z-normalised -> ohms, Y in siemens -> normalised
  kDivide     // ohms -> normalised, normalised -> siemens
};

// Scales the n x n row-stored matrix x in place, negating every element first
// when `negate` is set. sqrt(Z0i * Z0j) is formed as sqrt(Z0i) * sqrt(Z0j), so
// that it neither overflows nor underflows for any positive finite impedances.
// z0 must hold n values for which ValidReferenceImpedances holds.
void ScaleByImpedances(int n, Complex* x, const double* z0, ImpedanceScaling how,
                       bool negate = false);

// True when the fitter holds at least n reference impedances and the first n
// are finite and above 0, so that the scaling neither divides by zero nor
// takes the root of a negative number.
bool ValidReferenceImpedances(const FitterState& state, int n);

}  // namespace cfit

#endif  // CFIT_NETWORK_IMPEDANCE_SCALING_H
