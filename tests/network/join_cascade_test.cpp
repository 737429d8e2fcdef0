// Joining modal 2-ports and cascading with a second network: the common
// frequency grid, the cascade against the closed forms of resistor networks,
// joined data and models (the model path against the data path), and the
// held network kept bit for bit when the second network is refused. The
// cascade of real files is cross-checked against scikit-rf by
// skrf_crosscheck.py from the dump of RealFileCascades.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "network/cascade.h"
#include "network/frequency_grid_merge.h"
#include "network/network_support.h"
#include "support/fitter_fixtures.h"

namespace cfit {
namespace {

using namespace testing;

// A 1 x 1 set whose value is linear in frequency: (f, -2 f + 1e9).
SampledData LinearSet(const std::vector<double>& frequencies, double slope) {
  SampledData set(1);
  for (double f : frequencies) {
    PortMatrix p(1);
    p.set_frequency(f);
    p.At(0, 0) = Complex(slope * f, -2.0 * f + 1e9);
    EXPECT_TRUE(set.Append(p));
  }
  return set;
}

TEST(MergeFrequencyGrids, GridEndsAndInterpolatedValues) {
  struct Case {
    const char* name;
    std::vector<double> a, b, grid;
    double tolerance;  // of the values against the straight lines
  };
  const std::vector<Case> cases = {
      {"identical lists", {1e9, 2e9, 3e9}, {1e9, 2e9, 3e9}, {1e9, 2e9, 3e9}, 0.0},
      {"interleaved", {1e9, 2e9, 3e9}, {1.5e9, 2.5e9}, {1e9, 1.5e9, 2e9, 2.5e9}, 1e-15},
      {"b first", {2e9, 3e9, 4e9}, {1e9, 2.5e9}, {1e9, 2e9, 2.5e9}, 1e-15},
      {"within 1e-7", {5e8, 1e9, 2e9}, {5e8, 1.00000005e9, 2e9}, {5e8, 1e9, 2e9}, 1e-7},
      {"b's first at a's second", {1e9, 2e9}, {2e9, 3e9}, {1e9, 2e9}, 1e-15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MergedGrid merged =
        MergeFrequencyGrids(LinearSet(c.a, 1.0), LinearSet(c.b, 3.0), 2,
                            [](const PortMatrix& a, const PortMatrix& b, PortMatrix& out) {
                              out.At(0, 0) = a.At(0, 0), out.At(1, 1) = b.At(0, 0);
                              return true;
                            });
    EXPECT_TRUE(merged.complete);
    ASSERT_EQ(merged.data.point_count(), static_cast<int>(c.grid.size()));
    for (std::size_t k = 0; k < c.grid.size(); ++k) {
      const ConstMatrixView p = merged.data.point(k);
      const double f = c.grid[k];
      EXPECT_EQ(p.frequency(), f);
      for (auto [value, slope] : {std::pair{p.At(0, 0), 1.0}, {p.At(1, 1), 3.0}}) {
        EXPECT_NEAR(value.re, slope * f, c.tolerance * slope * f);
        EXPECT_NEAR(value.im, -2.0 * f + 1e9, c.tolerance * 2.0 * f);
      }
      EXPECT_EQ(p.At(0, 1), Complex());
    }
  }
}

// Admittance matrices of resistor networks: a series impedance as a 2-port,
// and two lines with a series impedance each as a 4-port (ports 1 and 2 on
// one side, 3 and 4 on the other).
PortMatrix Series(Complex z) {
  const Complex y = 1.0 / z;
  PortMatrix m(2);
  m.At(0, 0) = m.At(1, 1) = y;
  m.At(0, 1) = m.At(1, 0) = -y;
  return m;
}
PortMatrix Lines(Complex z) {
  const Complex y = 1.0 / z;
  PortMatrix m(4);
  for (int k = 0; k < 4; ++k) {
    m.At(k, k) = y;
    m.At(k, (k + 2) % 4) = -y;
  }
  return m;
}
// A balanced series path of impedance z between the pairs (1, 2) and (3, 4).
PortMatrix Balanced(Complex z) {
  const Complex y = 1.0 / z;
  PortMatrix m(4);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j)
      m.At(i, j) = ((i + j) % 2 == 0 ? 1.0 : -1.0) * ((i < 2) == (j < 2) ? y : -y);
  }
  return m;
}

TEST(CascadeAdmittances, ResistorNetworksGiveTheirSeriesSums) {
  const Complex r1(50.0, 10.0), r2(25.0, -5.0);
  struct Case {
    const char* name;
    PortMatrix a, b, want;
  };
  // (2-ports with 2-ports: the scikit-rf cross-check of the real files.)
  const std::vector<Case> cases = {
      {"4-port with 4-port", Lines(r1), Lines(r2), Lines(r1 + r2)},
      // Through both lines and the balanced element: 2 r1 + r2 differentially;
      // no common-mode path.
      {"4-port with balanced 2-port", Lines(r1), Series(r2), Balanced(2.0 * r1 + r2)},
      {"balanced 2-port with 4-port", Series(r1), Lines(r2), Balanced(r1 + 2.0 * r2)},
      // A connection without admittance: the guards keep the values finite.
      {"open 2-ports", PortMatrix(2), PortMatrix(2), PortMatrix(2)},
      {"open 4-ports", PortMatrix(4), PortMatrix(4), PortMatrix(4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PortMatrix got;
    ASSERT_TRUE(CascadeAdmittances(c.a, c.b, got));
    ASSERT_EQ(got.order(), c.want.order());
    for (int i = 0; i < got.order(); ++i) {
      for (int j = 0; j < got.order(); ++j) {
        EXPECT_LE(Magnitude(got.At(i, j) - c.want.At(i, j)), 1e-15) << i << "," << j;
      }
    }
  }
  PortMatrix untouched;
  EXPECT_FALSE(CascadeAdmittances(PortMatrix(3), Series(r1), untouched));
  EXPECT_EQ(untouched.order(), 0);
}

// Everything of the held network and model, bit for bit.
std::vector<double> Snapshot(const cCfit& f) {
  const FitterState& s = f.state();
  std::vector<double> v = {double(s.network.portCount),        double(s.network.dataType),
                           double(s.network.symmetric),        double(s.network.mixedMode),
                           double(s.network.data.has_value()), double(s.model != nullptr)};
  if (s.network.impedances)
    v.insert(v.end(), s.network.impedances->begin(), s.network.impedances->end());
  if (s.network.data) {
    for (ConstMatrixView p : s.network.data->points()) {
      v.push_back(p.frequency());
      for (int e = 0; e < p.order() * p.order(); ++e)
        v.insert(v.end(), {p.Row(0)[e].re, p.Row(0)[e].im});
    }
  }
  if (s.model) {
    for (const auto* table : {&s.model->constant, &s.model->proportional, &s.model->delay})
      v.insert(v.end(), table->begin(), table->end());
    for (const PoleList& list : s.model->elementPoles) {
      for (const PoleTerm& t : list) {
        v.insert(v.end(),
                 {t.GetPole().re, t.GetPole().im, t.GetResidue00().re, t.GetResidue00().im});
      }
    }
  }
  return v;
}

// A 2-port Touchstone file of ten points with the option line `option`.
std::string TwoPortFile(const std::string& option) {
  const std::string name = Scratch().NewFile("second") + ".s2p";
  std::ofstream out(name);
  out << option << "\n";
  for (int k = 1; k <= 10; ++k) out << k << "e8 0.3 0.01 0.2 0 0.2 0 0.3 -0.01\n";
  return name;
}

// A pole file of a 2-port S model with one real and one complex pole.
std::string PoleFile(int n, int type, double z0, double delay) {
  Fitter f = MakeFitter();
  const std::vector<double> z(n, z0);
  const double poles[4] = {1e9, 0, 2e9, -3e9}, residues[4] = {0.2, 0, 0.1, 0.05};
  f->DefineModel(n, type, z.data(), true);
  f->SetElementModel(1, 0, 2, 0.1, 0.0, delay, poles, residues);
  const std::string name = Scratch().NewFile("model");
  EXPECT_EQ(f->WritePoles(name.c_str()), 1);
  return name;
}

Fitter ReadFile(const std::string& name) {
  Fitter f = MakeFitter();
  EXPECT_GT(f->ReadTouchstone(name.c_str()), 0) << name;
  return f;
}

Fitter DefinedTwoPort() {
  Fitter f = MakeFitter();
  const double poles[2] = {5e8, 0}, residues[2] = {0.3, 0};
  f->DefineModel(2, kS, nullptr, true);
  f->SetElementModel(0, 0, 1, 0.2, 0.0, 0.0, poles, residues);
  return f;
}

// A refused or unreadable second network records its error and leaves the
// held network (and model) exactly as they were (a missing file is the
// wrong-state table's).
TEST(SecondNetwork, RefusedFilesKeepTheHeldNetworkBitForBit) {
  if (std::getenv("CFIT_TEST_DATA") == nullptr) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  testing::LogCapture quiet;
  enum Op { kCascade, kJoin, kJoinModels };
  struct Case {
    Op op;
    std::string file;
    int code;
  };
  const std::vector<Case> cases = {
      {kCascade, RealFile("ideal_tee_sim.s3p"), 21},
      {kCascade, RealFile("reject_no_data.s3p"), 1001},
      {kJoin, RealFile("transformer_4port_sim.s4p"), 6},
      {kJoin, TwoPortFile("# HZ Y RI R 50"), 6},
      {kJoin, TwoPortFile("# HZ S RI R 75"), 42},
      {kJoinModels, PoleFile(4, kS, 50.0, 0.0), 8},
      {kJoinModels, PoleFile(2, kY, 50.0, 0.0), 8},
      {kJoinModels, PoleFile(2, kS, 75.0, 0.0), 42},
      {kJoinModels, PoleFile(2, kS, 50.0, 1e-10), 43},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Fitter f = c.op == kCascade ? ReadFile(RealFile("lowpass_filter_measured.s2p"))
               : c.op == kJoin  ? ReadFile(TwoPortFile("# HZ S RI R 50"))
                                : DefinedTwoPort();
    const std::vector<double> before = Snapshot(*f);
    const int result = c.op == kCascade ? f->CascadeWithTouchstone(c.file.c_str())
                       : c.op == kJoin  ? f->JoinModalTwoPorts(c.file.c_str())
                                        : f->JoinModalTwoPortModels(c.file.c_str());
    EXPECT_EQ(result, 0);
    ASSERT_NE(f->GetErrorMessage(), nullptr);
    EXPECT_TRUE(std::string(f->GetErrorMessage()).ends_with(FitErrorText(c.code)))
        << f->GetErrorMessage();
    EXPECT_TRUE(SameBits(Snapshot(*f), before)) << "the held network changed";
  }
}

// Joined models evaluate as the joined sweeps of the two models: the model
// path (JoinModalTwoPortModels) against the data path (both models swept,
// the second through a Touchstone file, then JoinModalTwoPorts), for
// symmetric and non-symmetric models on either side.
TEST(JoinModalTwoPortModels, JoinedModelEvaluatesAsTheJoinedSweeps) {
  testing::LogCapture quiet;
  const double p[6] = {1e9, 0, 2e9, -3e9, 4e8, 0}, r[6] = {0.2, 0, 0.1, 0.05, -0.3, 0};
  auto model = [&](bool symmetric, double scale, double proportional) {
    Fitter f = MakeFitter();
    f->DefineModel(2, kS, nullptr, symmetric);
    for (int e = 0; e < 4; ++e) {
      if (symmetric && e == 1) continue;
      const double rs[6] = {scale * r[0], 0, r[2] * (e + 1), r[3], scale * r[4] * (e + 1), 0};
      EXPECT_EQ(f->SetElementModel(e / 2, e % 2, 3, 0.1 * (e + 1), e == 0 ? proportional : 0.0, 0.0,
                                   p, rs),
                1);
    }
    return f;
  };
  const std::vector<double> frequencies = {0.0, 1e7, 3e8, 1e9, 2.5e9, 1e10};
  const int count = static_cast<int>(frequencies.size());
  for (bool symmetricA : {true, false}) {
    for (bool symmetricB : {true, false}) {
      SCOPED_TRACE(std::to_string(symmetricA) + std::to_string(symmetricB));
      Fitter joined = model(symmetricA, 1.0, 2e-12), b = model(symmetricB, -0.5, 0.0);
      const std::string poles = Scratch().NewFile("common"), data = poles + ".s2p";
      ASSERT_EQ(b->WritePoles(poles.c_str()), 1);
      ASSERT_EQ(b->SweepModelAtList(count, frequencies.data()), 1);
      ASSERT_EQ(b->WriteTouchstone(data.c_str(), 0), 1);
      Fitter swept = model(symmetricA, 1.0, 2e-12);
      ASSERT_EQ(swept->SweepModelAtList(count, frequencies.data()), 1);
      ASSERT_EQ(swept->JoinModalTwoPorts(data.c_str()), 1);
      const Network& mixed = swept->state().network;
      EXPECT_TRUE(mixed.portCount == 4 && mixed.mixedMode && !swept->HasFit());
      EXPECT_EQ(mixed.symmetric, symmetricA && symmetricB);
      EXPECT_EQ(*mixed.impedances, std::vector<double>(4, 50.0));

      ASSERT_EQ(joined->JoinModalTwoPortModels(poles.c_str()), 1);
      EXPECT_TRUE(joined->GetPortCount() == 4 && joined->IsMixedMode() &&
                  !joined->HasSampledData());
      EXPECT_EQ(joined->IsSymmetric(), symmetricA && symmetricB);
      ASSERT_EQ(swept->state().network.data->point_count(), count);
      for (ConstMatrixView want : swept->state().network.data->points()) {
        for (int i = 0; i < 4; ++i) {
          for (int j = 0; j < 4; ++j) {
            double v[2];
            ASSERT_EQ(joined->EvaluateModelElement(i, j, want.frequency(), v), 1);
            EXPECT_LE(Magnitude(Complex(v[0], v[1]) - want.At(i, j)),
                      1e-12 * std::max(1.0, Magnitude(want.At(i, j))))
                << want.frequency() << " Hz: " << i << "," << j;
          }
        }
      }
    }
  }
}

// Every pair of real 2-port files (each with itself and with the next one
// that reads) cascaded, read as written (no symmetrising), each cascade
// dumped for the scikit-rf cross-check as "<a>+<b>.bin": int32 ports,
// points; then per point the frequency and the Y values (re, im pairs, row
// by row).
TEST(RealFileCascades, EveryTwoPortPairCascades) {
  if (RealFiles().empty()) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  std::vector<std::filesystem::path> files;
  for (const auto& path : RealFiles()) {
    const auto probe = path.extension() == ".s2p" ? ReadAsWritten(path) : nullptr;
    if (probe != nullptr && probe->GetDataType() == kS) files.push_back(path);
  }
  ASSERT_GE(files.size(), 8u);
  for (std::size_t k = 0; k < files.size(); ++k) {
    for (const auto& second : {files[k], files[(k + 1) % files.size()]}) {
      const std::string name = files[k].filename().string() + "+" + second.filename().string();
      SCOPED_TRACE(name);
      const auto f = ReadAsWritten(files[k]);
      LogCapture quiet;
      ASSERT_EQ(f->CascadeWithTouchstone(second.c_str()), 2);
      EXPECT_EQ(f->GetDataType(), kY);
      const SampledData& data = *f->state().network.data;
      Dump dump(name);
      dump.Write(std::vector<std::int32_t>{2, data.point_count()});
      for (ConstMatrixView p : data.points()) {
        dump.Write(std::vector<double>{p.frequency()})
            .Write(std::vector<Complex>(p.Row(0), p.Row(0) + 4));
      }
    }
  }
}

}  // namespace
}  // namespace cfit
