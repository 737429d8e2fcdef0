// Passivity assessment: the measure, the sweeps, the reports, the margin
// lists, the conductances and the accuracy read-out.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "fit/model_evaluation.h"
#include "passivity/passivity_measure.h"
#include "passivity/passivity_sweeps.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using C = std::complex<double>;

std::unique_ptr<cCfit> Fitter() {
  return std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
}

// Loads points of an n-port given as row-major complex matrices.
void Load(cCfit& f, int n, int type, const std::vector<double>& freqs,
          const std::vector<std::vector<C>>& matrices, const double* z = nullptr) {
  f.BeginData(n, type, z);
  std::vector<double> storage(2 * n * n);
  std::vector<double*> rows(n);
  for (int i = 0; i < n; ++i) rows[i] = storage.data() + 2 * n * i;
  for (std::size_t k = 0; k < freqs.size(); ++k) {
    DataPointRecord r{freqs[k], rows.data()};
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        rows[i][2 * j] = matrices[k][i * n + j].real();
        rows[i][2 * j + 1] = matrices[k][i * n + j].imag();
      }
    }
    ASSERT_TRUE(f.AddDataPoint(&r));
  }
  f.EndData();
}

PortMatrix Matrix(int n, const std::vector<C>& values) {
  PortMatrix m(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) m.At(i, j) = {values[i * n + j].real(), values[i * n + j].imag()};
  return m;
}

TEST(PassivityMeasure, ClosedForms) {
  testing::LogCapture log;
  MeasureWorkspace work(2);
  double m = -1;
  // S: the square of the largest singular value. A lossless through line
  // has both singular values 1; a scaled unitary matrix 0.81.
  ASSERT_TRUE(PassivityMeasure(Matrix(2, {0, C(0, -1), C(0, -1), 0}), kS, false, work, &m));
  EXPECT_NEAR(m, 1.0, 1e-15);
  ASSERT_TRUE(PassivityMeasure(Matrix(2, {0.9, 0, 0, C(0, 0.9)}), kS, false, work, &m));
  EXPECT_NEAR(m, 0.81, 1e-15);
  // A non-normal matrix: singular values of [[0, 2], [0, 0]] are 2 and 0.
  ASSERT_TRUE(PassivityMeasure(Matrix(2, {0, 2, 0, 0}), kS, false, work, &m));
  EXPECT_NEAR(m, 4.0, 1e-14);
  // Y: 1 - the smallest eigenvalue of the Hermitian part, floored at 0.
  ASSERT_TRUE(
      PassivityMeasure(Matrix(2, {C(2, 5), C(0, 1), C(0, 1), C(-0.5, 3)}), kY, true, work, &m));
  EXPECT_NEAR(m, 1.5, 1e-14);
  ASSERT_TRUE(PassivityMeasure(Matrix(2, {C(2, 5), 0, 0, C(3, 1)}), kZ, true, work, &m));
  EXPECT_EQ(m, 0.0);
  // Not symmetric: Hermitian part of [[1, 2j], [0, 1]] has eigenvalues 0 and 2.
  ASSERT_TRUE(PassivityMeasure(Matrix(2, {1, C(0, 2), 0, 1}), kZ, false, work, &m));
  EXPECT_NEAR(m, 1.0, 1e-14);
  // A symmetric matrix reads its lower triangle only.
  ASSERT_TRUE(PassivityMeasure(Matrix(2, {0, 99, 0.5, 0}), kS, true, work, &m));
  EXPECT_NEAR(m, 0.25, 1e-15);
  EXPECT_EQ(PassivityMargin(0.81, kS), 1.0 - 0.9);
  EXPECT_EQ(PassivityMargin(0.81, kY), 1.0 - 0.81);
  // Non-finite values make the measure fail instead of reporting passive.
  ASSERT_FALSE(PassivityMeasure(Matrix(2, {NAN, 0, 0, 0}), kS, false, work, &m));
}

TEST(CheckDataPassivity, ReportsTheLargestMeasureAndTheEarlierOfEqualOnes) {
  auto f = Fitter();
  Load(*f, 1, kS, {1e9, 2e9, 3e9, 4e9}, {{0.5}, {C(0, 1.2)}, {-1.2}, {0.3}});
  testing::LogCapture log;
  double m = 0, freq = 0;
  ASSERT_EQ(f->CheckDataPassivity(&m, &freq), 1);
  EXPECT_NEAR(m, 1.44, 1e-14);
  EXPECT_EQ(freq, 2e9);
  EXPECT_EQ(log.text(), "*** input data non-passive: max overshoot = 1.44 at freq = 2e+09\n");
}

