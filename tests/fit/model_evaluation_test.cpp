// Model evaluation, pole ranges, slot 63 and the model sweeps.
#include "fit/model_evaluation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>

#include "api/cfit_impl.h"
#include "fit/sweeps.h"

namespace cfit {
namespace {

using std::numbers::pi;
using C = std::complex<double>;

std::unique_ptr<cCfit> MakeFitter() {
  return std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
}

// Gives the fitter an individual-pole model of n ports with empty lists.
FittedModel& EmptyModel(cCfit& f, int n, int dataType = 1) {
  f.BeginData(n, dataType, nullptr);
  FitterState& s = f.state();
  s.model = std::make_unique<FittedModel>();
  FittedModel& m = *s.model;
  m.n = n;
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  m.constant.assign(nn, 0.0);
  m.proportional.assign(nn, 0.0);
  m.delay.assign(nn, 0.0);
  m.elementPoles.assign(nn, PoleList{});
  return m;
}

PoleTerm Term(double pRe, double pIm, Complex residue) {
  PoleTerm t(1);
  t.SetPole(pRe, pIm);
  t.SetResidue00(residue);
  return t;
}

void ExpectNear(Complex got, C want, double tol = 1e-13) {
  EXPECT_NEAR(got.re, want.real(), tol * std::max(1.0, std::abs(want)));
  EXPECT_NEAR(got.im, want.imag(), tol * std::max(1.0, std::abs(want)));
}

TEST(EvaluateElement, RealTermWithConstant) {
  auto f = MakeFitter();
  FittedModel& m = EmptyModel(*f, 1);
  m.constant[0] = 0.5;
  m.elementPoles[0].push_back(Term(1e3, 0.0, {2.0, 0.0}));
  ASSERT_TRUE(f->HasFit());
  ExpectNear(EvaluateElement(f->state(), 0, 0, 0.0), 2.5);
  ExpectNear(EvaluateElement(f->state(), 0, 0, 1e3), 0.5 + 2.0 / C(1.0, 1.0));
}

TEST(EvaluateElement, ComplexPairContributesItsResidueOnceAtDc) {
  auto f = MakeFitter();
  FittedModel& m = EmptyModel(*f, 1);
  const double P = 2e9, W = -5e9, R = 0.3;
  m.elementPoles[0].push_back(Term(P, W, {R, 0.0}));
  ExpectNear(EvaluateElement(f->state(), 0, 0, 0.0), R);
  // At f: 1/2 (R / (1 + jf/P) + R / (1 + jf/conj P)).
  const double freq = 3e9;
  const C p(P, W), one(1.0, 0.0), jf(0.0, freq);
  ExpectNear(EvaluateElement(f->state(), 0, 0, freq),
             0.5 * (R / (one + jf / p) + R / (one + jf / std::conj(p))));
}

TEST(EvaluateElement, DelayRotatesAndProportionalTermFollowsTheMode) {
  auto f = MakeFitter();
  FittedModel& m = EmptyModel(*f, 1, 2);  // Y data: asymptote mode 2
  m.constant[0] = 1.0;
  m.proportional[0] = 1e-10;
  m.delay[0] = 1e-9;
  ExpectNear(EvaluateElement(f->state(), 0, 0, 0.0), 1.0);  // no delay, no e at DC
  m.elementPoles[0].push_back(Term(1e3, 0.0, {0.0, 0.0}));
  const double freq = 250e6;  // 2 pi f tau = pi / 2
  ExpectNear(EvaluateElement(f->state(), 0, 0, freq), C(1.0, 0.025) * C(0.0, -1.0), 1e-12);
  f->SetElementAsymptote(1, 0, 0, 0.0);  // mode 1: e plays no part
  ExpectNear(EvaluateElement(f->state(), 0, 0, freq), C(0.0, -1.0), 1e-12);
}

TEST(EvaluateElement, SymmetricMatrixReadsTheLowerTriangle) {
  auto f = MakeFitter();
  FittedModel& m = EmptyModel(*f, 2);
  m.elementPoles[m.Index(1, 0)].push_back(Term(1e9, 0.0, {0.4, 0.0}));
  m.delay[m.Index(1, 0)] = 1e-10;
  m.constant[m.Index(0, 1)] = 0.1;
  m.constant[m.Index(1, 0)] = 0.1;
  f->state().network.symmetric = true;
  const Complex lower = EvaluateElement(f->state(), 1, 0, 2e9);
  EXPECT_EQ(EvaluateElement(f->state(), 0, 1, 2e9), lower);
  f->state().network.symmetric = false;  // now (0, 1) has no terms and no delay
  ExpectNear(EvaluateElement(f->state(), 0, 1, 2e9), 0.1);
}

TEST(EvaluateElement, CommonPolesUseTheResidueMatrixAndNoDelay) {
  auto f = MakeFitter();
  FittedModel& m = EmptyModel(*f, 2);
  m.shape = PoleShape::kCommon;
  PoleTerm pair(2);
  pair.SetPole(1e9, -4e9);
  pair.SetResidue(0, 1, {0.2, 0.1});
  PoleTerm real(2);
  real.SetPole(5e8, 0.0);
  real.SetResidue(0, 1, {0.3, 0.0});
  m.commonPoles = {pair, real};
  m.delay.assign(4, 1e-9);
  ASSERT_TRUE(f->HasFit());
  ExpectNear(EvaluateElement(f->state(), 0, 1, 0.0), 0.5);
  const double freq = 1e9;
  const C one(1.0, 0.0), jf(0.0, freq), p(1e9, -4e9), r(0.2, 0.1);
  const C want = 0.5 * (r / (one + jf / p) + std::conj(r) / (one + jf / std::conj(p))) +
                 0.3 / (one + jf / 5e8);
  ExpectNear(EvaluateElement(f->state(), 0, 1, freq), want);
  ExpectNear(EvaluateElement(f->state(), 1, 0, freq), 0.0);
}

TEST(PoleRange, QuarterOfSmallestRealPartToFourTimesLargestModulus) {
  auto f = MakeFitter();
  FittedModel& m = EmptyModel(*f, 2);
  m.elementPoles[m.Index(0, 0)].push_back(Term(4e8, -3e9, {1.0, 0.0}));
  m.elementPoles[m.Index(0, 1)].push_back(Term(2e9, 0.0, {1.0, 0.0}));
  m.elementPoles[m.Index(1, 1)].push_back(Term(1e6, 0.0, {1.0, 0.0}));
  f->state().network.symmetric = false;
  const PoleBand row0 = PoleRange(f->state(), 0);
  EXPECT_DOUBLE_EQ(row0.low, 1e8);
  EXPECT_DOUBLE_EQ(row0.high, 4 * std::hypot(4e8, 3e9));
  const PoleBand empty = PoleRange(f->state(), 1);  // (1, 0) empty, (1, 1) = 1e6
  EXPECT_DOUBLE_EQ(empty.low, 0.25e6);
}

TEST(EvaluateModelElementOperation, ChecksModelAndIndices) {
  auto f = MakeFitter();
  double value[2] = {1, 1};
  EXPECT_EQ(f->EvaluateModelElement(0, 0, 1e9, value), 0);
  EXPECT_EQ(value[0], -1e99);
  EXPECT_EQ(value[1], -1e99);
  EXPECT_STREQ(f->GetErrorMessage(), "Fitted data not available");
  FittedModel& m = EmptyModel(*f, 2);
  m.elementPoles[0].push_back(Term(1e3, 0.0, {2.0, 0.0}));
  for (auto [i, j] : {std::pair{2, 0}, {0, -1}, {1 << 30, 1}}) {
    EXPECT_EQ(f->EvaluateModelElement(i, j, 1e9, value), 0);
    EXPECT_EQ(value[0], -1e99);
  }
  EXPECT_EQ(f->EvaluateModelElement(0, 0, 0.0, value), 1);
  EXPECT_EQ(value[0], 2.0);
  EXPECT_EQ(value[1], 0.0);
}

class SweepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fitter = MakeFitter();
    FittedModel& m = EmptyModel(*fitter, 2);
    for (int k = 0; k < 4; ++k) m.elementPoles[k].push_back(Term(1e9, 0.0, {0.5 + k, 0.0}));
    fitter->state().network.symmetric = false;
  }
  int Points() const { return fitter->state().network.data->point_count(); }
  std::unique_ptr<cCfit> fitter;
};

