#include "network/type_conversion.h"

#include <cmath>
#include <limits>

#include "network/cayley_transform.h"
#include "network/impedance_scaling.h"
#include "network/matrix_inversion.h"

namespace cfit {

namespace {

bool IsSyz(int type) { return type == kS || type == kY || type == kZ; }

// The chain matrix of a 2-port from its S matrix with reference impedances
// z01 and z02, in place. A zero S21 has no chain matrix: the four values
// become NaN rather than the quotient of a division by zero.
bool SToAbcd(Complex* s, const double* z0) {
  const Complex s11 = s[0], s12 = s[1], s21 = s[2], s22 = s[3];
  if (s21.re == 0.0 && s21.im == 0.0) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int k = 0; k < 4; ++k) s[k] = Complex(nan, nan);
    return false;
  }
  const Complex delta = s11 * s22 - s12 * s21;
  const Complex twoS21 = 2.0 * s21;
  const double root1 = std::sqrt(z0[0]);
  const double root2 = std::sqrt(z0[1]);
  s[0] = (root1 / root2) * ((1.0 + s11 - s22 - delta) / twoS21);
  s[1] = (root1 * root2) * ((1.0 + s11 + s22 + delta) / twoS21);
  // Two divisions, so that no underflowing product can become a zero divisor.
  s[2] = ((1.0 - s11 - s22 + delta) / twoS21) / (root1 * root2);
  s[3] = (root2 / root1) * ((1.0 - s11 + s22 - delta) / twoS21);
  return true;
}

void Negate(int n, Complex* x) {
  for (int k = 0; k < n * n; ++k) x[k] = -x[k];
}

}  // namespace

bool ConversionNeedsImpedances(int from, int to) {
  return !((from == kY && to == kZ) || (from == kZ && to == kY));
}

bool ConvertMatrix(ConversionWorkspace& ws, int from, int to, const double* z0, Complex* x) {
  const int n = ws.n;
  using enum ImpedanceScaling;
  switch (from * 10 + to) {
    case kS * 10 + kY: {
      const bool regular = CayleyTransform(ws, x);
      ScaleByImpedances(n, x, z0, kDivide);
      return regular;
    }
    case kS * 10 + kZ: {
      Negate(n, x);
      const bool regular = CayleyTransform(ws, x);
      ScaleByImpedances(n, x, z0, kMultiply);
      return regular;
    }
    case kY * 10 + kS: ScaleByImpedances(n, x, z0, kMultiply); return CayleyTransform(ws, x);
    case kZ * 10 + kS: {
      ScaleByImpedances(n, x, z0, kDivide);
      const bool regular = CayleyTransform(ws, x);
      Negate(n, x);
      return regular;
    }
    case kY * 10 + kZ:
    case kZ * 10 + kY: return InvertMatrix(ws, x);
    case kS * 10 + kABCD: return SToAbcd(x, z0);
    default: return true;  // the caller checks the pair
  }
}

void LogSingularPoints(int count, int points, double firstFrequency, const RunContext& context) {
  LogSingularPoints("Data type conversion", count, points, firstFrequency, context);
}

void LogSingularPoints(std::string_view operation, int count, int points, double firstFrequency,
                       const RunContext& context) {
  if (count == 0) return;
  context.Write("\n*** ", operation, ": singular matrix at ", count, " of ", points,
                " points, first at ", firstFrequency, " Hz ***\n");
}

Status ConvertibleTypes(int from, int target, int portCount) {
  if (target < kS || target > kABCD) return ErrorCode::kCannotTransform;
  if (!IsSyz(from)) return ErrorCode::kCannotTransform;
  if (target == kABCD && (from != kS || portCount != 2)) return ErrorCode::kAbcdNeedsTwoPort;
  return Success();
}

Status ConvertDataType(FitterState& state, int target, const RunContext& context) {
  const int from = state.network.dataType;
  if (target == from) return Success();
  const Status convertible = ConvertibleTypes(from, target, state.network.portCount);
  if (!convertible.ok()) return convertible;
  if (!state.HasFit()) {
    // What an unfinished fit leaves behind is its working pole list.
    state.workspace.fit.working.clear();
    if (!state.network.data.has_value()) return ErrorCode::kNoData;
  }

  if (state.HasPoints()) {
    const int n = state.network.portCount;
    // A set built for another port count cannot be read with this one's
    // impedances and workspace.
    if (state.network.data->port_count() != n) return ErrorCode::kInconsistentData;
    const bool scaled = ConversionNeedsImpedances(from, target);
    if (scaled && !ValidReferenceImpedances(state, n)) return ErrorCode::kInvalidImpedance;
    ConversionWorkspace ws;
    if (!BindConversionWorkspace(state, n, ws)) return ErrorCode::kSizeExceedsWorkspace;
    const double* z0 = scaled ? state.network.impedances->data() : nullptr;

    int singular = 0;
    double firstSingular = 0.0;
    const PointRange points = state.network.data->MutablePoints();
    for (MatrixView point : points) {
      if (!ConvertMatrix(ws, from, target, z0, point.Row(0))) {
        if (singular++ == 0) firstSingular = point.frequency();
      }
    }
    LogSingularPoints(singular, static_cast<int>(points.size()), firstSingular, context);
  }

  state.network.dataType = target;
  state.ResetElementTable();
  return Success();
}

}  // namespace cfit
