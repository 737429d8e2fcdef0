// Passivity corrections and the enforcement loops.
#include "passivity/enforcement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "fit/model_evaluation.h"
#include "fit/sweeps.h"
#include "passivity/passivity_sweeps.h"
#include "passivity/suppression.h"
#include "passivity/yz_correction.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using C = std::complex<double>;

std::unique_ptr<cCfit> Fitter() {
  return std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
}

// An n-port model of data type `type` with empty lists and the given
// constants; data of two points make the fitter hold data too.
FittedModel& Model(cCfit& f, int n, int type, bool symmetric = true) {
  f.BeginData(n, type, nullptr);
  std::vector<double> storage(2 * n * n, 0.0);
  std::vector<double*> rows(n);
  for (int i = 0; i < n; ++i) rows[i] = storage.data() + 2 * n * i;
  for (double freq : {1e6, 2e6}) {
    DataPointRecord r{freq, rows.data()};
    f.AddDataPoint(&r);
  }
  f.EndData();
  FitterState& s = f.state();
  s.network.symmetric = symmetric;
  s.model = std::make_unique<FittedModel>();
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  s.model->n = n;
  s.model->constant.assign(nn, 0.0);
  s.model->proportional.assign(nn, 0.0);
  s.model->delay.assign(nn, 0.0);
  s.model->elementPoles.assign(nn, PoleList{});
  return *s.model;
}

PoleTerm Term(double re, double im, C residue) {
  PoleTerm t(1);
  t.SetPole(re, im);
  t.SetResidue00({residue.real(), residue.imag()});
  return t;
}

PassivityCurve Curve(std::vector<std::pair<double, double>> points) {
  PassivityCurve c;
  for (auto [f, m] : points) c.push_back({f, m, {}});
  return c;
}

TEST(YZParams, ResponseTypeFollowsTheBand) {
  Sp sp;
  // Left end at 0 Hz: type 0.
  FindYZParams(Curve({{0, 1.2}, {1e9, 1.3}, {2e9, 0.5}}), {0, 1, 2}, true, &sp);
  EXPECT_EQ(sp.type, 0);
  // Right end at the infinite-frequency point, left end inside: type 3.
  FindYZParams(Curve({{0, 0.5}, {1e9, 0.9}, {2e9, 1.3}, {kInfiniteFrequency, 1.3}}), {1, 3, 3},
               true, &sp);
  EXPECT_EQ(sp.type, 3);
  EXPECT_EQ(sp.A1, -sp.C);
  // A band ratio g = r^2 of exactly 5: type 2 with g raised to 6.
  const double r = std::sqrt(5.0);
  FindYZParams(Curve({{0, 0.5}, {1e9, 0.9}, {1e9 * r, 1.01}, {2e9 * r, 0.9}, {3e10, 0.5}}),
               {1, 2, 3}, false, &sp);
  EXPECT_EQ(sp.type, 2);
  const double x = 6.0 + 1.0 / 6.0 - 4.0;
  const double y = std::sqrt((x + std::sqrt(x * x - 4.0)) / 2.0);
  EXPECT_NEAR(sp.al, 1e9 * r * y, 1e-3);
  // A narrow band: type 1, and the corrected band is passive.
  const PassivityCurve narrow =
      Curve({{0, 0.5}, {1e9, 0.99}, {1.1e9, 1.2}, {1.2e9, 0.99}, {3e9, 0.5}});
  FindYZParams(narrow, {1, 2, 3}, true, &sp);
  EXPECT_EQ(sp.type, 1);
  for (int k = 1; k <= 3; ++k) {
    EXPECT_LE(narrow[k].measure - YZCorrectionReal(sp, narrow[k].frequency), 1.0);
  }
}

TEST(YZCorrection, ModelTermsHaveTheResponseAsTheirRealPart) {
  for (int type = 0; type < 4; ++type) {
    auto f = Fitter();
    FittedModel& m = Model(*f, 1, kY);
    m.constant[0] = 2.0;  // passive, G = 2 > 0
    m.elementPoles[0].push_back(Term(1e12, 0.0, 0.0));
    const Sp sp{0.3, 0.2, 0.1, 1e9, 3e9, type};
    ASSERT_TRUE(ApplyYZToModel(f->state(), sp, 1e9));
    for (double freq : {1e7, 5e8, 2e9, 1e10}) {
      const Complex h = EvaluateElement(f->state(), 0, 0, freq);
      EXPECT_NEAR(h.re - 2.0, YZCorrectionReal(sp, freq), 1e-12) << type << " " << freq;
      const Complex v = YZCorrectionValue(sp, freq);
      EXPECT_NEAR(v.re, YZCorrectionReal(sp, freq), 1e-12);
      EXPECT_NEAR(h.im, v.im, 1e-12);
    }
  }
}

