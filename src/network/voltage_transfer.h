// Reduction of a 2-port or 4-port to the voltage transfer from a source
// (1 V behind a series resistance) to a load conductance.
#ifndef CFIT_NETWORK_VOLTAGE_TRANSFER_H
#define CFIT_NETWORK_VOLTAGE_TRANSFER_H

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"
#include "network/conversion_workspace.h"
#include "numeric/complex.h"

namespace cfit {

// The port order that keeps a 4-port's numbering: ports 1, 2 the input pair,
// 3, 4 the output pair. Any other value exchanges ports 2 and 3 first.
inline constexpr int kInputPairFirst = 1324;

// Replaces the held 2- or 4-port (the fitter holds data of that size and no
// model) by the 1-port S data set of its voltage transfer at every point:
// the data are brought to Y (failing as ConvertDataType fails), then each
// point becomes TwoPortTransfer or FourPortTransfer. The network keeps the
// first port's impedance; the symmetric flag is set, the mixed-mode flag
// cleared. Singular 4-port systems keep the solver's output and are reported
// by one run-log line: "\n*** Voltage transfer: singular matrix at <count>
// of <points> points, first at <f> Hz ***\n".
Status VoltageTransferFunction(FitterState& state, double sourceResistance, double loadConductance,
                               int portOrder, const RunContext& context);

// V2 / Vs of the 2-port admittance y (row-stored) driven at port 1 from Vs
// behind rs, loaded at port 2 by gl: Y21 / D with D = rs Y12 Y21 -
// (1 + rs Y11)(Y22 + gl), and D = 1e-9 where it is exactly 0.
Complex TwoPortTransfer(const Complex* y, double rs, double gl);

// V3 - V4 of the 4-port admittance y (row-stored; ports 2 and 3 exchanged
// unless portOrder is kInputPairFirst) driven across ports 1-2 by 1 V behind
// rs (a conductance of 1e7 S when rs is 0) and loaded across ports 3-4 by
// gl, solved on ws (ws.n = 4). At 0 Hz the voltages are taken real. `regular`
// tells whether the system had full rank.
Complex FourPortTransfer(ConversionWorkspace& ws, const Complex* y, double frequency, double rs,
                         double gl, int portOrder, bool* regular);

}  // namespace cfit

#endif  // CFIT_NETWORK_VOLTAGE_TRANSFER_H
