// The port operations, the reference-impedance change and the voltage
// transfer: closed forms of small networks, circuits solved here by their
// own nodal equations, the model carried by a reordering, refusals that must
// leave the fitter as it was, and singular points. The real files are
// renormalised, terminated and reordered at the end, for the scikit-rf
// cross-check skrf_crosscheck.py.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "network/network_support.h"
#include "network/port_termination.h"
#include "support/fitter_fixtures.h"

namespace cfit {
namespace {

using namespace testing;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// x = a^-1 b by Gauss-Jordan elimination with partial pivoting (a n x n, b
// n x m, both row by row).
CMatrix Solve(CMatrix a, CMatrix b, int n) {
  const int m = static_cast<int>(b.size()) / n;
  for (int col = 0; col < n; ++col) {
    int pivot = col;
    for (int r = col + 1; r < n; ++r) {
      if (std::abs(a[r * n + col]) > std::abs(a[pivot * n + col])) pivot = r;
    }
    for (int k = 0; k < n; ++k) std::swap(a[col * n + k], a[pivot * n + k]);
    for (int k = 0; k < m; ++k) std::swap(b[col * m + k], b[pivot * m + k]);
    for (int r = 0; r < n; ++r) {
      if (r == col) continue;
      const C factor = a[r * n + col] / a[col * n + col];
      for (int k = 0; k < n; ++k) a[r * n + k] -= factor * a[col * n + k];
      for (int k = 0; k < m; ++k) b[r * m + k] -= factor * b[col * m + k];
    }
  }
  for (int r = 0; r < n; ++r) {
    for (int k = 0; k < m; ++k) b[r * m + k] /= a[r * n + r];
  }
  return b;
}

CMatrix Identity(int n) {
  CMatrix i(static_cast<std::size_t>(n) * n);
  for (int k = 0; k < n; ++k) i[k * n + k] = 1.0;
  return i;
}

// S of an impedance matrix for real reference impedances (power waves):
// S = F (Z - R)(Z + R)^-1 F^-1 with R = diag(z0), F = diag(1 / (2 sqrt z0)),
// computed as the transpose of ((Z + R)^T)^-1 (Z - R)^T.
CMatrix SFromZ(const CMatrix& z, const std::vector<double>& z0) {
  const int n = static_cast<int>(z0.size());
  CMatrix plusT(z.size()), minusT(z.size());
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      plusT[j * n + i] = z[i * n + j] + (i == j ? z0[i] : 0.0);
      minusT[j * n + i] = z[i * n + j] - (i == j ? z0[i] : 0.0);
    }
  }
  const CMatrix xT = Solve(plusT, minusT, n);
  CMatrix s(z.size());
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) s[i * n + j] = xT[j * n + i] * std::sqrt(z0[j] / z0[i]);
  }
  return s;
}

// ---------------------------------------------------------------------------
// Joined ports

// A resistive star: port k reaches the centre through r[k], the centre
// reaches ground through rc, so Z(i, j) = rc + (i == j) r[i]. Joining ports
// 0 and 1 (both 50 ohm) at position 1 leaves port 2 first and the joined
// port, rc + r0 || r1 at 25 ohm, second.
TEST(PortOperations, AResistiveStarJoined) {
  const double r[] = {20.0, 30.0, 40.0}, rc = 10.0;
  const std::vector<double> z0 = {50.0, 50.0, 75.0};
  CMatrix z(9, rc);
  for (int k = 0; k < 3; ++k) z[k * 3 + k] += r[k];
  auto f = NewFitter();
  LoadData(*f, 3, kS, z0, {SFromZ(z, z0)});
  const unsigned char join[] = {1, 1, 0};
  ASSERT_EQ(f->CombinePorts(join, 1), 1) << Message(*f);
  const double parallel = r[0] * r[1] / (r[0] + r[1]);
  const CMatrix want = SFromZ({rc + r[2], rc, rc, rc + parallel}, {75.0, 25.0});
  EXPECT_LE(Difference(PointValues(*f, 0), want), 1e-14);
  EXPECT_EQ(Impedances(*f), (std::vector<double>{75.0, 25.0}));
  EXPECT_TRUE(f->IsSymmetric());
}

// ---------------------------------------------------------------------------
// Voltage transfer

