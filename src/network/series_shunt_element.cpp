#include "network/series_shunt_element.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "network/type_conversion.h"

namespace cfit {

namespace {

constexpr double kShapeTolerance = 0.01;
constexpr double kSmallestDenominator = 1e-20;
constexpr double kSmallestAdmittance = 1e-10;

// S11 + S12 = 1 and S22 + S12 = 1 (series), or S12 - S11 = 1 and
// S12 - S22 = 1 (shunt), with the sign rules of each shape.
bool SShaped(Complex s11, Complex s12, Complex s22, ElementShape shape) {
  if (shape == ElementShape::kSeries) {
    return Abs(s11 + s12 - 1.0) < kShapeTolerance && Abs(s22 + s12 - 1.0) < kShapeTolerance &&
           s11.im * s12.im <= 0.0 && s12.im * s22.im <= 0.0 && s11.re * s12.re >= 0.0 &&
           s12.re * s22.re >= 0.0;
  }
  return Abs(s11 + 1.0 - s12) < kShapeTolerance && Abs(s22 + 1.0 - s12) < kShapeTolerance &&
         s11.im * s12.im >= 0.0 && s12.im * s22.im >= 0.0 && s11.re * s12.re <= 0.0 &&
         s12.re * s22.re <= 0.0;
}

// Y11 = -Y12 = Y22 (series) or Z11 = Z12 = Z22 (shunt) relative to the
// largest magnitude; `sign` is +1 for Y, -1 for Z.
bool MatrixShaped(Complex x11, Complex x12, Complex x22, double sign) {
  const double m = std::max({Abs(x11), Abs(x12), Abs(x22)});
  if (!(m > 0.0)) return false;
  return Abs(x11 + sign * x12) / m < kShapeTolerance && Abs(x22 + sign * x12) / m < kShapeTolerance;
}

}  // namespace

bool ShapedAs(const Network& network, ElementShape shape) {
  if (!network.symmetric || !network.HasPoints() || network.data->port_count() != 2) return false;
  const ConstMatrixView p = network.data->front();
  const Complex x11 = p.At(0, 0), x12 = p.At(0, 1), x22 = p.At(1, 1);
  const bool series = shape == ElementShape::kSeries;
  switch (network.dataType) {
    case kS: return SShaped(x11, x12, x22, shape);
    case kY: return series && MatrixShaped(x11, x12, x22, 1.0);
    case kZ: return !series && MatrixShaped(x11, x12, x22, -1.0);
    default: return false;
  }
}

Status IdealizeShuntElement(Network& network) {
  const bool s = network.dataType == kS;
  for (MatrixView p : network.data->MutablePoints()) {
    if (s) {
      const Complex s12 = p.At(0, 1);
      const Complex d = (1.0 - p.At(0, 0)) * (1.0 - p.At(1, 1)) - s12 * s12;
      if (d.re == 0.0 && d.im == 0.0) return Failure::Silent();
      const Complex z2 = 2.0 * (2.0 * s12 / d);
      const Complex reflection = -1.0 / (1.0 + z2), transfer = z2 / (1.0 + z2);
      p.At(0, 0) = p.At(1, 1) = reflection;
      p.At(0, 1) = p.At(1, 0) = transfer;
    } else {
      p.At(0, 0) = p.At(1, 1) = p.At(0, 1);
    }
  }
  return Success();
}

Status ExtractElement(FitterState& state, ElementShape shape, int type, const RunContext& context) {
  state.model.reset();
  if (state.network.dataType != kS) {
    const Status converted = ConvertDataType(state, kS, context);
    if (!converted.ok()) return converted;
  }
  const std::vector<double>& z0 = *state.network.impedances;
  if (z0.size() < 2) return ErrorCode::kInvalidImpedance;
  const double z01 = z0[0], z02 = z0[1], g = std::sqrt(z01 * z02);
  const bool series = shape == ElementShape::kSeries, admittance = type == kY;

  SampledData element(1);
  element.Reserve(static_cast<std::size_t>(state.network.data->point_count()));
  bool complete = true;
  PortMatrix point(1);
  for (ConstMatrixView p : state.network.data->points()) {
    const Complex s = p.At(0, 1);
    const Complex open = 2.0 * g - (z01 + z02) * s;  // 2g - (Z01 + Z02) s
    Complex n, q;
    if (series) {
      n = admittance ? s : open;
      q = admittance ? open : s;
    } else {
      n = admittance ? open : z01 * z02 * s;
      q = admittance ? z01 * z02 * s : open;
    }
    if (Abs(q) < kSmallestDenominator) {
      complete = false;
      break;
    }
    point.set_frequency(p.frequency());
    point.At(0, 0) = n / q;
    if (!element.Append(point)) {
      complete = false;
      break;
    }
  }

  Network& network = state.network;
  network.portCount = 1;
  network.impedances = std::vector<double>{z01};
  network.dataType = type;
  network.symmetric = true;
  element.ComputeAsymmetry();
  state.ReplaceData(std::move(element));
  state.ResetElementTable();
  if (!complete) return Failure::Silent();
  return Success();
}

Status MakeSeriesTwoPort(FitterState& state) {
  state.model.reset();
  Network& network = state.network;
  if (!network.impedances.has_value() || network.impedances->empty()) {
    return ErrorCode::kInvalidImpedance;
  }
  const double z0 = network.impedances->front();
  const int type = network.dataType;

  SampledData twoPort(2);
  twoPort.Reserve(static_cast<std::size_t>(network.data->point_count()));
  bool complete = true;
  PortMatrix point(2);
  for (ConstMatrixView p : network.data->points()) {
    const Complex a = p.At(0, 0);
    const Complex reflection = type == kS   ? (1.0 + a) / (3.0 - a)
                               : type == kY ? 1.0 / (1.0 + 2.0 * z0 * a)
                                            : a / (a + 2.0 * z0);
    point.set_frequency(p.frequency());
    point.At(0, 0) = point.At(1, 1) = reflection;
    point.At(0, 1) = point.At(1, 0) = 1.0 - reflection;
    if (!twoPort.Append(point)) {
      complete = false;
      break;
    }
  }

  network.portCount = 2;
  network.impedances = std::vector<double>{z0, z0};
  network.dataType = kS;
  network.symmetric = true;
  twoPort.ComputeAsymmetry();
  state.ReplaceData(std::move(twoPort));
  state.ResetElementTable();
  if (!state.EnsureWorkingSet(4, 4) || !complete) return Failure::Silent();
  return Success();
}

ReactanceCrossing FindReactanceZeroCrossing(const Network& network) {
  ReactanceCrossing crossing;
  if (!network.impedances.has_value() || network.impedances->size() < 2) return crossing;
  const std::vector<double>& z0 = *network.impedances;
  const double g = std::sqrt(z0[0] * z0[1]);
  // The chain matrix's B and C terms of one point.
  const auto chain = [g](ConstMatrixView p, Complex* b, Complex* c) {
    const Complex s11 = p.At(0, 0), s12 = p.At(0, 1), s21 = p.At(1, 0), s22 = p.At(1, 1);
    const Complex det = s11 * s22 - s12 * s21;
    *b = g * (1.0 + s11 + s22 + det) / (2.0 * s21);
    *c = (1.0 - s11 - s22 + det) / (2.0 * s21 * g);
  };
  double largestB = -1e99, largestC = -1e99;
  for (ConstMatrixView p : network.data->points()) {
    Complex b, c;
    chain(p, &b, &c);
    largestB = std::max(largestB, Abs(b));
    largestC = std::max(largestC, Abs(c));
  }
  crossing.series = largestC < largestB;

  double previousX = 0.0, previousF = 0.0;
  for (ConstMatrixView p : network.data->points()) {
    Complex b, c;
    chain(p, &b, &c);
    if (!crossing.series && Abs(c) < kSmallestAdmittance) c = Complex(kSmallestAdmittance, 0.0);
    const double x = crossing.series ? b.im : (1.0 / c).im;
    const double f = p.frequency();
    if (previousX < 0.0 && x >= 0.0) {
      crossing.found = true;
      crossing.frequency = previousF - previousX * (f - previousF) / (x - previousX);
      return crossing;
    }
    previousX = x;
    previousF = f;
  }
  return crossing;
}

}  // namespace cfit
