// Two-port data of one component: recognising whether it sits in series
// (one impedance between port 1 and port 2) or in shunt (one impedance from
// the through line to ground), turning such data into 1-port data of the
// component and back, and replacing shunt data by an exact shunt element.
//
// The facade checks each operation's state conditions from its row of the
// operation table; the routines here assume them.
#ifndef CFIT_NETWORK_SERIES_SHUNT_ELEMENT_H
#define CFIT_NETWORK_SERIES_SHUNT_ELEMENT_H

#include "api/fitter_state.h"
#include "core/network.h"
#include "core/result.h"
#include "core/run_context.h"

namespace cfit {

enum class ElementShape { kSeries, kShunt };

// Whether the first point of 2-port data (S or Y for a series element, S or
// Z for a shunt element) is shaped like the element, within 0.01:
//   series, S: S11 + S12 = 1 and S22 + S12 = 1, with S12 on the same side
//     of both axes as S11 and S22 (or on an axis);
//   series, Y: Y11 = -Y12 and Y22 = -Y12, relative to the largest of
//     |Y11|, |Y12|, |Y22|;
//   shunt, S: S12 - S11 = 1 and S12 - S22 = 1, with S12 on the opposite side
//     of both axes from S11 and S22 (or on an axis);
//   shunt, Z: Z11 = Z12 = Z22 relative to the largest magnitude.
// False without points, for data not flagged symmetric, for a type the shape
// has no test for, and when every magnitude is 0 or a value is not a number.
bool ShapedAs(const Network& network, ElementShape shape);

// Replaces shunt-shaped 2-port data by the exact matrix of a shunt element.
// S data: per point D = (1 - S11)(1 - S22) - S12^2, the normalised shunt
// impedance z = 2 S12 / D, and the point becomes S11 = S22 = -1 / (1 + 2z),
// S12 = S21 = 2z / (1 + 2z); a point with D exactly 0 stops the pass (the
// points before it stay changed) and fails without a code. Z data: Z11 and
// Z22 become Z12. The caller has checked the shape and equal impedances.
Status IdealizeShuntElement(Network& network);

// Turns series- or shunt-shaped 2-port data into 1-port data of the element
// itself, of type `type` (2 admittance, 3 impedance). The fitted model is
// discarded, data that are not S are converted to S first (its failure is
// returned), and with g = sqrt(Z01 Z02) and s = S12 each point becomes N / Q:
//   shunt,  Y: N = 2g - (Z01 + Z02) s,  Q = Z01 Z02 s
//   shunt,  Z: N = Z01 Z02 s,           Q = 2g - (Z01 + Z02) s
//   series, Y: N = s,                   Q = 2g - (Z01 + Z02) s
//   series, Z: N = 2g - (Z01 + Z02) s,  Q = s
// A point with |Q| < 1e-20 ends the pass: the points made so far still
// become the data and the result fails without a code. The 1-port keeps
// Z01, the symmetric flag is set and the element table rebuilt. The caller
// has checked the port count, the type, the held type, the data and the
// symmetric flag.
Status ExtractElement(FitterState& state, ElementShape shape, int type, const RunContext& context);

// Turns 1-port data a (S, Y or Z, reference impedance Z0) into 2-port S
// data of the element in series between two ports of Z0: S11 = S22 =
// (1 + a) / (3 - a) for S, 1 / (1 + 2 Z0 a) for Y, a / (a + 2 Z0) for Z, and
// S12 = S21 = 1 - S11. The fitted model is discarded, the symmetric flag set
// and the element table rebuilt. The caller has checked the port count, the
// data and the type.
Status MakeSeriesTwoPort(FitterState& state);

// Where the reactance of a 2-port S element first crosses zero from below.
// The data count as a series element when the largest |C| of the chain
// matrix (C = (1 - S11 - S22 + dS) / (2 S21 g), dS the determinant) is below
// the largest |B| (B = g (1 + S11 + S22 + dS) / (2 S21)), as a shunt element
// otherwise. The element impedance is B (series) or 1 / C (shunt, with C
// raised to 1e-10 when |C| < 1e-10); at the first point k with
// X(k - 1) < 0 <= X(k) (X before the first point taken as 0) the crossing is
// interpolated linearly between the two points:
//   f(k - 1) - X(k - 1) (f(k) - f(k - 1)) / (X(k) - X(k - 1)).
// Without such a point the frequency is -100. The caller has checked type,
// port count, data and shape.
struct ReactanceCrossing {
  bool found = false;
  double frequency = -100.0;
  bool series = false;
};
ReactanceCrossing FindReactanceZeroCrossing(const Network& network);

}  // namespace cfit

#endif  // CFIT_NETWORK_SERIES_SHUNT_ELEMENT_H