// Two matched lines of electrical length theta, 1 -> 3 and 2 -> 4 (or, in
// the file's numbering without the 1324 order, 1 -> 2 and 3 -> 4), driven
// differentially from 2 Z0 into 1 / (2 Z0): half the source voltage, delayed.
TEST(VoltageTransfer, MatchedDifferentialLinesPassHalfTheSourceDelayed) {
  const double z0 = 50.0, thetas[] = {0.3, 1.2, 2.5, -2.0};
  // The lines as pairs of 0-based ports: with any order but 1324 the second
  // and third ports trade places first.
  for (auto [order, lines] :
       {std::pair{1324, std::array{0, 2, 1, 3}}, std::pair{0, std::array{0, 1, 2, 3}}}) {
    SCOPED_TRACE(order);
    std::vector<CMatrix> points;
    for (double theta : thetas) {
      CMatrix s(16);
      for (int line = 0; line < 2; ++line) {
        const int a = lines[2 * line], b = lines[2 * line + 1];
        s[a * 4 + b] = s[b * 4 + a] = std::polar(1.0, -theta);
      }
      points.push_back(s);
    }
    auto f = NewFitter();
    LoadData(*f, 4, kS, std::vector<double>(4, z0), points);
    ASSERT_EQ(f->VoltageTransferFunction(2.0 * z0, 1.0 / (2.0 * z0), order), 1) << Message(*f);
    ASSERT_EQ(f->GetPortCount(), 1);
    EXPECT_EQ(f->GetDataType(), kS);
    for (std::size_t k = 0; k < std::size(thetas); ++k) {
      EXPECT_LE(std::abs(PointValues(*f, static_cast<int>(k))[0] - std::polar(0.5, -thetas[k])),
                1e-13)
          << thetas[k];
    }
  }
}

// At 0 Hz the output voltages are taken real, whatever the data say: the
// same complex admittances give a complex transfer at 1 Hz.
TEST(VoltageTransfer, AtZeroHertzTheTransferIsReal) {
  auto f = NewFitter();
  f->BeginData(4, kY, nullptr);
  for (double frequency : {0.0, 1.0}) {
    PortMatrix p(4);
    p.set_frequency(frequency);
    for (int e = 0; e < 16; ++e) p.Row(0)[e] = Complex(e % 5 == 0 ? 0.03 : 0.004, 0.01);
    ASSERT_TRUE(f->state().network.data->Append(p));
  }
  ASSERT_EQ(f->VoltageTransferFunction(50.0, 0.01, 1324), 1);
  EXPECT_EQ(PointValues(*f, 0)[0].imag(), 0.0);
  EXPECT_NE(PointValues(*f, 1)[0].imag(), 0.0);
}

// The 2-port form against the circuit's own nodal equations with the source
// as a branch: unknowns V1, V2 and the source current I,
//   Y11 V1 + Y12 V2 - I = 0,  Y21 V1 + (Y22 + GL) V2 = 0,  V1 + Rs I = 1.
// The network is an active pi (Y21 != Y12), given as Y, as Z and as S.
TEST(VoltageTransfer, TwoPortAgreesWithANodalSolveWithAnExplicitSource) {
  const C ya(0.01, 0.005), yb(0.002, -0.003), yc(0.02, 0.01), gm(0.03, -0.004);
  const CMatrix y = {ya + yc, -yc, -yc + gm, yb + yc};
  const CMatrix z = Solve(y, Identity(2), 2);
  const std::vector<double> z0 = {50.0, 30.0};
  for (auto [rs, gl] :
       {std::pair{0.0, 0.0}, std::pair{0.0, 0.02}, std::pair{50.0, 0.0}, std::pair{12.5, 0.05}}) {
    const CMatrix nodal =
        Solve({y[0], y[1], -1.0, y[2], y[3] + gl, 0.0, 1.0, 0.0, rs}, {0.0, 0.0, 1.0}, 3);
    for (auto [type, data] : {std::pair{kY, y}, std::pair{kZ, z}, std::pair{kS, SFromZ(z, z0)}}) {
      auto f = NewFitter();
      LoadData(*f, 2, type, z0, {data});
      ASSERT_EQ(f->VoltageTransferFunction(rs, gl, 0), 1) << Message(*f);
      EXPECT_LE(std::abs(PointValues(*f, 0)[0] - nodal[1]), 1e-13 * std::abs(nodal[1]))
          << "Rs " << rs << ", GL " << gl << ", type " << type;
      EXPECT_EQ(Impedances(*f), std::vector<double>{50.0});
    }
  }
  // A through connection of admittance y, unloaded, from an ideal source.
  auto f = NewFitter();
  const C through(0.01, -0.02);
  LoadData(*f, 2, kY, z0, {{through, -through, -through, through}});
  ASSERT_EQ(f->VoltageTransferFunction(0.0, 0.0, 0), 1);
  EXPECT_LE(std::abs(PointValues(*f, 0)[0] - 1.0), 1e-15);
}