TEST(YZCorrection, SmallWeightsAreSkippedFromThreePortsOn) {
  // Real part diag(1, 2, 3) and 0.5 coupling of ports 1 and 3: the weakest
  // direction is spread over ports 1 and 3; port 2's weights are tiny.
  auto f = Fitter();
  FittedModel& m = Model(*f, 3, kZ);
  m.constant = {1, 0, 0.5, 0, 2, 0, 0.5, 0, 3};
  m.elementPoles[0].push_back(Term(1e12, 0.0, 0.0));
  ASSERT_TRUE(ApplyYZToModel(f->state(), Sp{0, 0.1, 0, 1e9, 0, 0}, 1e9));
  EXPECT_EQ(m.elementPoles[m.Index(1, 0)].size(), 0u);
  EXPECT_EQ(m.elementPoles[m.Index(1, 1)].size(), 0u);
  EXPECT_EQ(m.elementPoles[m.Index(2, 0)].size(), 1u);
  EXPECT_EQ(m.elementPoles[m.Index(0, 1)].size(), 0u);  // upper triangle: never written
  auto g = Fitter();
  FittedModel& two = Model(*g, 2, kZ);
  two.constant = {1, 0, 0, 3};
  two.elementPoles[0].push_back(Term(1e12, 0.0, 0.0));
  ASSERT_TRUE(ApplyYZToModel(g->state(), Sp{0, 0.1, 0, 1e9, 0, 0}, 1e9));
  EXPECT_EQ(two.elementPoles[two.Index(1, 0)].size(), 1u);  // weight 0, still written
  EXPECT_EQ(two.elementPoles[two.Index(1, 1)].size(), 1u);
}

TEST(Suppression, ClosedFormsEqualTheSquaredFactor) {
  const double s = 1.3;
  const Sp type0{1.0, 1.0 / s - 1.0, -std::pow(1.0 - std::sqrt(1.0 / s), 2), 2e9, 2e9, 0};
  const Sp type1{1.0, 0.0, (2.0 / 5.0) * (1.0 / s - 1.0), 1e9, 5e9, 1};
  const double a1 = 1.0 - 1.0 / s;
  const Sp type2{1.0 / s, a1, 2.0 * std::sqrt(1.0 - a1) + a1 - 2.0, 3e9, 3e9, 2};
  for (const Sp& sp : {type0, type1, type2}) {
    for (double f : {0.0, 1e8, 1e9, 3e9, 7e9, 1e11}) {
      const double direct = std::norm(C(SuppressionValue(sp, f).re, SuppressionValue(sp, f).im));
      EXPECT_NEAR(SuppressionFactor(sp, f), direct, 1e-12 * direct) << sp.type << " " << f;
    }
  }
}

TEST(Suppression, UnknownTypeIsAnInternalFault) {
  ::testing::internal::CaptureStderr();
  EXPECT_THROW(SuppressionFactor(Sp{1, 0, 0, 1e9, 1e9, 7}, 1e9), InternalFault);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("FATAL ERROR\nLine:"), std::string::npos);
}

TEST(ModifyPoleByMult, ReproducesTheProductOnRandomModels) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 20; ++trial) {
    auto f = Fitter();
    FittedModel& m = Model(*f, 1, kS);
    m.constant[0] = u(rng);
    for (int k = 0; k < 6; ++k) {
      const double re = std::pow(10.0, 8 + 2 * std::fabs(u(rng)));
      if (k % 2 == 0) {
        m.elementPoles[0].push_back(Term(re, 0.0, u(rng)));
      } else {
        m.elementPoles[0].push_back(Term(re, -re * 10 * std::fabs(u(rng)), C(u(rng), u(rng))));
      }
    }
    const Sp sp{0.8 + 0.2 * u(rng),   0.3 * u(rng),         0.3 * u(rng),
                1e9 * (1.5 + u(rng)), 2e9 * (1.5 + u(rng)), 1};
    std::vector<Complex> before;
    const std::vector<double> freqs = {0.0, 1e7, 3e8, 1e9, 2.5e9, 1e10, 1e11};
    for (double freq : freqs) {
      before.push_back(EvaluateElement(f->state(), 0, 0, freq) * SuppressionValue(sp, freq));
    }
    testing::LogCapture log;
    ASSERT_TRUE(ModifyPoleByMult(f->state(), 0, 0, sp, RunContext()));
    EXPECT_EQ(log.text(), "");  // the self-check passed
    for (std::size_t k = 0; k < freqs.size(); ++k) {
      const Complex after = EvaluateElement(f->state(), 0, 0, freqs[k]);
      EXPECT_LT(Abs(after - before[k]), 1e-10 * std::max(1.0, Abs(before[k]))) << trial;
    }
  }
}

