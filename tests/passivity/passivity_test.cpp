// Passivity: the measures and their reports, the conductances, the accuracy
// read-out, the corrections and the enforcement loops. The measure of every
// real file and enforced models of real files are cross-checked with numpy
// (measure_crosscheck.py, dense_check.py) from the dumps at the end.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "fit/model_evaluation.h"
#include "passivity/enforcement.h"
#include "passivity/model_dump.h"
#include "passivity/passivity_measure.h"
#include "passivity/suppression.h"
#include "passivity/yz_correction.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using C = std::complex<double>;

std::unique_ptr<cCfit> Fitter() {
  return std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
}

// Loads points of an n-port given as row-major complex matrices.
void Load(cCfit& f, int n, int type, const std::vector<double>& freqs,
          const std::vector<std::vector<C>>& matrices) {
  f.BeginData(n, type, nullptr);
  std::vector<double> storage(2 * n * n);
  std::vector<double*> rows(n);
  for (int i = 0; i < n; ++i) rows[i] = storage.data() + 2 * n * i;
  for (std::size_t k = 0; k < freqs.size(); ++k) {
    DataPointRecord r{freqs[k], rows.data()};
    for (int e = 0; e < n * n; ++e) {
      rows[e / n][2 * (e % n)] = matrices[k][e].real();
      rows[e / n][2 * (e % n) + 1] = matrices[k][e].imag();
    }
    ASSERT_TRUE(f.AddDataPoint(&r));
  }
  f.EndData();
}

PoleTerm Term(double re, double im, C residue) {
  PoleTerm t(1);
  t.SetPole(re, im);
  t.SetResidue00({residue.real(), residue.imag()});
  return t;
}

// An n-port model of data type `type` with the constant d on the diagonal,
// element (0, 0) holding `terms`; zero data at `low` and 2 `low` make the
// fitter hold data too.
Model& InstallModel(cCfit& f, int n, int type, double d = 0.0, std::vector<PoleTerm> terms = {},
                    double low = 1e6) {
  const std::vector<C> zero(static_cast<std::size_t>(n) * n);
  Load(f, n, type, {low, 2 * low}, {zero, zero});
  Model& m = *(f.state().model = std::make_unique<Model>());
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  m.n = n;
  m.constant.assign(nn, 0.0);
  for (int i = 0; i < n; ++i) m.constant[m.Index(i, i)] = d;
  m.proportional.assign(nn, 0.0);
  m.delay.assign(nn, 0.0);
  m.elementPoles.assign(nn, PoleList{});
  m.elementPoles[0] = terms;
  return m;
}

std::size_t Count(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
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
  // The margins: 1 - the largest singular value per point.
  ASSERT_EQ(f->GetDataPassivityMargins(), 1);
  std::vector<double> margins;
  for (int r = f->GetFirstDataMargin(&freq, &m); r; r = f->GetNextDataMargin(&freq, &m)) {
    margins.push_back(m);
  }
  EXPECT_EQ(margins, (std::vector<double>{0.5, 1.0 - 1.2, 1.0 - 1.2, 0.7}));
  EXPECT_EQ(f->GetModelPassivityMargins(), 0);  // no model
  EXPECT_STREQ(f->GetErrorMessage(), "Fitted data not available");
}

TEST(CheckModelPassivity, EqualityIsPassiveAndTheInfinitePointCatchesAViolationAboveTheBand) {
  double m = 0, freq = -1;
  auto f = Fitter();
  InstallModel(*f, 1, kS, 0.0, {Term(1e9, 0.0, 1.0)},
               1.0);  // |H| = 1 at 0 Hz exactly, below elsewhere
  testing::LogCapture log;
  ASSERT_EQ(f->CheckModelPassivity(&m, &freq), 1);
  EXPECT_TRUE(m == 1.0 && freq == 0.0 && log.text().empty()) << m << " " << freq << log.text();
  auto g = Fitter();
  InstallModel(*g, 1, kS, 0.5, {Term(1e9, 0.0, 0.7)}, 1.0);  // 1.2 at 0 Hz
  ASSERT_EQ(g->CheckModelPassivity(&m, &freq), 1);
  EXPECT_NEAR(m, 1.44, 1e-14);
  EXPECT_EQ(Count(log.text(), "*** fitted model non-passive: Max overshoot = 1.44 at freq = 0\n"),
            1u);
  // 1.1 - 1.0 / (1 + j f / P): 0.1 at DC, 1.1 towards infinity.
  auto h = Fitter();
  InstallModel(*h, 1, kS, 1.1, {Term(1e9, 0.0, -1.0)}, 1.0);
  ASSERT_EQ(h->CheckModelPassivity(&m, &freq), 1);
  EXPECT_NEAR(m, 1.21, 1e-6);
  EXPECT_GT(freq, 4e9);
  EXPECT_EQ(Fitter()->CheckModelPassivity(&m, &freq), 0);
}