TEST_F(SweepTest, LinearGridIncludesTheFirstValueNotBelowStop) {
  EXPECT_EQ(fitter->SweepModelLinear(1e6, 0.0, 1e7), 1);
  EXPECT_EQ(Points(), 11);
  EXPECT_EQ(fitter->state().network.data->back().frequency(), 1e7);
  EXPECT_EQ(fitter->SweepModelLinear(3e6, 0.0, 1e7), 1);
  EXPECT_EQ(Points(), 5);  // 0, 3, 6, 9, 12 MHz
  const PortMatrix& p = fitter->state().network.data->points()[1];
  ExpectNear(p.At(1, 0), 2.5 / C(1.0, 3e6 / 1e9));
}

TEST_F(SweepTest, BadArgumentsKeepTheDataAndRecord45) {
  ASSERT_EQ(fitter->SweepModelLinear(1e6, 0.0, 1e7), 1);
  EXPECT_EQ(fitter->SweepModelLinear(0.0, 0.0, 1e7), 0);
  EXPECT_STREQ(fitter->GetErrorMessage(), "Input parameters to the function are invalid");
  EXPECT_EQ(fitter->SweepModelLinear(1e6, 1e7, 1e7), 0);
  EXPECT_EQ(fitter->SweepModelLinear(1e-3, 0.0, 1e9), 0);  // 1e12 steps
  EXPECT_EQ(fitter->SweepModelLinear(NAN, 0.0, 1e9), 0);
  EXPECT_EQ(fitter->SweepModelAtList(3, nullptr), 0);
  auto empty = MakeFitter();
  EXPECT_EQ(fitter->SweepModelAtDataOf(empty.get()), 0);
  EXPECT_EQ(fitter->SweepModelAtDataOf(nullptr), 0);
  EXPECT_EQ(fitter->SweepModelAdaptive(0.1, INFINITY), 0);
  EXPECT_EQ(Points(), 11);
}

