// Model evaluation where it differs from the caller-defined closed forms
// (common poles, the symmetric lower triangle, the asymptote mode), and the
// model sweeps.
#include "fit/model_evaluation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>

#include "api/cfit_impl.h"
#include "fit/sweeps.h"

namespace cfit {
namespace {

using C = std::complex<double>;

std::unique_ptr<cCfit> MakeFitter() {
  return std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
}

// Gives the fitter an individual-pole model of n ports with one real term
// per element (pole 1e9, residue 0.5 + element index), not symmetric.
FittedModel& Model(cCfit& f, int n, int dataType = 1) {
  f.BeginData(n, dataType, nullptr);
  f.state().model = std::make_unique<FittedModel>();
  FittedModel& m = *f.state().model;
  m.n = n;
  m.constant.assign(n * n, 0.0), m.proportional.assign(n * n, 0.0), m.delay.assign(n * n, 0.0);
  m.elementPoles.assign(n * n, PoleList(1, PoleTerm(1)));
  for (int k = 0; k < n * n; ++k) {
    m.elementPoles[k][0].SetPole(1e9, 0.0);
    m.elementPoles[k][0].SetResidue00({0.5 + k, 0.0});
  }
  f.state().network.symmetric = false;
  return m;
}

void ExpectNear(Complex got, C want, double tol = 1e-13) {
  EXPECT_LE(std::abs(C(got.re, got.im) - want), tol * std::max(1.0, std::abs(want))) << want;
}

TEST(EvaluateElement, CommonPolesSymmetryAndTheAsymptoteMode) {
  auto f = MakeFitter();
  FittedModel& m = Model(*f, 2);
  m.shape = PoleShape::kCommon;  // the residue matrix, no delay
  m.commonPoles.assign(2, PoleTerm(2));
  m.commonPoles[0].SetPole(1e9, -4e9);
  m.commonPoles[0].SetResidue(0, 1, {0.2, 0.1});
  m.commonPoles[1].SetPole(5e8, 0.0);
  m.commonPoles[1].SetResidue(0, 1, {0.3, 0.0});
  m.delay.assign(4, 1e-9);
  const C one(1.0, 0.0), jf(0.0, 1e9), p(1e9, -4e9), r(0.2, 0.1);
  ExpectNear(EvaluateElement(f->state(), 0, 1, 0.0), 0.5);
  ExpectNear(EvaluateElement(f->state(), 0, 1, 1e9),
             0.5 * (r / (one + jf / p) + std::conj(r) / (one + jf / std::conj(p))) +
                 0.3 / (one + jf / 5e8));
  ExpectNear(EvaluateElement(f->state(), 1, 0, 1e9), 0.0);
  m.shape = PoleShape::kIndividual;  // a symmetric model reads (1, 0) for (0, 1)
  f->state().network.symmetric = true;
  EXPECT_EQ(EvaluateElement(f->state(), 0, 1, 2e9), EvaluateElement(f->state(), 1, 0, 2e9));
  auto g = MakeFitter();
  FittedModel& y = Model(*g, 1, 2);  // Y data: e counts in asymptote mode 2, not in mode 1
  y.constant[0] = 1.0, y.proportional[0] = 1e-10, y.delay[0] = 1e-9;
  y.elementPoles[0][0].SetResidue00({0.0, 0.0});
  ExpectNear(EvaluateElement(g->state(), 0, 0, 0.0), 1.0);  // no delay, no e at DC
  ExpectNear(EvaluateElement(g->state(), 0, 0, 250e6), C(1.0, 0.025) * C(0.0, -1.0), 1e-12);
  g->SetElementAsymptote(1, 0, 0, 0.0);
  ExpectNear(EvaluateElement(g->state(), 0, 0, 250e6), C(0.0, -1.0), 1e-12);
}

// Grids: linear up to the first value not below stop; a list (skipping
// values out of order); another fitter's frequencies; bad arguments keep the
// data and record 45; a symmetric model fills the upper triangle.
TEST(Sweeps, GridsListsAndBadArguments) {
  auto f = MakeFitter();
  Model(*f, 2);
  const auto points = [&]() { return f->state().network.data->points(); };
  EXPECT_EQ(f->SweepModelLinear(3e6, 0.0, 1e7), 1);
  ASSERT_EQ(points().size(), 5u);  // 0, 3, 6, 9, 12 MHz
  ExpectNear(points()[1].At(1, 0), 2.5 / C(1.0, 3e6 / 1e9));
  const double list[4] = {1e6, 5e6, 2e6, 9e6};
  EXPECT_EQ(f->SweepModelAtList(4, list), 1);
  EXPECT_EQ(points().size(), 3u);
  auto other = MakeFitter();
  Model(*other, 1);
  ASSERT_EQ(other->SweepModelLinear(1.0, 1.0, 4.0), 1);
  EXPECT_EQ(f->SweepModelAtDataOf(other.get()), 1);
  EXPECT_TRUE(points().size() == 4u && points().back().frequency() == 4.0);
  for (long result :
       {f->SweepModelLinear(0.0, 0.0, 1e7), f->SweepModelLinear(1e6, 1e7, 1e7),
        f->SweepModelLinear(1e-3, 0.0, 1e9), f->SweepModelLinear(NAN, 0.0, 1e9),
        f->SweepModelAtList(3, nullptr), f->SweepModelAtDataOf(nullptr),
        f->SweepModelAtDataOf(MakeFitter().get()), f->SweepModelAdaptive(0.1, INFINITY)}) {
    EXPECT_EQ(result, 0);
  }
  EXPECT_STREQ(f->GetErrorMessage(), "Input parameters to the function are invalid");
  EXPECT_EQ(points().size(), 4u);
  f->state().network.symmetric = true;
  ASSERT_EQ(f->SweepModelLinear(1e8, 1e8, 1e9), 1);
  for (ConstMatrixView p : points()) EXPECT_TRUE(p.At(0, 1) == p.At(1, 0) && p.At(0, 1).re != 0.0);
}

// The adaptive grid starts at a quarter of the smallest pole (or at 0 Hz when
// asked), grows its step by 1.4 only while below the bound 10^(t / 2) - 1
// of the frequency, and a step above the smallest never changes the model by
// more than t.
TEST(Sweeps, AdaptiveGridGrowsItsStepOnlyWithinTheBound) {
  auto f = MakeFitter();
  Model(*f, 2);
  const double t = 0.2, h0 = t * 0.25 * 1e9, bound = std::pow(10.0, 0.1) - 1.0;
  ASSERT_EQ(f->SweepModelAdaptive(t, 1e11), 1);
  const ConstPointRange p = f->state().network.data->points();
  ASSERT_GT(p.size(), 10u);
  EXPECT_DOUBLE_EQ(p[0].frequency(), h0);
  EXPECT_GE(p.back().frequency(), 1e11);
  for (std::size_t k = 1; k < p.size(); ++k) {
    const double h = p[k].frequency() - p[k - 1].frequency();
    const double previous = k > 1 ? p[k - 1].frequency() - p[k - 2].frequency() : h;
    if (h > previous * 1.000001) {
      EXPECT_NEAR(h / previous, 1.4, 1e-9);
      EXPECT_LT(previous, bound * p[k - 1].frequency() * 1.000001);
    }
    double sum = 0.0;
    for (int e = 0; e < 4; ++e)
      sum += std::pow(Abs(p[k].At(e / 2, e % 2) - p[k - 1].At(e / 2, e % 2)), 2);
    EXPECT_TRUE(h <= h0 * 1.000001 || std::sqrt(sum) <= t * 1.000001) << k;
  }
  f->state().settings.addZeroHzPoint = true;
  ASSERT_EQ(f->SweepModelAdaptive(0.5, 1e10), 1);
  EXPECT_EQ(f->state().network.data->front().frequency(), 0.0);
  ExpectNear(f->state().network.data->front().At(1, 1), 3.5);
  ASSERT_EQ(f->SweepModelAdaptive(0.5, -1.0), 1);  // stop below the first point
  EXPECT_EQ(f->state().network.data->point_count(), 1);
}

}  // namespace
}  // namespace cfit
