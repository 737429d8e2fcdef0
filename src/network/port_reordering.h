// Permutation of the ports of the held network, its data and its model.
#ifndef CFIT_NETWORK_PORT_REORDERING_H
#define CFIT_NETWORK_PORT_REORDERING_H

#include <vector>

#include "api/fitter_state.h"
#include "core/result.h"

namespace cfit {

// True when perm holds each of 0..n-1 exactly once (a null perm never).
bool IsPermutation(const int* perm, int n);

// Makes old port perm[k] the new port k (perm checked by IsPermutation for
// the fitter's port count): the reference impedances, every sampled point
// (new (k, l) = old (perm[k], perm[l])) and a model of the fitter's port
// count: its constant, proportional, delay and accuracy tables, the residue
// matrices of common poles, and per-element pole lists. With the symmetric
// flag set, a pole list that lands above the diagonal moves to its mirrored
// place below it.
void ReorderPorts(FitterState& state, const std::vector<int>& perm);

}  // namespace cfit

#endif  // CFIT_NETWORK_PORT_REORDERING_H