// ---------------------------------------------------------------------------
// Reordering carries the model

std::vector<C> EvaluateAll(cCfit& f, int n, double frequency) {
  std::vector<C> v;
  for (int e = 0; e < n * n; ++e) {
    double value[2] = {kNaN, kNaN};
    EXPECT_EQ(f.EvaluateModelElement(e / n, e % n, frequency, value), 1);
    v.emplace_back(value[0], value[1]);
  }
  return v;
}

TEST(ReorderPorts, ModelElementsMoveWithTheirPorts) {
  const int perm[] = {2, 0, 1}, inverse[] = {1, 2, 0};
  // Per-element poles of a symmetric caller-defined model (lists below the
  // diagonal), per-element and common poles fitted to asymmetric data.
  const auto defined = [] {
    auto f = NewFitter();
    const double z0[] = {50.0, 60.0, 70.0};
    EXPECT_EQ(f->DefineModel(3, kS, z0, true), 1);
    for (int e = 0; e < 9; ++e) {
      const double pole[] = {1e9 * (e + 1), -2e9 * (e % 2)}, residue[] = {0.1 * (e + 1), 0.02};
      if (e / 3 >= e % 3)
        f->SetElementModel(e / 3, e % 3, 1, 0.01 * e, 0.0, 1e-11 * e, pole, residue);
    }
    return f;
  };
  const auto fitted = [](bool individual) {
    return [individual] {
      testing::LogCapture quiet;
      auto f = MakeFitter(individual);
      testing::LoadSynthetic(*f, 3, kS, 20, 1.3);
      EXPECT_EQ(f->Fit(), 1);
      return f;
    };
  };
  for (const auto& make :
       std::vector<std::function<std::unique_ptr<cCfit>()>>{defined, fitted(true), fitted(false)}) {
    auto f = make();
    ASSERT_TRUE(f->HasFit());
    const bool hasData = f->HasSampledData();
    const std::vector<double> z0 = Impedances(*f);
    const std::vector<C> before = EvaluateAll(*f, 3, 1.7e9);
    const CMatrix firstPoint = hasData ? PointValues(*f, 0) : CMatrix{};
    ASSERT_EQ(f->ReorderPorts(perm), 1);
    const std::vector<C> after = EvaluateAll(*f, 3, 1.7e9);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(Impedances(*f)[k], z0[perm[k]]);
      for (int l = 0; l < 3; ++l) {
        EXPECT_EQ(after[k * 3 + l], before[perm[k] * 3 + perm[l]]) << k << l;
        EXPECT_TRUE(!hasData || PointValues(*f, 0)[k * 3 + l] == firstPoint[perm[k] * 3 + perm[l]]);
      }
    }
    const Model& m = *f->state().model;
    for (int i = 0; f->IsSymmetric() && m.individual() && i < 3; ++i) {
      for (int j = i + 1; j < 3; ++j) EXPECT_TRUE(m.elementPoles[m.Index(i, j)].empty()) << i << j;
    }
    ASSERT_EQ(f->ReorderPorts(inverse), 1);
    EXPECT_EQ(EvaluateAll(*f, 3, 1.7e9), before);
  }
}

// ---------------------------------------------------------------------------
// Refusals the every-operation table does not reach: each leaves data and
// impedances as they were.