TEST(MutualConductance, SeriesResistorBetweenTwoPorts) {
  // A series resistor R between two 50-ohm ports: S11 = R / (R + 100),
  // S21 = 100 / (R + 100); Y = [[1/R, -1/R], [-1/R, 1/R]].
  const double r = 30.0;
  auto f = Fitter();
  const C s11 = r / (r + 100.0), s21 = 100.0 / (r + 100.0);
  Load(*f, 2, kS, {1e6, 2e6}, {{s11, s21, s21, s11}, {s11, s21, s21, s11}});
  testing::LogCapture log;
  double g = 0;
  ASSERT_EQ(f->GetDataMutualConductanceDC(0, 1, &g), 1);  // below the data: warning
  EXPECT_NEAR(g, 1.0 / r, 1e-12);
  ASSERT_EQ(f->GetDataMutualConductanceDC(0, 0, &g), 1);  // cached: no second warning
  EXPECT_NEAR(g, 0.0, 1e-12);
  EXPECT_EQ(log.text(),
            " *** Warning in GetMutualConductance. The requested frequency is not contained in "
            "the sampled data. Taking the nearest point... ***\n");
  double re = 0, im = 0;
  ASSERT_EQ(f->GetDataMutualConductance(1, 0, 1.5e6, &re, &im), 1);  // inside: no warning
  EXPECT_NEAR(re, 1.0 / r, 1e-12);
  EXPECT_NEAR(im, 0.0, 1e-12);
  EXPECT_EQ(Count(log.text(), "Warning"), 1u);
  EXPECT_EQ(f->GetDataMutualConductance(2, 0, 1.5e6, &re, &im), 0);
  EXPECT_NE(f->GetErrorMessage(), nullptr);
}

TEST(EnforcedAccuracy, MatricesAndTheLogReport) {
  auto f = Fitter();
  InstallModel(*f, 1, kS, 0.2, {Term(1e9, 0.0, 0.3)}, 1.0);
  double** rms = nullptr;
  double** largest = nullptr;
  ASSERT_EQ(f->GetEnforcedAccuracy(&rms, &largest), 1);
  // The data hold 0 at 1 Hz and 2 Hz; the model is about 0.5 there.
  EXPECT_NEAR(rms[0][0], 0.5, 1e-8);
  EXPECT_NEAR(largest[0][0], 0.5, 1e-8);
  testing::LogCapture log;
  ASSERT_EQ(f->GetEnforcedAccuracy(nullptr, &largest), 1);
  EXPECT_TRUE(log.text().starts_with(
      "Accuracy after enforce pls passivity:\nmean error(1,1)=0.5\n\ntol  error(1,1)=0.5\n"));
  EXPECT_EQ(Fitter()->GetEnforcedAccuracy(&rms, &largest), 0);
}

TEST(YZCorrection, ModelTermsHaveTheResponseAsTheirRealPart) {
  for (int type = 0; type < 4; ++type) {
    auto f = Fitter();
    InstallModel(*f, 1, kY, 2.0, {Term(1e12, 0.0, 0.0)});  // passive, G = 2 > 0
    const Sp sp{0.3, 0.2, 0.1, 1e9, 3e9, type};
    ASSERT_TRUE(ApplyYZToModel(f->state(), sp, 1e9));
    for (double freq : {1e7, 5e8, 2e9, 1e10}) {
      const Complex h = EvaluateElement(f->state(), 0, 0, freq), v = YZCorrectionValue(sp, freq);
      EXPECT_NEAR(h.re - 2.0, YZCorrectionReal(sp, freq), 1e-12) << type << " " << freq;
      EXPECT_NEAR(v.re, YZCorrectionReal(sp, freq), 1e-12);
      EXPECT_NEAR(h.im, v.im, 1e-12);
    }
  }
  ::testing::internal::CaptureStderr();  // an unknown shape is an internal fault
  EXPECT_THROW(SuppressionFactor(Sp{1, 0, 0, 1e9, 1e9, 7}, 1e9), InternalFault);
  EXPECT_EQ(Count(::testing::internal::GetCapturedStderr(), "FATAL ERROR\nLine:"), 1u);
}

TEST(EnforceModelPassivity, PassiveModelsGetTheBannerOnlyAndOthersFail) {
  auto f = Fitter();
  InstallModel(*f, 1, kS, 0.2, {Term(1e9, 0.0, 0.3)});
  testing::LogCapture log;
  EXPECT_EQ(f->EnforceModelPassivity(1.0), 1);
  EXPECT_TRUE(std::regex_match(
      log.text(), std::regex("\n \\*{42}\n \\*{13} Passivity enforcement \\*{6}\n \\*{42}\n"
                             " Enforce passivity start: [^\n]+\n"
                             " Enforce passivity   end: [^\n]+\n")))
      << log.text();
  auto none = Fitter();
  EXPECT_EQ(none->EnforceModelPassivity(1.0), 0);
  EXPECT_NE(none->GetErrorMessage(), nullptr);
  auto g = Fitter();
  InstallModel(*g, 2, kABCD, 0.0, {Term(1e9, 0.0, 1.0)});
  EXPECT_EQ(g->EnforceModelPassivity(1.0), 0);
  EXPECT_STREQ(g->GetErrorMessage(), "We only support S-Y-Z parameter types");
}