TEST(CheckDataPassivity, OnlyAMeasureAboveTheReportLevelIsLogged) {
  auto f = Fitter();
  Load(*f, 1, kS, {1e9, 2e9}, {{1.0}, {std::sqrt(1.00009)}});
  testing::LogCapture log;
  double m = 0, freq = 0;
  ASSERT_EQ(f->CheckDataPassivity(&m, &freq), 1);
  EXPECT_NEAR(m, 1.00009, 1e-12);
  EXPECT_EQ(log.text(), "");
  // Without data: error 10 and zeros.
  auto empty = Fitter();
  m = freq = 5;
  EXPECT_EQ(empty->CheckDataPassivity(&m, &freq), 0);
  EXPECT_EQ(m, 0.0);
  EXPECT_EQ(freq, 0.0);
  EXPECT_NE(empty->GetErrorMessage(), nullptr);
}

TEST(MarginLists, OnePointPerSamplePointAndWalksThatNeverRecord) {
  auto f = Fitter();
  double freq = -1, margin = -1;
  EXPECT_EQ(f->GetFirstDataMargin(&freq, &margin), 0);
  EXPECT_EQ(f->GetNextDataMargin(&freq, &margin), 0);
  EXPECT_EQ(f->GetFirstModelMargin(&freq, &margin), 0);
  EXPECT_EQ(f->GetErrorMessage(), nullptr);
  Load(*f, 2, kS, {1e9, 2e9, 3e9},
       {{0.1, 0.5, 0.5, 0.1}, {0.2, C(0, 0.9), C(0, 0.9), 0.2}, {0.9, 0.9, 0.9, 0.9}});
  ASSERT_EQ(f->GetDataPassivityMargins(), 1);
  std::vector<double> margins;
  for (int r = f->GetFirstDataMargin(&freq, &margin); r; r = f->GetNextDataMargin(&freq, &margin)) {
    margins.push_back(margin);
  }
  ASSERT_EQ(margins.size(), 3u);
  EXPECT_NEAR(margins[0], 1.0 - 0.6, 1e-14);  // singular values 0.6 and 0.4
  EXPECT_NEAR(margins[2], 1.0 - 1.8, 1e-14);
  EXPECT_EQ(f->GetNextDataMargin(&freq, &margin), 0);
  EXPECT_EQ(f->GetModelPassivityMargins(), 0);  // no model
  EXPECT_STREQ(f->GetErrorMessage(), "Fitted data not available");
}

// A 1-port S model d + sum of real terms R / (1 + j f / P).
void OnePortModel(cCfit& f, double d, std::vector<std::pair<double, double>> terms,
                  double delay = 0.0) {
  Load(f, 1, kS, {1.0, 2.0}, {{0.0}, {0.0}});
  FitterState& s = f.state();
  s.model = std::make_unique<FittedModel>();
  s.model->n = 1;
  s.model->constant = {d};
  s.model->proportional = {0.0};
  s.model->delay = {delay};
  s.model->elementPoles.assign(1, PoleList{});
  for (auto [pole, residue] : terms) {
    PoleTerm t(1);
    t.SetPole(pole, 0.0);
    t.SetResidue00({residue, 0.0});
    s.model->elementPoles[0].push_back(t);
  }
}

TEST(ModelSweep, CoversZeroTheBandOfThePolesAndInfinity) {
  // One real pole at 1e9: fmin = 0.25e9, fmax = 4e9.
  auto f = Fitter();
  OnePortModel(*f, 0.2, {{1e9, 0.3}});
  PassivityCurve curve;
  bool passive = false;
  ASSERT_TRUE(ModelSweep(ViewOf(f->state()), kS, 1.0, &curve, &passive, RunContext()));
  EXPECT_TRUE(passive);
  ASSERT_GT(curve.size(), 5u);
  EXPECT_EQ(curve[0].frequency, 0.0);
  EXPECT_EQ(curve[1].frequency, 0.25e9);
  EXPECT_EQ(curve[2].frequency, 0.5e9);
  EXPECT_EQ(curve.back().frequency, kInfiniteFrequency);
  EXPECT_GE(curve[curve.size() - 2].frequency, 4e9);  // the last band point reaches fmax
  EXPECT_NEAR(curve[0].measure, 0.25, 1e-15);         // (0.2 + 0.3)^2
  EXPECT_NEAR(curve.back().measure, 0.04, 1e-15);     // 0.2^2
  // Steps never fall below fmin, and the measure between points is
  // predicted well: it is monotone here, so every step of the band
  // doubles or keeps its size.
  for (std::size_t k = 3; k + 1 < curve.size(); ++k) {
    EXPECT_GE(curve[k].frequency - curve[k - 1].frequency, 0.25e9 * (1 - 1e-12));
  }
}