TEST(FindSupParams, DominantColumnOrWholeRow) {
  auto f = Fitter();
  Model(*f, 2, kS);
  PassivityCurve curve;
  for (double freq : {0.0, 1e9, 2e9, 3e9, 4e9}) {
    PassivityPoint p{freq, 0.0, {0.2, 0.2}};
    if (freq == 2e9) p.values = {1.0, 0.2};
    p.measure = p.values[0] + p.values[1];
    curve.push_back(p);
  }
  Sp sp;
  testing::LogCapture log;
  EXPECT_EQ(FindSupParams(curve, {1, 2, 3}, &sp, RunContext()), 0);
  EXPECT_NE(log.text().find("1-th iteration in FindSupParams; type = 1\n"), std::string::npos);
  for (int k = 1; k <= 3; ++k) {
    const PassivityPoint& p = curve[k];
    EXPECT_LE(p.measure + (SuppressionFactor(sp, p.frequency) - 1.0) * p.values[0], 1.0);
  }
  // The rest of the row exceeds 0.5 somewhere: no dominant column.
  curve[4].values = {0.1, 0.6};
  curve[4].measure = 0.7;
  EXPECT_EQ(FindSupParams(curve, {1, 2, 3}, &sp, RunContext()), -1);
}

TEST(EnforceModelPassivity, PassiveModelGetsBannerAndTimestampsOnly) {
  auto f = Fitter();
  FittedModel& m = Model(*f, 1, kS);
  m.constant[0] = 0.2;
  m.elementPoles[0].push_back(Term(1e9, 0.0, 0.3));
  testing::LogCapture log;
  EXPECT_EQ(f->EnforceModelPassivity(1.0), 1);
  EXPECT_TRUE(std::regex_match(
      log.text(), std::regex("\n \\*{42}\n \\*{13} Passivity enforcement \\*{6}\n \\*{42}\n"
                             " Enforce passivity start: [^\n]+\n"
                             " Enforce passivity   end: [^\n]+\n")))
      << log.text();
}