TEST(PortOperations, RefusalsChangeNothing) {
  const CMatrix s3 = {0.1, 0.2, 0.3, 0.2, 0.1, 0.05, 0.3, 0.05, 0.2};
  const std::vector<double> mixed = {50.0, 50.0, 75.0}, heldZero = {50.0, 0.0, 50.0};
  const unsigned char all[] = {1, 1, 1}, bad[] = {1, 2, 0};
  const int noneKept[] = {0, 1, 2}, code4[] = {3, 4, 2}, repeated[] = {0, 0, 1},
            outside[] = {0, 1, 3};
  const double zero[] = {50, 0, 50}, negative[] = {50, 50, -75};
  const char* impedance = "Invalid characteristic impedance";
  struct Case {
    int type;
    const std::vector<double>& z0;
    std::function<int(cCfit&)> op;
    const char* message;  // empty: refused without an error
  };
  int row = 0;
  for (const Case& c : std::vector<Case>{
           {kS, mixed, [&](cCfit& f) { return f.CombinePorts(all, 0); },
            "Combined ports must have equal normalizing impedances"},
           {kS, mixed, [&](cCfit& f) { return f.CombinePorts(bad, 0); }, ""},
           {kS, mixed, [&](cCfit& f) { return f.TerminatePorts(noneKept); },
            "Invalid request for matrix swathing"},
           {kS, mixed, [&](cCfit& f) { return f.TerminatePorts(code4); }, ""},
           {kS, mixed, [&](cCfit& f) { return f.ReorderPorts(repeated); }, ""},
           {kS, mixed, [&](cCfit& f) { return f.ReorderPorts(outside); }, ""},
           {kS, mixed, [&](cCfit& f) { return f.ChangeReferenceImpedances(zero); }, impedance},
           {kY, mixed, [&](cCfit& f) { return f.ChangeReferenceImpedances(negative); }, impedance},
           {kS, heldZero, [&](cCfit& f) { return f.SetReferenceImpedance(75.0); }, impedance},
       }) {
    SCOPED_TRACE(row++);
    auto f = NewFitter();
    LoadData(*f, 3, c.type, c.z0, {s3, s3});
    EXPECT_EQ(c.op(*f), 0);
    EXPECT_EQ(Message(*f), c.message);
    EXPECT_TRUE(PointValues(*f, 1) == s3 && f->GetPortCount() == 3 && f->GetDataType() == c.type);
    EXPECT_EQ(Impedances(*f), c.z0);
  }
}

// Y data keep their values and their model; only the impedances change.
TEST(PortOperations, ImpedanceChangesKeepAModelOfYData) {
  auto y = MakeFitter();
  testing::LoadSynthetic(*y, 2, kY, 12);
  testing::LogCapture quiet;
  ASSERT_EQ(y->Fit(), 1);
  const CMatrix data = PointValues(*y, 3);
  const std::vector<C> model = EvaluateAll(*y, 2, 1e9);
  ASSERT_EQ(y->SetReferenceImpedance(75.0), 1);
  EXPECT_TRUE(PointValues(*y, 3) == data && EvaluateAll(*y, 2, 1e9) == model);
  EXPECT_EQ(Impedances(*y), (std::vector<double>{75.0, 75.0}));
}

// ---------------------------------------------------------------------------
// Singular systems: the solver's output, no value that is not finite, and
// one log line naming the first singular point.