TEST(CheckModelPassivity, ThresholdEqualityIsPassiveAndReportsAboveOne) {
  auto f = Fitter();
  OnePortModel(*f, 0.0, {{1e9, 1.0}});  // |H| = 1 at 0 Hz exactly, below elsewhere
  testing::LogCapture log;
  double m = 0, freq = -1;
  ASSERT_EQ(f->CheckModelPassivity(&m, &freq), 1);
  EXPECT_EQ(m, 1.0);
  EXPECT_EQ(freq, 0.0);
  EXPECT_EQ(log.text(), "");
  auto g = Fitter();
  OnePortModel(*g, 0.5, {{1e9, 0.7}});  // 1.2 at 0 Hz
  ASSERT_EQ(g->CheckModelPassivity(&m, &freq), 1);
  EXPECT_NEAR(m, 1.44, 1e-14);
  EXPECT_NE(log.text().find("*** fitted model non-passive: Max overshoot = 1.44 at freq = 0\n"),
            std::string::npos);
  auto none = Fitter();
  EXPECT_EQ(none->CheckModelPassivity(&m, &freq), 0);
}

TEST(CheckModelPassivity, TheInfinitePointCatchesAViolationAboveTheBand) {
  // 1.1 - 1.0 / (1 + j f / P): 0.1 at DC, 1.1 towards infinity.
  auto f = Fitter();
  OnePortModel(*f, 1.1, {{1e9, -1.0}});
  double m = 0, freq = 0;
  testing::LogCapture log;
  ASSERT_EQ(f->CheckModelPassivity(&m, &freq), 1);
  EXPECT_NEAR(m, 1.21, 1e-6);
  EXPECT_GT(freq, 4e9);
  EXPECT_NEAR(f->state().passivity.checkCurve.back().measure, 1.21, 1e-12);
}

TEST(RowSweep, RowValuesAndSums) {
  auto f = Fitter();
  OnePortModel(*f, 0.6, {{1e9, 0.2}});
  PassivityCurve curve;
  bool passive = false;
  ASSERT_TRUE(RowSweep(ViewOf(f->state()), 0, &curve, &passive, RunContext()));
  EXPECT_TRUE(passive);
  ASSERT_FALSE(curve.empty());
  EXPECT_NEAR(curve[0].values[0], 0.64, 1e-15);
  EXPECT_EQ(curve[0].measure, curve[0].values[0]);
  EXPECT_LT(curve.back().frequency, kInfiniteFrequency);
}

TEST(MutualConductance, SeriesResistorBetweenTwoPorts) {
  // A series resistor R between two 50-ohm ports: S11 = R / (R + 100),
  // S21 = 100 / (R + 100); Y = [[1/R, -1/R], [-1/R, 1/R]].
  const double r = 30.0;
  auto f = Fitter();
  const C s11 = r / (r + 100.0), s21 = 100.0 / (r + 100.0);
  Load(*f, 2, kS, {1e6, 2e6}, {{s11, s21, s21, s11}, {s11, s21, s21, s11}});
  ASSERT_TRUE(f->IsSymmetric());
  testing::LogCapture log;
  double g = 0;
  ASSERT_EQ(f->GetDataMutualConductanceDC(0, 1, &g), 1);  // below the data: warning
  EXPECT_NEAR(g, 1.0 / r, 1e-12);
  ASSERT_EQ(f->GetDataMutualConductanceDC(0, 0, &g), 1);  // cached: no second warning
  EXPECT_NEAR(g, 0.0, 1e-12);
  EXPECT_EQ(log.text(),
            " *** Warning in GetMutualConductance. The requested frequency is not contained in "
            "the sampled data. Taking the nearest point... ***\n");
  log.clear();
  double re = 0, im = 0;
  ASSERT_EQ(f->GetDataMutualConductance(1, 0, 1.5e6, &re, &im), 1);  // inside: no warning
  EXPECT_NEAR(re, 1.0 / r, 1e-12);
  EXPECT_NEAR(im, 0.0, 1e-12);
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(f->GetDataMutualConductance(2, 0, 1.5e6, &re, &im), 0);
  EXPECT_NE(f->GetErrorMessage(), nullptr);
}

