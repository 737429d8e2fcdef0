// Change of the ports' reference impedances. S parameters are renormalised
// to the new impedances; Y and Z parameters do not depend on them, so only
// the impedances change.
#ifndef CFIT_NETWORK_RENORMALIZATION_H
#define CFIT_NETWORK_RENORMALIZATION_H

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"
#include "network/conversion_workspace.h"
#include "numeric/complex.h"

namespace cfit {

// True when `impedances` holds n finite values above 0 (n >= 0; a null
// array never qualifies).
bool UsableImpedances(const double* impedances, int n);

// Gives the N ports the impedances newZ0 (N = the fitter's port count; the
// caller has checked them with UsableImpedances); a fitter without ports
// succeeds without a change. Data of a type other than S keep their values
// and the model is kept. S data: without a data set
// nothing changes and the result is a silent failure; impedances held that
// cannot be used fail with 17 before anything changes. Otherwise the model
// is dropped, the impedances replaced and every point renormalised by
// RenormalizeMatrix. Singular points keep the solver's output and are
// reported by one run-log line: "\n*** Reference impedance change: singular
// matrix at <count> of <points> points, first at <f> Hz ***\n".
Status ChangeReferenceImpedances(FitterState& state, const double* newZ0,
                                 const RunContext& context);

// Renormalises the row-stored ws.n x ws.n S matrix x from the impedances
// oldZ0 to newZ0 (power waves, real impedances): with rho = old / new and
// q = sqrt(new / old) per port, X solves (S diag(rho - 1) + diag(rho + 1)) X
// = S diag(rho + 1) + diag(rho - 1), and then X(i, j) is multiplied by
// q(j) / q(i). Returns false when the system is singular (the solver's basic
// solution is kept).
bool RenormalizeMatrix(ConversionWorkspace& ws, const double* oldZ0, const double* newZ0,
                       Complex* x);

}  // namespace cfit

#endif  // CFIT_NETWORK_RENORMALIZATION_H