TEST(PortOperations, SingularPointsKeepFiniteValuesAndAreLogged) {
  const double to25[] = {25.0};
  const int shortSecond[] = {3, 0};
  const unsigned char both[] = {1, 1};
  using Op = std::function<int(cCfit&)>;
  const Op renormalise = [&](cCfit& f) { return f.ChangeReferenceImpedances(to25); };
  const Op terminate = [&](cCfit& f) { return f.TerminatePorts(shortSecond); };
  const Op combine = [&](cCfit& f) { return f.CombinePorts(both, 0); };
  const Op transfer = [&](cCfit& f) { return f.VoltageTransferFunction(50.0, 0.0, 1324); };
  struct Case {
    const char* operation;
    int n, type;
    CMatrix singular, regular;
    Op op;
    C want;  // the singular point's value
  };
  const std::vector<Case> cases = {
      // s (rho - 1) + rho + 1 = 0 for rho = 2.
      {"Reference impedance change", 1, kS, {-3.0}, {0.2}, renormalise, 0.0},
      // A shorted port whose own reflection is -1: I + S22 = 0.
      {"Port termination", 2, kS, {0.2, 0.1, 0.1, -1.0}, {0.2, 0.1, 0.1, 0.3}, terminate, 0.2},
      // Two shorts joined: W = 0, the joined port reads as a short.
      {"Port combination", 2, kS, {-1.0, 0.0, 0.0, -1.0}, CMatrix(4), combine, -1.0},
      // Nothing between the load's terminals: the output pair floats.
      {"Voltage transfer", 4, kY, CMatrix(16), Identity(4), transfer, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    auto f = NewFitter();
    LoadData(*f, c.n, c.type, std::vector<double>(c.n, 50.0), {c.regular, c.singular, c.singular});
    testing::LogCapture log;
    ASSERT_EQ(c.op(*f), 1);
    EXPECT_EQ(f->GetErrorMessage(), nullptr);
    EXPECT_LE(std::abs(PointValues(*f, 1)[0] - c.want), 1e-15) << PointValues(*f, 1)[0];
    for (int k = 0; k < 3; ++k) {
      for (C v : PointValues(*f, k))
        EXPECT_TRUE(std::isfinite(v.real()) && std::isfinite(v.imag()));
    }
    EXPECT_EQ(log.text(), std::string("\n*** ") + c.operation +
                              ": singular matrix at 2 of 3 points, first at 2e+09 Hz ***\n");
  }
}

// Every real S file that reads: renormalised to 75 ohm and to unequal
// impedances, the last port (and, with four ports or more, the first)
// shorted, opened or matched, and the ports reversed. Renormalising back
// gives the data again.
TEST(RealFilePortOperations, EveryFileIsRenormalisedTerminatedAndReordered) {
  if (RealFiles().empty()) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  int files = 0;
  for (const auto& path : RealFiles()) {
    const auto source = ReadAsWritten(path);
    if (source == nullptr || source->GetDataType() != kS) continue;
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    const int n = source->GetPortCount();
    const std::vector<double> z0 = Impedances(*source);
    // Runs `op` on a copy of the data and dumps it for the cross-check:
    // int32 operation (0 renormalise, 1 terminate, 2 reorder), ports in, ports
    // out, points; int32 argument per port (codes, or the permutation);
    // doubles: the impedances in, the impedances out, the frequencies, the
    // input values and the output values (re, im pairs, row by row, point by
    // point).
    const SampledData& in = *source->state().network.data;
    std::vector<double> frequencies;
    for (ConstMatrixView p : in.points()) frequencies.push_back(p.frequency());
    int serial = 0;
    const auto run = [&](int operation, const std::vector<int>& argument,
                         const std::function<int(cCfit&)>& op) {
      auto f = NewFitter();
      f->BeginData(n, kS, z0.data());
      f->state().ReplaceData(in);
      EXPECT_EQ(op(*f), 1) << Message(*f);
      const SampledData& out = *f->state().network.data;
      Dump(name + "." + std::to_string(serial++))
          .Write(std::vector<std::int32_t>{operation, n, out.port_count(), in.point_count()})
          .Write(argument)
          .Write(z0)
          .Write(Impedances(*f))
          .Write(frequencies)
          .Write(in)
          .Write(out);
      return f;
    };
    std::vector<double> unequal;
    for (int k = 0; k < n; ++k) unequal.push_back(z0[k] * (0.5 + 0.4 * (k % 4)));
    for (const std::vector<double>& target : {std::vector<double>(n, 75.0), unequal}) {
      auto f = run(0, std::vector<int>(n, 0),
                   [&](cCfit& g) { return g.ChangeReferenceImpedances(target.data()); });
      ASSERT_EQ(f->ChangeReferenceImpedances(z0.data()), 1);
      double worst = 0.0;
      for (int k = 0; k < f->state().network.data->point_count(); ++k)
        worst = std::max(worst, Difference(PointValues(*f, k), PointValues(*source, k)));
      EXPECT_LE(worst, 1e-10) << "the way back";
    }
    for (int code : {kShort, kOpen, kMatched}) {
      if (n < 2) break;
      std::vector<int> codes(n, kKeep);
      codes[n - 1] = code;
      if (n >= 4) codes[0] = code == kMatched ? kShort : kMatched;
      run(1, codes, [&](cCfit& g) { return g.TerminatePorts(codes.data()); });
    }
    std::vector<int> reversed;
    for (int k = n - 1; k >= 0; --k) reversed.push_back(k);
    run(2, reversed, [&](cCfit& g) { return g.ReorderPorts(reversed.data()); });
    ++files;
  }
  EXPECT_GE(files, 20);
}

}  // namespace
}  // namespace cfit