TEST(MutualConductance, InterpolatesAndNormalisesByTheImpedances) {
  // Shunt conductances: 1-port-like diagonal 2-port, S = (1 - y) / (1 + y)
  // per port with y = G Z0; at 1 and 3 MHz the values differ, at 2 MHz the
  // interpolated S gives its own G.
  auto f = Fitter();
  const double z[2] = {50.0, 25.0};
  auto s = [](double g, double z0) { return C((1.0 - g * z0) / (1.0 + g * z0)); };
  Load(*f, 2, kS, {1e6, 3e6}, {{s(0.01, 50), 0, 0, s(0.02, 25)}, {s(0.03, 50), 0, 0, s(0.02, 25)}},
       z);
  double re = 0, im = 0;
  ASSERT_EQ(f->GetDataMutualConductance(0, 0, 1e6, &re, &im), 1);
  EXPECT_NEAR(re, 0.01, 1e-14);
  ASSERT_EQ(f->GetDataMutualConductance(1, 1, 3e6, &re, &im), 1);
  EXPECT_NEAR(re, 0.02, 1e-14);
  ASSERT_EQ(f->GetDataMutualConductance(0, 0, 2e6, &re, &im), 1);
  const C mid = 0.5 * (s(0.01, 50) + s(0.03, 50));
  EXPECT_NEAR(re, ((1.0 - mid) / (1.0 + mid)).real() / 50.0, 1e-14);
}

TEST(MutualConductance, SingularMatrixIsRetriedAndModelNeedsSymmetry) {
  // S = -1 (a short) makes I + S singular; the retry with s < 1 gives a
  // large but finite conductance.
  auto f = Fitter();
  Load(*f, 1, kS, {1e6, 2e6}, {{-1.0}, {-1.0}});
  double g = 0;
  ASSERT_EQ(f->GetDataMutualConductanceDC(0, 0, &g), 1);
  EXPECT_TRUE(std::isfinite(g));
  EXPECT_GT(g, 1e2);
  auto m = Fitter();
  OnePortModel(*m, 0.2, {{1e9, 0.3}});
  ASSERT_EQ(m->GetModelMutualConductanceDC(0, 0, &g), 1);
  EXPECT_NEAR(g, (1.0 - 0.5) / (1.0 + 0.5) / 50.0, 1e-14);
  m->state().network.symmetric = false;
  m->state().passivity.dcConductance.valid = false;
  EXPECT_EQ(m->GetModelMutualConductanceDC(0, 0, &g), 0);
  EXPECT_EQ(g, 0.0);
}

TEST(EnforcedAccuracy, MatricesAndTheLogReport) {
  auto f = Fitter();
  OnePortModel(*f, 0.2, {{1e9, 0.3}});
  double** rms = nullptr;
  double** largest = nullptr;
  ASSERT_EQ(f->GetEnforcedAccuracy(&rms, &largest), 1);
  // The data hold 0 at 1 Hz and 2 Hz; the model is about 0.5 there.
  EXPECT_NEAR(rms[0][0], 0.5, 1e-8);
  EXPECT_NEAR(largest[0][0], 0.5, 1e-8);
  testing::LogCapture log;
  ASSERT_EQ(f->GetEnforcedAccuracy(nullptr, &largest), 1);
  EXPECT_EQ(log.text().rfind("Accuracy after enforce pls passivity:\nmean error(1,1)=0.5\n\n"
                             "tol  error(1,1)=0.5\n",
                             0),
            0u);
  auto none = Fitter();
  EXPECT_EQ(none->GetEnforcedAccuracy(&rms, &largest), 0);
  EXPECT_EQ(none->GetErrorMessage(), nullptr);
}

// Writes every S/Y/Z real file's sampled matrices and data measures for the
// numpy cross-check (tests/passivity/measure_crosscheck.py), when asked.
TEST(RealFiles, MeasureDump) {
  const char* folder = std::getenv("CFIT_TEST_DATA");
  const char* dump = std::getenv("CFIT_MEASURE_DUMP");
  if (folder == nullptr || dump == nullptr) GTEST_SKIP() << "no dump requested";
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    auto f = Fitter();
    testing::LogCapture log;
    if (f->ReadTouchstone(entry.path().c_str()) == 0) continue;
    const FitterState& s = f->state();
    std::ofstream out(std::string(dump) + "/" + entry.path().filename().string() + ".txt");
    out.precision(17);
    out << s.network.portCount << " " << s.network.dataType << " " << s.network.data->point_count()
        << "\n";
    MeasureWorkspace work(s.network.portCount);
    for (ConstMatrixView p : s.network.data->points()) {
      double m = 0;
      ASSERT_TRUE(PassivityMeasure(p, s.network.dataType, s.network.symmetric, work, &m));
      out << p.frequency() << " " << m;
      for (int i = 0; i < s.network.portCount; ++i)
        for (int j = 0; j < s.network.portCount; ++j)
          out << " " << p.At(i, j).re << " " << p.At(i, j).im;
      out << "\n";
    }
  }
}

}  // namespace
}  // namespace cfit
