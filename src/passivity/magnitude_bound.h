// A bound on the size of a scattering model's response over all
// frequencies, for a certificate that needs no eigenvalues.
//
// Each term R / (1 + j f / P) (with its conjugate partner for a pair) has
// magnitude at most |R| |P| / Re P for Re P > 0, so every element obeys
// |H_ij(f)| <= B_ij = |d_ij| + sum over its terms of |R| |P| / Re P at every
// frequency, whatever its delay. The largest singular value is at most the
// Frobenius norm, so ||B||_F < 1 proves the model passive for all
// frequencies, delays included. Models whose responses are far below 1 (a
// weakly coupled multiport) are certified by it in microseconds, where the
// Hamiltonian of an individual-pole model of many ports would take minutes.
#ifndef CFIT_PASSIVITY_MAGNITUDE_BOUND_H
#define CFIT_PASSIVITY_MAGNITUDE_BOUND_H

#include "fit/model.h"
#include "numeric/element_table.h"

namespace cfit {

// ||B||_F of an S model; +infinity when a term has a pole with Re P <= 0 or
// a proportional term counts (the response is then not bounded), and for
// other data types.
double ScatteringMagnitudeBound(const Model& model, const ElementTable* elements);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_MAGNITUDE_BOUND_H
