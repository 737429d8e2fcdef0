#include "network/voltage_transfer.h"

#include <array>
#include <utility>

#include "network/type_conversion.h"
#include "numeric/complex_inverse.h"

namespace cfit {

namespace {

// Conductance that stands for a source without resistance.
constexpr double kIdealSourceConductance = 1e7;
// Denominator of the 2-port form where it is exactly 0.
constexpr double kZeroDenominator = 1e-9;

}  // namespace

Complex TwoPortTransfer(const Complex* y, double rs, double gl) {
  Complex d = rs * y[1] * y[2] - (1.0 + rs * y[0]) * (y[3] + gl);
  if (d.re == 0.0 && d.im == 0.0) d = Complex(kZeroDenominator, 0.0);
  return y[2] / d;
}

Complex FourPortTransfer(ConversionWorkspace& ws, const Complex* y, double frequency, double rs,
                         double gl, int portOrder, bool* regular) {
  std::array<int, 4> port = {0, 1, 2, 3};
  if (portOrder != kInputPairFirst) std::swap(port[1], port[2]);
  std::array<Complex, 16> a;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) a[i * 4 + j] = y[port[i] * 4 + port[j]];
  }
  const double g = rs == 0.0 ? kIdealSourceConductance : 1.0 / rs;
  a[0] += g, a[5] += g, a[1] -= g, a[4] -= g;
  a[10] += gl, a[15] += gl, a[11] -= gl, a[14] -= gl;
  // One right-hand side, the Norton current of the source: G into port 1,
  // -G into port 2. The other columns are zero.
  for (int k = 0; k < 16; ++k) ws.rhs[k] = Complex();
  ws.rhs[0] = Complex(g, 0.0);
  ws.rhs[4] = Complex(-g, 0.0);
  EmbedComplexMatrix(4, a.data(), ws.system, ws.lda);
  *regular = SolveForColumns(ws, a.data());
  Complex v3 = a[2 * 4], v4 = a[3 * 4];
  if (frequency == 0.0) v3.im = v4.im = 0.0;
  return v3 - v4;
}

Status VoltageTransferFunction(FitterState& state, double sourceResistance, double loadConductance,
                               int portOrder, const RunContext& context) {
  const Status toY = ConvertDataType(state, kY, context);
  if (!toY.ok()) return toY;
  Network& network = state.network;
  const int n = network.portCount;
  if (network.data->port_count() != n) return ErrorCode::kInconsistentData;
  ConversionWorkspace ws;
  if (n == 4 && state.HasPoints() && !BindConversionWorkspace(state, 4, ws)) {
    return ErrorCode::kSizeExceedsWorkspace;
  }

  SampledData out(1);
  out.Reserve(network.data->points().size());
  SingularPoints singular;
  for (ConstMatrixView y : network.data->points()) {
    PortMatrix p(1);
    p.set_frequency(y.frequency());
    if (n == 2) {
      p.At(0, 0) = TwoPortTransfer(y.Row(0), sourceResistance, loadConductance);
    } else {
      bool regular = true;
      p.At(0, 0) = FourPortTransfer(ws, y.Row(0), y.frequency(), sourceResistance, loadConductance,
                                    portOrder, &regular);
      singular.Note(regular, y.frequency());
    }
    if (!out.Append(p)) return Failure::Silent();
  }
  LogSingularPoints("Voltage transfer", singular.count, out.point_count(), singular.first, context);
  const double z0 = network.impedances.has_value() && !network.impedances->empty()
                        ? network.impedances->front()
                        : 50.0;
  network.portCount = 1;
  network.dataType = kS;
  network.impedances = std::vector<double>{z0};
  network.symmetric = true;
  network.mixedMode = false;
  state.ReplaceData(std::move(out));
  state.ResetElementTable();
  return Success();
}

}  // namespace cfit
