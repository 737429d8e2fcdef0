// In-place inversion of a complex N x N matrix on the conversion workspace
// (the Y <-> Z conversions).
#ifndef CFIT_NETWORK_MATRIX_INVERSION_H
#define CFIT_NETWORK_MATRIX_INVERSION_H

#include "network/conversion_workspace.h"

namespace cfit {

// Replaces the ws.n x ws.n row-stored matrix x by x^-1: the right-hand sides
// are I, the system the real embedding of x. Returns false when x is
// singular; x then holds the solver's basic solution (all zero for a zero x).
bool InvertMatrix(ConversionWorkspace& ws, Complex* x);

}  // namespace cfit

#endif  // CFIT_NETWORK_MATRIX_INVERSION_H
