// The Cayley transform X := (I + X)^-1 (I - X) of a complex N x N matrix,
// the core of every S <-> Y and S <-> Z conversion.
#ifndef CFIT_NETWORK_CAYLEY_TRANSFORM_H
#define CFIT_NETWORK_CAYLEY_TRANSFORM_H

#include "network/conversion_workspace.h"

namespace cfit {

// Replaces the ws.n x ws.n row-stored matrix x by (I + x)^-1 (I - x): the
// right-hand sides I - x go into ws.rhs, the real embedding of I + x into
// ws.system, and the solution of the embedded system back into x. Returns
// false when I + x is singular; x then holds the solver's basic solution.
bool CayleyTransform(ConversionWorkspace& ws, Complex* x);

}  // namespace cfit

#endif  // CFIT_NETWORK_CAYLEY_TRANSFORM_H