TEST_F(SweepTest, WithoutAModelIsError8) {
  auto f = MakeFitter();
  const double list[1] = {1.0};
  EXPECT_EQ(f->SweepModelAtList(1, list), 0);
  EXPECT_STREQ(f->GetErrorMessage(), "Fitted data not available");
  EXPECT_EQ(f->SweepModelLinear(1.0, 0.0, 2.0), 0);
  EXPECT_EQ(f->SweepModelAdaptive(0.1, 1e9), 0);
  EXPECT_FALSE(f->HasSampledData());
}

TEST_F(SweepTest, ListAndOtherFittersFrequencies) {
  const double list[4] = {1e6, 5e6, 2e6, 9e6};  // 2e6 is out of order and skipped
  EXPECT_EQ(fitter->SweepModelAtList(4, list), 1);
  EXPECT_EQ(Points(), 3);
  auto other = MakeFitter();
  other->BeginData(1, 1, nullptr);
  double row[2] = {0, 0};
  double* rows[1] = {row};
  DataPointRecord r{0.0, rows};
  for (double freq : {1.0, 2.0, 3.0, 4.0}) {
    r.frequency = freq;
    other->AddDataPoint(&r);
  }
  EXPECT_EQ(fitter->SweepModelAtDataOf(other.get()), 1);
  EXPECT_EQ(Points(), 4);
  EXPECT_EQ(fitter->state().network.data->back().frequency(), 4.0);
}

TEST_F(SweepTest, AdaptiveGridGrowsItsStepOnlyWithinTheBound) {
  const double t = 0.2;  // g = 10, G = 10^0.1
  const double stop = 1e11;
  ASSERT_EQ(fitter->SweepModelAdaptive(t, stop), 1);
  const auto& points = fitter->state().network.data->points();
  ASSERT_GT(points.size(), 10u);
  const double h0 = t * 0.25 * 1e9;
  EXPECT_DOUBLE_EQ(points[0].frequency(), h0);
  EXPECT_GE(points.back().frequency(), stop);
  const double bound = std::pow(10.0, 0.1) - 1.0;  // about 0.259
  for (std::size_t k = 2; k < points.size(); ++k) {
    const double h = points[k].frequency() - points[k - 1].frequency();
    const double previous = points[k - 1].frequency() - points[k - 2].frequency();
    if (h > previous * 1.000001) {
      // Growth by 1.4 happens only while the step is below the bound.
      EXPECT_NEAR(h / previous, 1.4, 1e-9);
      EXPECT_LT(previous, bound * points[k - 1].frequency() * 1.000001);
    }
  }
  // A step above the smallest one never changes the model by more than t.
  for (std::size_t k = 1; k < points.size(); ++k) {
    if (points[k].frequency() - points[k - 1].frequency() <= h0 * 1.000001) continue;
    const PortMatrix& a = points[k - 1];
    const PortMatrix& b = points[k];
    double sum = 0.0;
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j)
        sum += std::norm(C(b.At(i, j).re - a.At(i, j).re, b.At(i, j).im - a.At(i, j).im));
    EXPECT_LE(std::sqrt(sum), t * 1.000001);
  }
}

TEST_F(SweepTest, SymmetricModelFillsTheUpperTriangleFromTheLowerOne) {
  fitter->state().network.symmetric = true;
  ASSERT_EQ(fitter->SweepModelLinear(1e8, 1e8, 1e9), 1);
  for (const PortMatrix& p : fitter->state().network.data->points()) {
    EXPECT_EQ(p.At(0, 1), p.At(1, 0));
    EXPECT_NE(p.At(0, 1), Complex(0.0, 0.0));
  }
}

TEST_F(SweepTest, AdaptiveSweepStartsAtZeroWhenAsked) {
  fitter->state().settings.addZeroHzPoint = true;
  ASSERT_EQ(fitter->SweepModelAdaptive(0.5, 1e10), 1);
  EXPECT_EQ(fitter->state().network.data->front().frequency(), 0.0);
  ExpectNear(fitter->state().network.data->front().At(1, 1), 3.5);
  ASSERT_EQ(fitter->SweepModelAdaptive(0.5, -1.0), 1);  // stop below the first point
  EXPECT_EQ(Points(), 1);
}

}  // namespace
}  // namespace cfit
