// Cascading the held sampled data with the network of a second Touchstone
// file, computed on admittance matrices.
#ifndef CFIT_NETWORK_CASCADE_H
#define CFIT_NETWORK_CASCADE_H

#include <string>

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"
#include "numeric/port_matrix.h"

namespace cfit {

// Guards of the internal connection: a 1 x 1 admittance of magnitude 0 is
// inverted as this value, a 2 x 2 block with determinant 0 takes this
// determinant's reciprocal instead.
inline constexpr double kOpenInverse = 1e20;
inline constexpr double kSingularDeterminant = 1e-20;

// The admittance matrix of `a` (2 or 4 ports) cascaded with `b` (2 or 4
// ports): the last port(s) of a joined to the first port(s) of b. Two
// 2-ports join port 2 of a to port 1 of b; two 4-ports join ports 3-4 of a
// to ports 1-2 of b. A 2-port on a 4-port's side is a balanced element: its
// joined port lies across the 4-port's two joined ports and its other port
// across the two result ports on its side. The result has the larger port
// count of the two; false (out untouched) for other port counts.
bool CascadeAdmittances(const PortMatrix& a, const PortMatrix& b, PortMatrix& out);

// Cascades the held data (2 or 4 ports, no fitted model, checked by the
// caller) with the network of a Touchstone file. The file is read and
// checked and both networks are converted to Y before anything held
// changes; a failure leaves the held network as it was. The file's port
// count must be 2 or 4 (else 21). The result replaces the held data: Y
// data on the common frequency grid of both sets, labelled Y (each result
// port keeps the reference impedance of the port it comes from), the
// symmetric flag from its asymmetry. Returns the result's port count.
Result<int> CascadeWithTouchstone(FitterState& state, const std::string& fileName,
                                  const RunContext& context);

}  // namespace cfit

#endif  // CFIT_NETWORK_CASCADE_H