TEST(EnforceModelPassivity, PeakOfExactlyOneIsNotCorrected) {
  auto f = Fitter();
  Model& m = InstallModel(*f, 1, kS, 0.0, {Term(1e9, 0.0, 1.0)});  // |H| = 1 at 0 Hz
  testing::LogCapture log;
  EXPECT_EQ(f->EnforceModelPassivity(0.99), 0);  // never passive at this threshold
  EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Unable to enforce post-fit passivity");
  // The row curves hold at their fixed threshold 1; the global loop spends
  // its 20 tries writing result lines only.
  EXPECT_EQ(Count(log.text(), "-th try"), 0u);
  EXPECT_EQ(Count(log.text(), " Global correction done at: "), 20u);
  EXPECT_EQ(m.elementPoles[0].size(), 1u);
}

TEST(EnforceModelPassivity, SharedPolesBecomeElementListsWithTheSameValues) {
  auto f = Fitter();
  InstallModel(*f, 2, kS);
  FitterState& s = f->state();
  s.settings.individualPoles = false;
  s.model->shape = PoleShape::kCommon;
  PoleTerm shared(2);
  shared.SetPole(1e9, -2e9);
  for (int e = 0; e < 4; ++e) shared.SetResidue(e / 2, e % 2, {0.1 * (e + 1), 0.1 - 0.05 * e});
  s.model->commonPoles = {shared};
  const Complex before = EvaluateElement(s, 1, 0, 1.7e9);
  ConvertSharedPoles(s);
  EXPECT_TRUE(s.settings.individualPoles && s.model->commonPoles.empty());
  EXPECT_LT(Abs(EvaluateElement(s, 1, 0, 1.7e9) - before), 1e-15);
}

// S data are corrected end to end by the cfit program's --passive-data test;
// here Y data whose real part dips below zero at one frequency.
TEST(EnforceDataPassivity, YDataEndPassive) {
  auto y = Fitter();
  std::vector<double> freqs;
  std::vector<std::vector<C>> values;
  for (int k = 0; k < 40; ++k) {
    freqs.push_back(1e8 * (k + 1));
    values.push_back({C(0.02 - 0.05 * std::exp(-std::pow((k - 20) / 3.0, 2)), 1e-3 * k)});
  }
  Load(*y, 1, kY, freqs, values);
  testing::LogCapture log;
  double m = 0, at = 0;
  EXPECT_EQ(y->EnforceDataPassivity(1.0), 1);
  ASSERT_EQ(y->CheckDataPassivity(&m, &at), 1);
  EXPECT_LE(m, 1.0);
  EXPECT_EQ(Fitter()->EnforceDataPassivity(1.0), 0);
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
      for (int e = 0; e < s.network.portCount * s.network.portCount; ++e)
        out << " " << p.Row(0)[e].re << " " << p.Row(0)[e].im;
      out << "\n";
    }
  }
}

// For the independent dense check (tests/passivity/dense_check.py): fits a
// set of real files, enforces passivity, and writes each enforced model at
// 20,000 log-spaced frequencies from the smallest pole magnitude / 100 to 100
// times the largest (int32 ports, count, data type, then per frequency the
// frequency and the N x N (re, im) values).
TEST(RealFiles, EnforcedModelDump) {
  const char* folder = std::getenv("CFIT_TEST_DATA");
  const char* dump = std::getenv("CFIT_DENSE_DUMP");
  if (folder == nullptr || dump == nullptr) GTEST_SKIP() << "no dump requested";
  for (const char* name : {"ring_slot_sim.s2p", "twoport_mixed_eol.s2p", "coax_line_sim_crlf.s2p",
                           "lowpass_filter_measured.s2p", "power_splitter_2way_measured.s3p",
                           "resonator_36mm_measured.s2p", "package_8port_sim.s8p",
                           "cpw_sim_port_impedance_crlf.s2p"}) {
    auto f = Fitter();
    testing::LogCapture log;
    ASSERT_NE(f->ReadTouchstone((std::string(folder) + "/" + name).c_str()), 0) << name;
    ASSERT_EQ(f->Fit(), 1) << name;
    ASSERT_EQ(f->EnforceModelPassivity(1.0), 1) << name;
    const FitterState& s = f->state();
    const auto [low, high] = testing::PoleSpan(*s.model);
    testing::DumpModel(ViewOf(s), s.network.dataType, low / 100, high * 100,
                       std::string(dump) + "/" + name + ".bin");
  }
}

}  // namespace
}  // namespace cfit
