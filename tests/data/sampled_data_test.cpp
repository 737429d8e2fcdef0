// The sampled data set: appending, the 0 Hz point against closed forms,
// point reduction, asymmetry, what EndData and the storing of read points
// derive, and the data's identity. The host's loading, walking and the
// refusals of every operation are in the host and api tests.
#include "data/sampled_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "api/cfit_impl.h"
#include "data/data_loading.h"
#include "support/fitter_fixtures.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

// An N-port point at f with every element `fill`, then (i, j, value) pairs.
PortMatrix Point(int n, double f, Complex fill = {},
                 std::vector<std::pair<int, Complex>> set = {}) {
  PortMatrix m(n);
  m.set_frequency(f);
  for (int e = 0; e < n * n; ++e) m.At(e / n, e % n) = fill;
  for (const auto& [e, v] : set) m.At(e / n, e % n) = v;
  return m;
}

// A fitter loaded through the host operations with `points`.
std::unique_ptr<cCfit> Loaded(cFitParams params, const std::vector<PortMatrix>& points) {
  std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(&params)));
  const int n = points[0].order();
  f->BeginData(n, kS, std::vector<double>(n, 25.0).data());
  testing::PointRecord record(n);
  for (const PortMatrix& p : points) {
    for (int e = 0; e < n * n; ++e)
      record.Set(e / n, e % n, {p.At(e / n, e % n).re, p.At(e / n, e % n).im});
    EXPECT_TRUE(f->AddDataPoint(record.get(p.frequency())));
  }
  return f;
}

// A fitter holding the points of a Touchstone text read from a scratch file.
std::unique_ptr<cCfit> ReadText(cFitParams params, const std::string& text) {
  const std::string path = testing::Scratch().NewFile("sampled") + ".s2p";
  std::ofstream(path) << text;
  std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(&params)));
  EXPECT_GT(f->ReadTouchstone(path.c_str()), 0);
  return f;
}

// Non-finite values are never symmetric and never overwrite finite ones:
// with NaN or an infinity in S21 the read keeps S12 = 5 and reports infinite
// asymmetry (maxima and magnitudes used to drop the NaN, and symmetrising
// wrote NaN over S12); an explicit Symmetrize puts the finite mirror value at
// both places, and the mean where both are finite or both are not.
TEST(Asymmetry, NonFiniteElementsAreNeverSymmetric) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    const char* s21;
    const char* s12;
    Complex symmetrized;
  } cases[] = {{"nan 0", "5 0", {5, 0}},
               {"0 inf", "5 0", {5, 0}},
               {"5 0", "-inf 0", {5, 0}},
               {"1 0", "3 2", {2, 1}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.s21) + " / " + c.s12);
    auto f =
        ReadText(cFitParams{}, std::string("# HZ S RI\n1 1 0 ") + c.s21 + " " + c.s12 + " 1 0\n");
    const bool finite = c.symmetrized == Complex(2, 1);
    EXPECT_FALSE(f->IsSymmetric());
    double rel = -1, abs = -1;
    EXPECT_FALSE(f->CheckSymmetry(&rel, &abs));
    EXPECT_EQ(rel == kInf && abs == kInf, !finite);
    const ConstMatrixView read = f->state().network.data->front();
    EXPECT_TRUE(read.At(0, 1) == Complex(5, 0) || read.At(1, 0) == Complex(5, 0) || finite);
    ASSERT_EQ(f->Symmetrize(), 1);
    EXPECT_EQ(f->state().network.data->front().At(0, 1), c.symmetrized);
    EXPECT_EQ(f->state().network.data->front().At(1, 0), c.symmetrized);
  }
  // Both non-finite: their mean, still not a number.
  SampledData set(2);
  set.Append(Point(2, 1.0, {1, 0}, {{1, {NAN, 0}}, {2, {kInf, 0}}}));
  set.Symmetrize();
  EXPECT_TRUE(std::isnan(set.front().At(0, 1).re));
  EXPECT_TRUE(std::isnan(set.front().At(1, 0).re));
}

