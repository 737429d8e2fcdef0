// The 0 Hz point: fitting a model that must hold at DC needs a real value
// there, which measured data rarely contain.
#include <algorithm>
#include <cmath>

#include "data/sampled_data.h"

namespace cfit {

namespace {

// Points used by the quadratic extrapolation.
constexpr int kFitPoints = 5;

// Solves the 3 x 3 system m * (a, b, q) = r by Cramer's rule and returns a.
double FirstUnknown(const double m[3][3], const double r[3], double det) {
  const double num = r[0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (r[1] * m[2][2] - m[1][2] * r[2]) +
                     m[0][2] * (r[1] * m[2][1] - m[1][1] * r[2]);
  return num / det;
}

double Determinant(const double m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

}  // namespace

bool AddZeroHzPoint(SampledData& data) {
  const ConstPointRange points = data.points();
  if (points.size() < 2) return false;
  const double f1 = points[0].frequency();
  const double f2 = points[1].frequency();
  // A first point at or below 0 Hz is left as it is: moving a negative
  // frequency to 0 would break the increasing order.
  if (f1 <= 0.0) return false;

  const int n = data.port_count();
  if (100.0 * f1 < f2) {
    // The first point is close to 0 Hz: move it there and keep its real part.
    const MatrixView first = data.MutablePoints()[0];
    first.set_frequency(0.0);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) first.At(i, j).im = 0.0;
    }
    return true;
  }

  PortMatrix zero(n);
  if (points.size() < static_cast<std::size_t>(kFitPoints)) {
    // Too few points to extrapolate: the first point's magnitude, at most 1,
    // with the sign of its real part.
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const Complex v = points[0].At(i, j);
        const double magnitude = std::min(Abs(v), 1.0);
        zero.At(i, j) = {v.re <= 0.0 ? -magnitude : magnitude, 0.0};
      }
    }
  } else {
    // Least squares y = a + b x + q x^2 over the 5 lowest points, x = (f/f1)^2,
    // by Cramer's rule on the normal equations; a is the 0 Hz value.
    double x[kFitPoints];
    double s[5] = {0, 0, 0, 0, 0};  // sums of x^0 .. x^4
    for (int k = 0; k < kFitPoints; ++k) {
      const double ratio = points[k].frequency() / f1;
      x[k] = ratio * ratio;
      double power = 1.0;
      for (double& sum : s) {
        sum += power;
        power *= x[k];
      }
    }
    const double m[3][3] = {{s[0], s[1], s[2]}, {s[1], s[2], s[3]}, {s[2], s[3], s[4]}};
    const double det = Determinant(m);
    if (det == 0.0 || std::isnan(det)) return false;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double r[3] = {0, 0, 0};
        for (int k = 0; k < kFitPoints; ++k) {
          const double y = points[k].At(i, j).re;
          r[0] += y;
          r[1] += x[k] * y;
          r[2] += x[k] * x[k] * y;
        }
        zero.At(i, j) = {FirstUnknown(m, r, det), 0.0};
      }
    }
  }
  return data.PrependZeroHz(zero);
}

}  // namespace cfit
