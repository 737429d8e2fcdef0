// Series and shunt elements and the R-L-C model, against closed forms:
// component circuits between two ports (equal and unequal reference
// impedances) go through recognise, extract and MakeSeriesTwoPort; the
// reactance zero crossing of L-C resonances known in closed form; the built
// R-L-C models against Z = R + jwL + 1/(jwC), Y = 1/Z and S = (Z - Z0)/(Z +
// Z0). The extraction case dumps its input and output for the scikit-rf
// cross-check (skrf_crosscheck.py: scikit-rf's Y and Z of the same 2-port).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "network/network_support.h"

namespace cfit {
namespace {

using std::numbers::pi;
using namespace testing;

// A component: R, L, C in series (L or C 0: left out).
struct Component {
  double r, l, c;
  C Z(double f) const {
    const double w = 2 * pi * f;
    return C(r, l * w) + (c > 0 ? 1.0 / C(0.0, w * c) : 0.0);
  }
};

// The S matrix (s11, s12, s21, s22) of the component in series between two
// ports, or in shunt from the line to ground, with real reference
// impedances z1, z2 (power waves): with the normalised admittance matrix a
// of the series element S = (I - a)(I + a)^-1, with the normalised
// impedance matrix a of the shunt element S = (a - I)(a + I)^-1.
std::vector<C> TwoPort(bool series, C z, double z1, double z2) {
  const double g = std::sqrt(z1 * z2);
  const C a11 = series ? z1 / z : z / z1, a22 = series ? z2 / z : z / z2;
  const C a12 = series ? -g / z : z / g;
  const double sign = series ? -1.0 : 1.0;  // N = sign (a - I)
  const C n11 = sign * (a11 - 1.0), n12 = sign * a12, n22 = sign * (a22 - 1.0);
  const C det = (1.0 + a11) * (1.0 + a22) - a12 * a12;
  const C d11 = (1.0 + a22) / det, d12 = -a12 / det, d22 = (1.0 + a11) / det;
  const C s12 = n11 * d12 + n12 * d22;
  return {n11 * d11 + n12 * d12, s12, s12, n12 * d12 + n22 * d22};
}

void LoadTwoPort(cCfit& f, const std::vector<double>& frequencies, bool series,
                 const Component& part, double z1, double z2) {
  const double z0[] = {z1, z2};
  f.BeginData(2, kS, z0);
  for (double freq : frequencies) {
    const std::vector<C> s = TwoPort(series, part.Z(freq), z1, z2);
    PortMatrix p(2);
    p.set_frequency(freq);
    for (int e = 0; e < 4; ++e) p.Row(0)[e] = {s[e].real(), s[e].imag()};
    ASSERT_TRUE(f.state().network.data->Append(std::move(p)));
  }
  f.EndData();
}

std::vector<double> Grid(double low, double high, int count) {
  std::vector<double> f;
  for (int k = 0; k < count; ++k) f.push_back(low + (high - low) * k / (count - 1));
  return f;
}

C Value(const cCfit& f, int k, int i = 0, int j = 0) {
  const Complex v = f.state().network.data->points()[k].At(i, j);
  return {v.re, v.im};
}

TEST(SeriesShuntElements, CircuitsRoundTripThroughExtractionAndSeriesTwoPort) {
  const Component parts[] = {{20.0, 0, 0}, {5.0, 2e-9, 0}, {10.0, 1e-9, 1e-12}};
  const std::vector<double> freq = Grid(1e8, 1e10, 41);
  int file = 0;
  for (bool series : {true, false}) {
    for (const Component& part : parts) {
      for (const auto& [z1, z2] : {std::pair{50.0, 50.0}, std::pair{50.0, 75.0}}) {
        // S: the impedance extracted, then converted to S, goes back.
        for (int back : {kY, kZ, kS}) {
          const int type = back == kS ? kZ : back;
          SCOPED_TRACE((series ? "series " : "shunt ") + std::to_string(part.r) + " " +
                       std::to_string(part.l) + " " + std::to_string(part.c) + " at " +
                       std::to_string(z2) + ", type " + std::to_string(back));
          testing::LogCapture quiet;
          auto f = NewFitter();
          LoadTwoPort(*f, freq, series, part, z1, z2);
          std::vector<std::vector<C>> input;
          for (int k = 0; k < static_cast<int>(freq.size()); ++k) {
            input.push_back({Value(*f, k, 0, 0), Value(*f, k, 0, 1), Value(*f, k, 1, 1)});
          }
          // Y (series) and Z (shunt) data have shape tests of their own; the
          // extraction converts them to S first.
          if (back == kS && z1 == z2) {
            ASSERT_EQ(f->ConvertDataType(series ? kY : kZ), 1);
          }
          // Unequal impedances make S11 and S22 differ: neither shape.
          EXPECT_EQ(f->IsSeriesElement(), series && z1 == z2);
          EXPECT_EQ(f->IsShuntElement(), !series && z1 == z2);
          const int extracted =
              series ? f->ExtractSeriesElement(type) : f->ExtractShuntElement(type);
          ASSERT_EQ(extracted, 1) << Message(*f);
          ASSERT_TRUE(f->GetPortCount() == 1 && f->GetDataType() == type && f->IsSymmetric());
          EXPECT_EQ(f->GetReferenceImpedances()[0], z1);
          for (int k = 0; k < static_cast<int>(freq.size()); ++k) {
            const C want = type == kZ ? part.Z(freq[k]) : 1.0 / part.Z(freq[k]);
            EXPECT_LE(std::abs(Value(*f, k) - want), 1e-11 * std::abs(want)) << freq[k];
          }
          if (back != kS) {
            Dump dump(std::to_string(file++));
            dump.Write(std::vector<std::int32_t>{series ? 1 : 0, type, int(freq.size())})
                .Write(std::vector<double>{z1, z2});
            for (int k = 0; k < static_cast<int>(freq.size()); ++k)
              dump.Write(
                  std::vector<C>{input[k][0], input[k][1], input[k][1], input[k][2], Value(*f, k)});
          }
          // Back to the series 2-port at z1 on both ports, and out again.
          if (back == kS) {
            ASSERT_EQ(f->ConvertDataType(kS), 1);
          }
          ASSERT_EQ(f->MakeSeriesTwoPort(), 1);
          ASSERT_TRUE(f->GetPortCount() == 2 && f->GetDataType() == kS && f->IsSymmetric());
          EXPECT_TRUE(f->GetReferenceImpedances()[0] == z1 && f->GetReferenceImpedances()[1] == z1);
          EXPECT_TRUE(f->IsSeriesElement());
          for (int k = 0; k < static_cast<int>(freq.size()); ++k) {
            const std::vector<C> want = TwoPort(true, part.Z(freq[k]), z1, z1);
            for (int e = 0; e < 4; ++e) {
              EXPECT_LE(std::abs(Value(*f, k, e / 2, e % 2) - want[e]), 1e-12) << freq[k];
            }
          }
          ASSERT_EQ(f->ExtractSeriesElement(kZ), 1);
          for (int k = 0; k < static_cast<int>(freq.size()); ++k) {
            EXPECT_LE(std::abs(Value(*f, k) - part.Z(freq[k])), 1e-10 * std::abs(part.Z(freq[k])));
          }
        }
      }
    }
  }
}

// S12 = 0 at the third point: the series impedance has no value there; the
// first two points stay as the 1-port data, without an error (the state
// checks are the wrong-state test's).
TEST(SeriesShuntElements, ExtractionStopsAtAVanishingDenominator) {
  LogCapture quiet;
  auto f = NewFitter();
  LoadTwoPort(*f, Grid(1e9, 4e9, 4), true, {10.0, 1e-9, 0}, 50.0, 50.0);
  MatrixView third = f->state().network.data->MutablePoints()[2];
  third.At(0, 1) = third.At(1, 0) = Complex(0.0, 0.0);
  EXPECT_EQ(f->ExtractSeriesElement(kZ), 0);
  EXPECT_EQ(f->GetErrorMessage(), nullptr);
  EXPECT_EQ(f->state().network.data->point_count(), 2);
  EXPECT_TRUE(f->GetPortCount() == 1 && f->GetDataType() == kZ);
}

// The exact shunt matrix from noisy shunt data: the shunt impedance
// z = 2 S12 / D keeps the element, the matrix becomes that of a shunt.
TEST(SeriesShuntElements, IdealizedShuntDataAreAnExactShuntOfTheirImpedance) {
  const Component part{3.0, 0.5e-9, 4e-12};
  const std::vector<double> freq = Grid(1e9, 1e10, 10);
  auto f = NewFitter();
  testing::LogCapture quiet;
  LoadTwoPort(*f, freq, false, part, 50.0, 50.0);
  for (MatrixView p : f->state().network.data->MutablePoints()) {
    p.At(0, 0) = p.At(0, 0) + Complex(0.002, -0.001);
    p.At(1, 1) = p.At(1, 1) - Complex(0.001, 0.002);
  }
  std::vector<C> shunt;
  for (int k = 0; k < 10; ++k) {
    const C s11 = Value(*f, k, 0, 0), s12 = Value(*f, k, 0, 1), s22 = Value(*f, k, 1, 1);
    shunt.push_back(50.0 * 2.0 * s12 / ((1.0 - s11) * (1.0 - s22) - s12 * s12));
  }
  ASSERT_TRUE(f->IsShuntElement());
  ASSERT_EQ(f->IdealizeShuntElement(), 1);
  for (int k = 0; k < 10; ++k) {
    const std::vector<C> want = TwoPort(false, shunt[k], 50.0, 50.0);
    for (int e = 0; e < 4; ++e) EXPECT_LE(std::abs(Value(*f, k, e / 2, e % 2) - want[e]), 1e-13);
  }
  // Unequal impedances: refused with 42, the data unchanged.
  auto g = NewFitter();
  LoadTwoPort(*g, freq, false, part, 50.0, 50.0);
  g->state().network.impedances = std::vector<double>{50.0, 50.000001};
  const C before = Value(*g, 3);
  EXPECT_EQ(g->IdealizeShuntElement(), 0);
  EXPECT_EQ(Message(*g),
            "This operation requires equal normalizing impedance between ports and/or modes");
  EXPECT_EQ(Value(*g, 3), before);
}

// Series and shunt L-C resonances at f0 = 1/(2 pi sqrt(LC)): the crossing
// is the linear interpolation between the points around f0, so its error
// is of the order (df / f0)^2 (about 4e-5 relative for 91 points, 1.5e-7
// for 1001 points over 1 to 10 GHz).
TEST(ReactanceZeroCrossing, FindsSeriesAndShuntResonancesToTheGridsAccuracy) {
  testing::LogCapture quiet;
  for (bool series : {true, false}) {
    for (int points : {91, 1001}) {
      for (const Component& part : {Component{2.0, 3e-9, 0.5e-12}, Component{0.5, 1e-9, 2e-12}}) {
        const double f0 = 1.0 / (2 * pi * std::sqrt(part.l * part.c));
        const double step = 9e9 / (points - 1);
        auto f = NewFitter();
        LoadTwoPort(*f, Grid(1e9, 1e10, points), series, part, 50.0, 50.0);
        f->state().session.dataMargins.points.resize(2);
        double crossing = 0.0;
        ASSERT_EQ(f->FindReactanceZeroCrossing(&crossing), 1) << series << " " << points;
        EXPECT_LE(std::abs(crossing - f0), 0.25 * step * step / f0)
            << (series ? "series " : "shunt ") << points << ": " << crossing << " vs " << f0;
        EXPECT_FALSE(f->HasFit());
        EXPECT_TRUE(f->state().session.dataMargins.points.empty());
      }
    }
  }
  // An R-L series element and an R-C shunt element never cross from below
  // (data of neither shape, or not 2-port S, are the wrong-state test's).
  for (bool series : {true, false}) {
    auto f = NewFitter();
    LoadTwoPort(*f, Grid(1e9, 1e10, 20), series,
                series ? Component{5.0, 1e-9, 0} : Component{5.0, 0, 1e-12}, 50.0, 50.0);
    double crossing = 0.0;
    EXPECT_EQ(f->FindReactanceZeroCrossing(&crossing), 0);
    EXPECT_EQ(crossing, -100.0);
    EXPECT_EQ(f->GetErrorMessage(), nullptr);
  }
}

// The built models against the network's closed forms at f0 * 10^k, k = -6
// to 6, with the tolerances each model's form allows:
//   S: 1e-12 everywhere (relative to 1 where S passes through 0);
//   Z: the pole at 0 Hz is held at 1e-10 Hz, a relative error of 1e-10 / f;
//   Y: far below resonance the pair's two terms, each of the order w0 C,
//      cancel to w C: a few units of rounding times f0 / f (1.2e-10 is seen
//      at f0 / 1e6 with R = sqrt(L/C)). Near critical damping, with
//      x = 1 - R^2 C / (4L), two real poles cancel to about 3e-15 / |x|;
//      within |x| < 1e-8 the pair with x = 1e-6 stands in for the double
//      pole, an error of about 1e-6.
TEST(RLCModel, ReproducesTheNetworkFromFarBelowToFarAboveResonance) {
  const double l = 1e-9, c = 1e-12, critical = 2.0 * std::sqrt(l / c);
  const double f0 = 1.0 / (2 * pi * std::sqrt(l * c));
  struct Case {
    double r;
    const char* what;
  };
  for (const Case& k :
       {Case{10.0, "under-damped"}, Case{200.0, "over-damped"}, Case{critical, "critically damped"},
        Case{critical * (1 + 1e-9), "near"}, Case{critical * (1 + 1e-7), "near, two real poles"},
        Case{std::sqrt(l / c), "S critical"}}) {
    for (int type : {kS, kY, kZ}) {
      auto f = NewFitter();
      ASSERT_EQ(f->BuildRLCModel(k.r, l, c, type), 1) << k.what;
      ASSERT_TRUE(f->HasFit() && f->GetPortCount() == 1 && f->GetDataType() == type);
      const double z0 = f->GetReferenceImpedances()[0];
      const bool sCritical = std::abs(4 * k.r * k.r * c / l - 4) < 1e-6;
      EXPECT_EQ(z0, type == kS && sCritical ? 2 * k.r : k.r) << k.what;
      const double x = 1.0 - k.r * k.r * c / (4 * l);
      for (int e = -6; e <= 6; ++e) {
        const double freq = f0 * std::pow(10.0, e);
        const C z = Component{k.r, l, c}.Z(freq);
        const C want = type == kZ ? z : type == kY ? 1.0 / z : (z - z0) / (z + z0);
        double value[2];
        ASSERT_EQ(f->EvaluateModelElement(0, 0, freq, value), 1);
        const double tolerance = type == kS   ? 1e-12
                                 : type == kZ ? 1e-12 + 2e-10 / freq
                                 : std::abs(x) < 1e-8
                                     ? 2e-6
                                     : 1e-12 + 4e-16 * f0 / freq + 1e-14 / std::abs(x);
        const double scale = type == kS ? std::max(1.0, std::abs(want)) : std::abs(want);
        EXPECT_LE(std::abs(C(value[0], value[1]) - want), tolerance * scale)
            << k.what << ", type " << type << " at f0 * 1e" << e;
      }
    }
  }
}

TEST(RLCModel, RefusesInvalidValuesAndTypes) {
  const double nan = std::nan("");
  struct Case {
    double r, l, c;
    int type;
    const char* message;
  };
  for (const Case& k : {Case{10, 0, 1e-12, kS, "Invalid R/L/C values"},
                        Case{-1, 1e-9, 1e-12, kS, "Invalid R/L/C values"},
                        Case{10, 1e-9, nan, kS, "Invalid R/L/C values"},
                        Case{10, 1e-9, 1e-12, kABCD, "Cannot transform from/into given data types"},
                        Case{0, 1e-9, 1e-12, 7, "Invalid R/L/C values"}}) {
    auto f = NewFitter();
    EXPECT_EQ(f->BuildRLCModel(k.r, k.l, k.c, k.type), 0);
    EXPECT_EQ(Message(*f), k.message);
    EXPECT_FALSE(f->HasFit());
  }
}

}  // namespace
}  // namespace cfit