// The 0 Hz value of each element: a first point below 1 MHz moves there and
// loses its imaginary part; with seven points the real parts, exactly
// a + b x + q x^2 in x = (f / f1)^2, give a; with fewer, the magnitude capped
// at 1 with the sign of the real part (0 counts as negative).
TEST(ZeroHzPoint, ClosedFormsOfEachCase) {
  const auto Three = [](Complex v) {
    return std::vector<PortMatrix>{Point(1, 1e7, v), Point(1, 2e7, v), Point(1, 3e7, v)};
  };
  const std::pair<std::vector<PortMatrix>, double> cases[] = {
      {{Point(1, 0.5e6, {0.9, 0.2}), Point(1, 100e6, {0.5, 0.4})}, 0.9},
      {Three({-0.3, 0.4}), -0.5},
      {Three({3, 4}), 1},
      {Three({0, 0.2}), -0.2},
  };
  for (const auto& [points, expected] : cases) {
    SampledData set(1);
    for (const PortMatrix& p : points) set.Append(p);
    ASSERT_TRUE(AddZeroHzPoint(set));
    EXPECT_EQ(set.point_count(), points.size() + (points[0].frequency() >= 1e6));
    EXPECT_EQ(set.front().frequency(), 0.0);
    EXPECT_NEAR(set.front().At(0, 0).re, expected, 1e-15);
    EXPECT_EQ(set.front().At(0, 0).im, 0.0);
  }
  SampledData set(2);
  for (int k = 1; k <= 7; ++k) {
    const double x = double(k) * k;
    set.Append(
        Point(2, k * 1e6, {1.0, -0.2 * k},
              {{0, {0.25 - 0.01 * x + 1e-4 * x * x, 0.3 * k}}, {2, {-0.5 + 0.002 * x, 0.1}}}));
  }
  ASSERT_TRUE(AddZeroHzPoint(set));
  EXPECT_NEAR(set.front().At(0, 0).re, 0.25, 1e-12);
  EXPECT_NEAR(set.front().At(1, 0).re, -0.5, 1e-12);
  // Nothing happens with fewer than two points, with a 0 Hz point, or with a
  // first frequency below 0 (moving it to 0 Hz would break the increasing
  // order).
  SampledData few(1), negative(1);
  for (const PortMatrix& p : {Point(1, 0.0, {0.5, 0.5}), Point(1, 1e6)}) {
    EXPECT_FALSE(AddZeroHzPoint(few));
    few.Append(p);
  }
  EXPECT_FALSE(AddZeroHzPoint(few));
  EXPECT_EQ(few.front().At(0, 0), Complex(0.5, 0.5));
  for (double f : {-2.0, -1.0}) negative.Append(Point(1, f));
  EXPECT_FALSE(AddZeroHzPoint(negative));
  EXPECT_EQ(negative.front().frequency(), -2.0);
}

// Point reduction keeps the first and last point of a flat stretch, and the
// last point.
TEST(PointReduction, FlatStretchKeepsItsEnds) {
  SampledData set(1);
  const double values[] = {0.1, 0.5, 0.5, 0.5 + 4e-6, 0.5, 0.5, 0.9, 0.9};
  for (int k = 0; k < 8; ++k) set.Append(Point(1, (k + 1) * 1e6, {values[k], 0.0}));
  std::vector<double> kept;
  const SampledData reduced = ReducedCopy(set, 1e-5);
  for (ConstMatrixView p : reduced.points()) kept.push_back(p.frequency() / 1e6);
  EXPECT_EQ(kept, (std::vector<double>{1, 2, 6, 7, 8}));
}