TEST(EnforceModelPassivity, PeakOfExactlyOneIsNotCorrected) {
  auto f = Fitter();
  FittedModel& m = Model(*f, 1, kS);
  m.elementPoles[0].push_back(Term(1e9, 0.0, 1.0));  // |H| = 1 at 0 Hz
  testing::LogCapture log;
  EXPECT_EQ(f->EnforceModelPassivity(0.99), 0);  // never passive at this threshold
  EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Unable to enforce post-fit passivity");
  EXPECT_EQ(log.text().find("-th try"), std::string::npos);
  // The row curves hold at their fixed threshold 1; the global loop spends
  // its 20 tries writing result lines only.
  const std::string text = log.text();
  int lines = 0;
  for (std::size_t at = text.find(" Global correction done at: "); at != std::string::npos;
       at = text.find(" Global correction done at: ", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 20);
  EXPECT_EQ(m.elementPoles[0].size(), 1u);
}

TEST(EnforceModelPassivity, WithoutAModelOrWithAnotherTypeFails) {
  auto f = Fitter();
  testing::LogCapture log;
  EXPECT_EQ(f->EnforceModelPassivity(1.0), 0);
  EXPECT_NE(log.text().find(" ************* Passivity enforcement ******\n"), std::string::npos);
  EXPECT_NE(f->GetErrorMessage(), nullptr);
  auto g = Fitter();
  FittedModel& m = Model(*g, 2, kABCD);
  m.elementPoles[0].push_back(Term(1e9, 0.0, 1.0));
  EXPECT_EQ(g->EnforceModelPassivity(1.0), 0);
  EXPECT_STREQ(g->GetErrorMessage(), "We only support S-Y-Z parameter types");
}

TEST(EnforceModelPassivity, SharedPolesBecomeElementListsWithTheSameValues) {
  auto f = Fitter();
  Model(*f, 2, kS);
  FitterState& s = f->state();
  s.settings.individualPoles = false;
  s.model->shape = PoleShape::kCommon;
  PoleTerm shared(2);
  shared.SetPole(1e9, -2e9);
  shared.SetResidue(0, 0, {0.2, 0.1});
  shared.SetResidue(1, 0, {0.1, 0.0});
  shared.SetResidue(0, 1, {0.1, 0.0});
  shared.SetResidue(1, 1, {0.3, -0.1});
  s.model->commonPoles = {shared};
  const Complex before = EvaluateElement(s, 1, 0, 1.7e9);
  ConvertSharedPoles(s);
  EXPECT_TRUE(s.settings.individualPoles);
  EXPECT_TRUE(s.model->commonPoles.empty());
  const Complex after = EvaluateElement(s, 1, 0, 1.7e9);
  EXPECT_NEAR(after.re, before.re, 1e-15);
  EXPECT_NEAR(after.im, before.im, 1e-15);
}

TEST(EnforceModelPassivity, NonPassiveFitsEndPassive) {
  // A 2-port S model that overshoots around 2 GHz.
  auto f = Fitter();
  FittedModel& m = Model(*f, 2, kS);
  m.constant = {0.1, 0.0, 0.0, 0.1};
  m.elementPoles[m.Index(0, 0)].push_back(Term(2e8, -2e9, C(0.5, 0.0)));
  m.elementPoles[m.Index(1, 0)].push_back(Term(2e8, -2e9, C(0.7, 0.1)));
  m.elementPoles[m.Index(1, 1)].push_back(Term(2e8, -2e9, C(0.5, 0.0)));
  double before = 0, where = 0;
  testing::LogCapture log;
  ASSERT_EQ(f->CheckModelPassivity(&before, &where), 1);
  ASSERT_GT(before, 1.0);
  EXPECT_EQ(f->EnforceModelPassivity(1.0), 1) << (f->GetErrorMessage() ? f->GetErrorMessage() : "");
  double after = 0;
  ASSERT_EQ(f->CheckModelPassivity(&after, &where), 1);
  EXPECT_LE(after, 1.0 + 1e-3);
  EXPECT_NE(log.text().find("-th try in EnforceComponentPassivity\n"), std::string::npos);
}

TEST(EnforceDataPassivity, SAndYDataEndPassive) {
  auto f = Fitter();
  const int n = 2;
  f->BeginData(n, kS, nullptr);
  std::vector<double> storage(2 * n * n);
  double* rows[2] = {storage.data(), storage.data() + 4};
  for (int k = 0; k < 40; ++k) {
    const double freq = 1e8 * (k + 1);
    const double bump = 1.0 + 0.3 * std::exp(-std::pow((k - 20) / 4.0, 2));
    rows[0][0] = 0.1 * bump, rows[0][1] = 0.0, rows[0][2] = 0.9 * bump, rows[0][3] = 0.1;
    rows[1][0] = 0.9 * bump, rows[1][1] = 0.1, rows[1][2] = 0.1 * bump, rows[1][3] = 0.0;
    DataPointRecord r{freq, rows};
    ASSERT_TRUE(f->AddDataPoint(&r));
  }
  f->EndData();
  testing::LogCapture log;
  double m = 0, at = 0;
  ASSERT_EQ(f->CheckDataPassivity(&m, &at), 1);
  ASSERT_GT(m, 1.0);
  EXPECT_EQ(f->EnforceDataPassivity(1.0), 1);
  ASSERT_EQ(f->CheckDataPassivity(&m, &at), 1);
  EXPECT_LE(m, 1.0);
  EXPECT_NE(log.text().find("-th try in PriorEnforceGlobalPassivity\n"), std::string::npos);

  // Y data whose real part dips below zero at one frequency.
  auto y = Fitter();
  y->BeginData(1, kY, nullptr);
  double row[2];
  double* yrows[1] = {row};
  for (int k = 0; k < 40; ++k) {
    row[0] = 0.02 - 0.05 * std::exp(-std::pow((k - 20) / 3.0, 2));
    row[1] = 1e-3 * k;
    DataPointRecord r{1e8 * (k + 1), yrows};
    ASSERT_TRUE(y->AddDataPoint(&r));
  }
  y->EndData();
  EXPECT_EQ(y->EnforceDataPassivity(1.0), 1);
  ASSERT_EQ(y->CheckDataPassivity(&m, &at), 1);
  EXPECT_LE(m, 1.0);
  auto none = Fitter();
  EXPECT_EQ(none->EnforceDataPassivity(1.0), 0);
}

}  // namespace
}  // namespace cfit

namespace cfit {
namespace {

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
    double low = 1e300, high = 0.0;
    for (const PoleList& list : s.model->elementPoles) {
      for (const PoleTerm& t : list) {
        low = std::min(low, Abs(t.GetPole()));
        high = std::max(high, Abs(t.GetPole()));
      }
    }
    std::ofstream out(std::string(dump) + "/" + name + ".bin", std::ios::binary);
    const int32_t header[3] = {s.network.portCount, 20000, s.network.dataType};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    const double a = std::log(low / 100.0), b = std::log(high * 100.0);
    for (int k = 0; k < header[1]; ++k) {
      const double freq = std::exp(a + (b - a) * k / (header[1] - 1));
      const PortMatrix p = EvaluatePoint(s, freq);
      out.write(reinterpret_cast<const char*>(&freq), sizeof freq);
      for (int i = 0; i < s.network.portCount; ++i) {
        out.write(reinterpret_cast<const char*>(p.Row(i)),
                  static_cast<std::streamsize>(sizeof(Complex) * s.network.portCount));
      }
    }
  }
}

}  // namespace
}  // namespace cfit
