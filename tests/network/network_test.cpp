// The network subsystem: S/Y/Z/ABCD conversion of the held data (refusals,
// singular points, impedances, the lowest-point transfer; the conversions
// themselves are cross-checked against scikit-rf on every real file by
// skrf_crosscheck.py from the dump at the end), and the two rewrites of
// caller-defined models, checked through EvaluateModelElement against the
// closed form of their terms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "network/model_access.h"
#include "network/network_support.h"
#include "network/type_conversion.h"

namespace cfit {
namespace {

using std::numbers::pi;
using namespace testing;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

void ExpectNear(C got, C want, double tol = 1e-13) {
  EXPECT_LE(std::abs(got - want), tol * std::max(1.0, std::abs(want))) << got << " vs " << want;
}

TEST(ConvertDataType, RefusalsComeInOrderAndChangeNothing) {
  auto fresh = NewFitter();
  EXPECT_EQ(fresh->ConvertDataType(0), 1);  // the type already held: 1 even without data
  EXPECT_EQ(fresh->ConvertDataType(1), 0);  // held type 0 is not S, Y or Z
  EXPECT_EQ(Message(*fresh), "Cannot transform from/into given data types");
  struct Case {
    int ports, type, target;
    double z;  // the last port's impedance
    const char* message;
  };
  const char* types = "Cannot transform from/into given data types";
  const char* abcd = "Conversion to ABCD for 2-port parameters only";
  const char* impedance = "Invalid characteristic impedance";
  for (const Case& c :
       {Case{3, kS, 5, 50, types}, Case{3, kS, 0, 50, types}, Case{3, kS, 4, 50, abcd},
        Case{2, kY, 4, 50, abcd}, Case{2, kABCD, 1, 50, types}, Case{2, kPulse, 1, 50, types},
        Case{2, kS, kY, 0.0, impedance}, Case{2, kS, kZ, -50.0, impedance},
        Case{2, kS, kY, kNaN, impedance},
        Case{2, kS, kY, std::numeric_limits<double>::infinity(), impedance}}) {
    auto f = NewFitter();
    const CMatrix m(static_cast<std::size_t>(c.ports * c.ports), C(0.1, 0.05));
    std::vector<double> z0(c.ports, 50.0);
    z0.back() = c.z;
    LoadData(*f, c.ports, c.type, z0, {m});
    f->state().session.dataMargins.points.resize(3);
    EXPECT_EQ(f->ConvertDataType(c.target), 0);
    EXPECT_EQ(Message(*f), c.message) << c.type << " to " << c.target << ", " << c.z << " ohm";
    EXPECT_EQ(f->GetDataType(), c.type);
    EXPECT_EQ(PointValues(*f, 0), m);
    EXPECT_TRUE(c.z != 50 || f->state().session.dataMargins.points.size() == 3u);
  }
}

TEST(ConvertDataType, WithoutDataOnlyTheTypeOfAFittedModelChanges) {
  auto f = NewFitter();
  ASSERT_EQ(f->DefineModel(1, kS, nullptr, false), 1);  // a model without poles, no data
  f->state().session.dataMargins.points.resize(2);
  f->state().workspace.fit.working.resize(4);
  EXPECT_EQ(f->ConvertDataType(kY), 0);
  EXPECT_EQ(Message(*f), "No sampled data available");
  EXPECT_TRUE(f->state().session.dataMargins.points.empty() &&
              f->state().workspace.fit.working.empty());
  EXPECT_EQ(f->GetDataType(), kS);

  auto g = NewFitter();
  ASSERT_EQ(g->DefineModel(1, kS, nullptr, false), 1);
  const double pole[] = {1e9, 0.0}, residue[] = {0.5, 0.0};
  ASSERT_EQ(g->SetElementModel(0, 0, 1, 0.25, 1e-12, 0.0, pole, residue), 1);
  double before[2], after[2];
  ASSERT_EQ(g->EvaluateModelElement(0, 0, 2e9, before), 1);
  EXPECT_TRUE(g->ConvertDataType(kY) == 1 && g->GetDataType() == kY);
  EXPECT_EQ(g->state().network.elements->AsymptoteModeAt(0, 0), kConstantAndProportional);
  // The model is unchanged; the Y table now counts its proportional term.
  ASSERT_EQ(g->EvaluateModelElement(0, 0, 2e9, after), 1);
  EXPECT_EQ(after[0], before[0]);
  EXPECT_DOUBLE_EQ(after[1], before[1] + 2e9 * 1e-12);
}

// Singular points keep the solver's output (zero), whatever the working
// storage held before: it is filled with NaN first. S21 = 0 has no chain
// matrix: NaN, and no error. Each case logs the count of singular points.
TEST(ConvertDataType, SingularPointsKeepTheSolverOutputAndAreLogged) {
  struct Case {
    int n, from, to;
    std::vector<CMatrix> points, want;  // NaN: every value NaN
    int of;                             // points, the first of them singular
  };
  const CMatrix through = {C(0.0), C(1.0), C(1.0), C(0.0)}, unit = {C(1.0), 0, 0, C(1.0)};
  for (const Case& c : std::vector<Case>{
           {1, kS, kY, {{C(-1.0)}, {C(0.5)}}, {{C(0.0)}, {C(0.5 / 1.5 / 50.0)}}, 2},
           {2, kS, kY, {{C(-1.0), 0, 0, C(0.5)}}, {{0, 0, 0, C(0.5 / 1.5 / 50.0)}}, 1},
           {3, kY, kZ, {CMatrix(9)}, {CMatrix(9)}, 1},
           {2, kS, kABCD, {{C(0.2), 0, 0, C(0.1)}, through}, {CMatrix(4, kNaN), unit}, 2}}) {
    auto f = NewFitter();
    LoadData(*f, c.n, c.from, std::vector<double>(c.n, 50.0), c.points);
    FitterState& s = f->state();
    ASSERT_TRUE(s.EnsureWorkingSet(2 * c.n, 2 * c.n));
    WorkingSet& w = s.workspace.work;
    std::fill(w.columns(), w.columns() + static_cast<std::size_t>(w.max_rows()) * w.max_cols(),
              kNaN);
    for (double* v : {w.rhs(), w.c(), w.d(), w.work()}) std::fill(v, v + 2 * c.n, kNaN);
    s.workspace.conversionRhs.assign(static_cast<std::size_t>(c.n) * c.n, Complex(kNaN, kNaN));
    testing::LogCapture log;
    ASSERT_EQ(f->ConvertDataType(c.to), 1);
    EXPECT_EQ(f->GetErrorMessage(), nullptr);
    for (std::size_t k = 0; k < c.want.size(); ++k) {
      const CMatrix got = PointValues(*f, static_cast<int>(k));
      for (std::size_t e = 0; e < got.size(); ++e) {
        EXPECT_TRUE(std::isnan(c.want[k][e].real())
                        ? std::isnan(got[e].real()) && std::isnan(got[e].imag())
                        : std::abs(got[e] - c.want[k][e]) <= 1e-15)
            << k << " " << e << " " << got[e];
      }
    }
    EXPECT_EQ(log.text(), "\n*** Data type conversion: singular matrix at 1 of " +
                              std::to_string(c.of) + " points, first at 1e+09 Hz ***\n");
  }
}

// S of a 2-port from its Z matrix by the textbook formula for real, unequal
// reference impedances (not the Cayley route the library takes).
TEST(LowestPointTransfer, YAndZDataGiveTheTransferOfTheirSMatrix) {
  const double z01 = 50.0, z02 = 12.5;
  const CMatrix z = {C(30.0, 12.0), C(8.0, -3.0), C(45.0, 20.0), C(22.0, -7.0)};
  const C delta = (z[0] + z01) * (z[3] + z02) - z[1] * z[2], det = z[0] * z[3] - z[1] * z[2];
  const C s12 = 2.0 * z[1] * std::sqrt(z01 * z02) / delta, s21 = s12 * z[2] / z[1];
  for (int type : {kY, kZ}) {
    auto f = NewFitter();
    const CMatrix first =
        type == kZ ? z : CMatrix{z[3] / det, -z[1] / det, -z[2] / det, z[0] / det};
    LoadData(*f, 2, type, {z01, z02}, {first, {C(1.0), C(2.0), C(3.0), C(4.0)}});
    double m21 = -1.0, m12 = -1.0;
    ASSERT_TRUE(f->GetLowestPointTransfer(1, 0, &m21) && f->GetLowestPointTransfer(0, 1, &m12));
    EXPECT_TRUE(std::abs(m21 - std::abs(s21)) < 1e-14 && std::abs(m12 - std::abs(s12)) < 1e-14)
        << type << ": " << m21 << " " << m12;
    // Only a copy was converted.
    EXPECT_TRUE(PointValues(*f, 0) == first && f->GetDataType() == type);
  }
}

// Element terms: two real poles and a pair.
const std::vector<Term> kTerms = {
    {C(2e9, 0.0), C(0.4, 0.0)}, {C(1e9, -6e9), C(0.3, -0.2)}, {C(5e8, 0.0), C(-0.1, 0.0)}};

C Evaluate(cCfit& f, int i, int j, double freq) {
  double v[2] = {0.0, 0.0};
  EXPECT_EQ(f.EvaluateModelElement(i, j, freq, v), 1);
  return {v[0], v[1]};
}

// A 1-port model of `type` with the terms kTerms and the constant 0.05.
std::unique_ptr<cCfit> PulseModel(int type = kPulse) {
  auto f = NewFitter();
  EXPECT_EQ(f->DefineModel(1, type, nullptr, false), 1);
  EXPECT_EQ(SetTerms(*f, 0, 0, kTerms, 0.05, 0.0), 1);
  return f;
}

// With a width T the residues become r scale q / (1 - exp(-q T)), q = 2 pi p;
// for tiny x = q T the series (1 + x / 2 + x^2 / 12) / T is exact to rounding
// where the direct quotient would lose digits; T = 0 takes r scale.
TEST(PulseModel, ResiduesTakeTheScaleAndThePulseSpectrumAtTheirPole) {
  for (auto [width, scale, delay] :
       {std::tuple{0.0, 2.0, -1.0}, std::tuple{2e-10, 1.5, 3e-11}, std::tuple{1e-16, 1.5, 3e-11}}) {
    SCOPED_TRACE(width);
    auto g = PulseModel();
    ASSERT_TRUE(g->ConvertPulseModelToS(width, scale, delay) == 3 && g->GetDataType() == kS);
    double p[6], r[6], d, tau;
    int count;
    ASSERT_EQ(g->GetElementPolesResidues(0, 0, p, r), 3);
    for (int k = 0; k < 3; ++k) {
      const C x = 2.0 * pi * kTerms[k].pole * width;
      const C factor = width == 0.0         ? 1.0
                       : std::abs(x) < 1e-5 ? (1.0 + x / 2.0 + x * x / 12.0) / width
                                            : x / width / (1.0 - std::exp(-x));
      C want = scale * kTerms[k].residue * factor;
      if (kTerms[k].pole.imag() == 0.0) want.imag(0.0);
      ExpectNear(C(r[2 * k], r[2 * k + 1]), want, 1e-12);
      EXPECT_EQ(p[2 * k], kTerms[k].pole.real());
    }
    ASSERT_EQ(g->GetElementModelInfo(0, 0, &count, &d, nullptr, &tau), 1);
    // A delay <= 0 is ignored; the constants stay.
    EXPECT_TRUE(tau == std::max(delay, 0.0) && d == 0.05) << tau << " " << d;
  }
  // A pole at 0 takes the limit 1 / T of the factor.
  auto z = NewFitter();
  ASSERT_EQ(z->DefineModel(1, kPulse, nullptr, false), 1);
  const double zeroPole[] = {0.0, 0.0}, one[] = {1.0, 0.0};
  ASSERT_EQ(z->SetElementModel(0, 0, 1, 0.0, 0.0, 0.0, zeroPole, one), 1);
  ASSERT_EQ(z->ConvertPulseModelToS(1e-9, 1.0, 0.0), 1);
  double p[2], r[2];
  ASSERT_EQ(z->GetElementPolesResidues(0, 0, p, r), 1);
  EXPECT_DOUBLE_EQ(r[0], 1e9);
}

TEST(MultiplyByFrequency, TheModelIsMultipliedByJTwoPiFactorF) {
  // Y data, so that the proportional term counts in the evaluation.
  for (double closing : {0.0, 3e9}) {
    SCOPED_TRACE(closing);
    auto f = PulseModel(kY);
    const double factor = 2e-11, k = 2.0 * pi * factor, freqs[] = {1e7, 8e8, 2.2e9, 9e9};
    std::vector<C> before;
    for (double freq : freqs) before.push_back(Evaluate(*f, 0, 0, freq));
    ASSERT_EQ(f->MultiplyModelByFrequency(closing, factor), 1);
    // c = sum Re(k P R) over the original terms; with a closing pole it
    // becomes the first term, c / (1 + j f / closing), in place of the constant.
    C c = 0.0;
    for (const Term& t : kTerms) {
      c += (k * t.pole * (t.pole.imag() == 0.0 ? C(t.residue.real()) : t.residue)).real();
    }
    for (std::size_t n = 0; n < std::size(freqs); ++n) {
      C want = C(0.0, k * freqs[n]) * before[n];
      if (closing != 0.0) want += -c + c / (1.0 + C(0.0, freqs[n]) / closing);
      ExpectNear(Evaluate(*f, 0, 0, freqs[n]), want, 1e-12);
    }
  }
}

// Every real Touchstone file that reads, converted in every direction with
// unequal impedances (the file's times 1, 1.3, 1.6, 1.9, 1, ...). Each
// conversion is dumped for the scikit-rf cross-check: int32 from, to, ports,
// points; then doubles: the impedances, the input values and the output
// values (re, im pairs, row by row, point by point).
TEST(RealFileConversions, EveryFileConvertsInEveryDirection) {
  int converted = 0;
  for (const auto& path : RealFiles()) {
    const auto fitter = ReadAsWritten(path);
    if (fitter == nullptr) continue;
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    const Network& held = fitter->state().network;
    std::vector<double> z0;
    for (int k = 0; k < held.portCount; ++k)
      z0.push_back(held.impedances->at(0) * (1 + 0.3 * (k % 4)));
    const auto run = [&](const SampledData& input, int from, int to, const char* tag = "") {
      auto f = NewFitter();
      f->BeginData(input.port_count(), from, z0.data());
      f->state().ReplaceData(input);
      EXPECT_EQ(f->ConvertDataType(to), 1);
      const SampledData& output = *f->state().network.data;
      Dump(name + tag + "." + std::to_string(from) + std::to_string(to))
          .Write(std::vector<std::int32_t>{from, to, input.port_count(), input.point_count()})
          .Write(z0)
          .Write(input)
          .Write(output);
      return output;
    };
    // Y or Z files are first brought to S (dumped apart from the later Z -> S).
    const SampledData sData =
        held.dataType == kS ? *held.data : run(*held.data, held.dataType, kS, ".as-read");
    const SampledData y = run(sData, kS, kY), z = run(sData, kS, kZ);
    for (auto [data, from, to] : {std::tuple{&y, kY, kS}, std::tuple{&z, kZ, kS},
                                  std::tuple{&y, kY, kZ}, std::tuple{&z, kZ, kY}}) {
      run(*data, from, to);
    }
    if (held.portCount == 2) run(sData, kS, kABCD);
    ++converted;
  }
  if (RealFiles().empty()) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  EXPECT_GE(converted, 25);
}

}  // namespace
}  // namespace cfit