// EndData keeps nearly symmetric data as given and reports them symmetric;
// the band comes from the data, or from the caller where valid; more points
// than the working storage holds only warn; the 0 Hz point comes after the
// band is taken.
TEST(EndData, SymmetryBandStorageAndTheZeroHzPoint) {
  std::vector<PortMatrix> points;
  for (int k = 1; k <= 3; ++k)
    points.push_back(
        Point(2, k * 1e9, {0.1, 0}, {{1, {0.8, 0.1}}, {2, {0.801, 0.1}}, {3, {0.2, 0}}}));
  auto f = Loaded(cFitParams{}, points);
  EXPECT_TRUE(f->EndData());
  EXPECT_EQ(f->state().network.data->points()[1].At(1, 0), Complex(0.801, 0.1));
  double rel = -1, abs = -1;
  EXPECT_TRUE(f->CheckSymmetry(&rel, &abs));
  EXPECT_NEAR(rel, 0.001 / (std::hypot(0.801, 0.1) + 0.2), 1e-12);
  EXPECT_NEAR(abs, 0.001, 1e-12);
  EXPECT_EQ(f->state().settings.lowerBandFrequency, 1e9);
  EXPECT_EQ(f->state().settings.upperBandFrequency, 3e9);

  cFitParams params;
  params.callerBand = true, params.lowerBandFrequency = -1.0, params.upperBandFrequency = 7e9;
  params.maxFrequencyPoints = 1, params.addZeroHzPoint = true;
  points.insert(points.begin(), Point(2, 0.5e6, {0.1, 0}, {{1, {0.8, 0.1}}, {2, {0.801, 0.1}}}));
  auto g = Loaded(params, points);
  testing::LogCapture log;
  g->EndData();
  EXPECT_EQ(log.text(),
            "\n*** Insufficient memory... Number of points allowed should be increased ***\n");
  EXPECT_EQ(g->state().network.data->point_count(), 4);
  EXPECT_EQ(g->state().network.data->front().frequency(), 0.0);
  EXPECT_EQ(g->state().settings.lowerBandFrequency, 0.5e6);
  EXPECT_EQ(g->state().settings.upperBandFrequency, 7e9);
}

// The largest magnitude of an element takes the first point of a tie; the
// lowest-point transfer is the magnitude at the first point.
TEST(ElementMagnitudes, LargestAndAtTheLowestPoint) {
  std::vector<PortMatrix> points;
  for (double m : {0.2, 0.7, 0.7, 0.1})
    points.push_back(Point(3, (points.size() + 1) * 1e8, {0.3, 0}, {{6, {0, m}}}));
  auto f = Loaded(cFitParams{}, points);
  double magnitude = -1, frequency = -1;
  EXPECT_EQ(f->GetMaxElementMagnitude(2, 0, &magnitude, &frequency), 1);
  EXPECT_DOUBLE_EQ(magnitude, 0.7);
  EXPECT_EQ(frequency, 2e8);
  EXPECT_EQ(f->GetLowestPointTransfer(2, 0, &magnitude), 1);
  EXPECT_DOUBLE_EQ(magnitude, 0.2);
}

// The conductance cache is keyed to the data's identity: reads of every kind
// keep it (they used to renew the identity and so throw the cache away),
// changes renew it and the next request sees the new values.
TEST(SampledDataIdentity, ReadsKeepTheConductanceCacheAndChangesRenewIt) {
  std::vector<PortMatrix> points;
  for (double freq : {1e9, 2e9, 3e9})
    points.push_back(Point(2, freq, {0.1, 0}, {{1, {0.5, 0}}, {2, {0.5, 0}}}));
  auto f = Loaded(cFitParams{}, points);
  ASSERT_TRUE(f->EndData());
  double re = 0, im = 0, m = 0, at = 0;
  ASSERT_EQ(f->GetDataMutualConductance(0, 1, 1.5e9, &re, &im), 1);
  const ConductanceCache& cache = f->state().passivity.conductance;
  const std::uint64_t computedFrom = cache.source;
  ASSERT_EQ(f->state().network.data->id().value(), computedFrom);
  for (auto* r = f->GetFirstDataPoint(); r != nullptr; r = f->GetNextDataPoint())
    EXPECT_GT(r->frequency, 0);
  f->GetMaxElementMagnitude(0, 1, &m, &at);
  f->GetLowestPointTransfer(0, 1, &m);
  f->CheckDataPassivity(&m, &at);
  f->GetDataPassivityMargins();
  f->GetEnforcedAccuracy(nullptr, nullptr);
  EXPECT_EQ(f->state().network.data->id().value(), computedFrom);
  // The conductance between the ports rises with |S12| (0.5 -> 0.6).
  const double before = re;
  for (MatrixView point : f->state().network.data->MutablePoints())
    point.At(0, 1) = point.At(1, 0) = {0.6, 0.0};
  EXPECT_NE(f->state().network.data->id().value(), computedFrom);
  ASSERT_EQ(f->GetDataMutualConductance(0, 1, 1.5e9, &re, &im), 1);
  EXPECT_NE(cache.source, computedFrom);
  EXPECT_GT(re, before);
}

}  // namespace
}  // namespace cfit
