// The sampled data set: appending, the 0 Hz point, point reduction,
// asymmetry, host loading, file storing and the point walk.
#include "data/sampled_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "api/cfit_impl.h"
#include "data/data_loading.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

PortMatrix Point(int n, double f, Complex fill = {}) {
  PortMatrix m(n);
  m.set_frequency(f);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) m.At(i, j) = fill;
  return m;
}

// Host-side storage for one DataPointRecord of an N-port.
struct HostPoint {
  explicit HostPoint(int n) : values(2 * n * n, 0.0), rows(n) {
    for (int i = 0; i < n; ++i) rows[i] = values.data() + 2 * n * i;
    record = {0.0, rows.data()};
  }
  void Set(int i, int j, double re, double im) {
    rows[i][2 * j] = re;
    rows[i][2 * j + 1] = im;
  }
  std::vector<double> values;
  std::vector<double*> rows;
  DataPointRecord record;
};

std::unique_ptr<cCfit> MakeFitter(cFitParams* params = nullptr) {
  return std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(params)));
}

TEST(SampledDataSet, AppendKeepsStrictlyIncreasingFrequencyAndOrder) {
  SampledData set(2);
  EXPECT_TRUE(set.Append(Point(2, 1e6)));
  EXPECT_FALSE(set.Append(Point(2, 1e6)));    // equal frequency
  EXPECT_FALSE(set.Append(Point(2, 0.5e6)));  // lower frequency
  EXPECT_FALSE(set.Append(Point(3, 2e6)));    // other port count
  EXPECT_FALSE(set.Append(Point(2, std::numeric_limits<double>::quiet_NaN())));
  EXPECT_TRUE(set.Append(Point(2, 2e6), true));
  EXPECT_EQ(set.point_count(), 2);
  EXPECT_EQ(set.marked_count(), 1);
  EXPECT_FALSE(set.PrependZeroHz(Point(2, 1.0)));  // only a 0 Hz point
  EXPECT_TRUE(set.PrependZeroHz(Point(2, 0.0)));
  EXPECT_FALSE(set.PrependZeroHz(Point(2, 0.0)));  // first point already at 0 Hz
  EXPECT_EQ(set.CopyFirst(2).point_count(), 2);
  EXPECT_EQ(set.CopyFirst(99).point_count(), 3);
  EXPECT_EQ(set.CopyFirst(-1).point_count(), 0);
}

TEST(ZeroHzPoint, FirstPointCloseToZeroMovesThereAndLosesImaginaryParts) {
  SampledData set(1);
  set.Append(Point(1, 0.5e6, {0.9, 0.2}));
  set.Append(Point(1, 100e6, {0.5, 0.4}));
  EXPECT_TRUE(AddZeroHzPoint(set, true));
  ASSERT_EQ(set.point_count(), 2);
  EXPECT_EQ(set.front().frequency(), 0.0);
  EXPECT_EQ(set.front().At(0, 0), Complex(0.9, 0.0));
}

TEST(ZeroHzPoint, QuadraticExtrapolationRecoversTheConstantTerm) {
  // Real parts exactly a + b x + q x^2 in x = (f / f1)^2: the 0 Hz value is a.
  SampledData set(2);
  for (int k = 1; k <= 7; ++k) {
    const double x = double(k) * double(k);
    PortMatrix m = Point(2, k * 1e6);
    m.At(0, 0) = {0.25 - 0.01 * x + 1e-4 * x * x, 0.3 * k};
    m.At(1, 0) = {-0.5 + 0.002 * x, 0.1};
    m.At(0, 1) = m.At(1, 0);
    m.At(1, 1) = {1.0, -0.2 * k};
    set.Append(m);
  }
  ASSERT_TRUE(AddZeroHzPoint(set, true));
  ASSERT_EQ(set.point_count(), 8);
  const PortMatrix& zero = set.front();
  EXPECT_EQ(zero.frequency(), 0.0);
  EXPECT_NEAR(zero.At(0, 0).re, 0.25, 1e-12);
  EXPECT_NEAR(zero.At(1, 0).re, -0.5, 1e-12);
  EXPECT_NEAR(zero.At(1, 1).re, 1.0, 1e-12);
  EXPECT_EQ(zero.At(0, 0).im, 0.0);
}

TEST(ZeroHzPoint, FewPointsTakeTheCappedMagnitudeWithTheSignOfTheRealPart) {
  SampledData set(2);
  for (double f : {10e6, 20e6, 30e6}) {
    PortMatrix m = Point(2, f);
    m.At(0, 0) = {-0.3, 0.4};  // |.| = 0.5, real part negative
    m.At(0, 1) = {3.0, 4.0};   // |.| = 5, capped at 1
    m.At(1, 0) = {0.0, 0.2};   // real part 0 counts as negative
    m.At(1, 1) = {0.6, -0.8};
    set.Append(m);
  }
  ASSERT_TRUE(AddZeroHzPoint(set, true));
  const PortMatrix& zero = set.front();
  EXPECT_EQ(zero.frequency(), 0.0);
  EXPECT_DOUBLE_EQ(zero.At(0, 0).re, -0.5);
  EXPECT_DOUBLE_EQ(zero.At(0, 1).re, 1.0);
  EXPECT_DOUBLE_EQ(zero.At(1, 0).re, -0.2);
  EXPECT_DOUBLE_EQ(zero.At(1, 1).re, 1.0);
}

TEST(ZeroHzPoint, NothingHappensWithoutTwoPointsOrWithAZeroHzPoint) {
  SampledData one(1);
  one.Append(Point(1, 1e6, {0.5, 0.5}));
  EXPECT_FALSE(AddZeroHzPoint(one, true));
  EXPECT_EQ(one.point_count(), 1);
  SampledData zero(1);
  zero.Append(Point(1, 0.0, {0.5, 0.5}));
  zero.Append(Point(1, 1e6, {0.5, 0.5}));
  EXPECT_FALSE(AddZeroHzPoint(zero, true));
  EXPECT_EQ(zero.front().At(0, 0), Complex(0.5, 0.5));
  SampledData empty(1);
  EXPECT_FALSE(AddZeroHzPoint(empty, true));
}

TEST(ZeroHzPoint, ExtrapolatedPointCarriesTheAggregateForCommonPoles) {
  SampledData set(2);
  for (double f : {10e6, 20e6, 30e6}) set.Append(Point(2, f, {0.5, 0.1}));
  ASSERT_TRUE(AddZeroHzPoint(set, false));
  EXPECT_EQ(set.front().aggregate(), Complex(0.0, 0.0));  // 0.5 - 0.5 - 0.5 + 0.5
  PortMatrix m = Point(2, 0.0);
  m.At(0, 0) = {1.0, 0.0};
  SetStoredAggregate(m, false);
  EXPECT_EQ(m.aggregate(), Complex(1.0, 0.0));
}

TEST(PointReduction, FlatStretchKeepsItsFirstAndLastPoint) {
  SampledData set(1);
  const double values[] = {0.1, 0.5, 0.5, 0.5 + 4e-6, 0.5, 0.5, 0.9, 0.9};
  for (int k = 0; k < 8; ++k) set.Append(Point(1, (k + 1) * 1e6, {values[k], 0.0}));
  const SampledData reduced = ReducedCopy(set, 1e-5);
  std::vector<double> kept;
  for (const PortMatrix& p : reduced.points()) kept.push_back(p.frequency() / 1e6);
  // Points 3 to 5 lie inside the flat stretch 2..6; the last point is always
  // kept.
  EXPECT_EQ(kept, (std::vector<double>{1, 2, 6, 7, 8}));
}

TEST(Asymmetry, StatisticsOverThePoints) {
  SampledData set(2);
  PortMatrix a = Point(2, 1.0);
  a.At(0, 0) = {1.0, 0.0};
  a.At(0, 1) = {0.5, 0.0};
  a.At(1, 0) = {0.4, 0.0};  // A = 0.1, B = 1.5
  PortMatrix b = Point(2, 2.0);
  b.At(0, 1) = {0.0, 0.2};  // A = 0.2, B = 0.2
  set.Append(a);
  set.Append(b);
  set.ComputeAsymmetry();
  EXPECT_DOUBLE_EQ(set.absolute_asymmetry(), 0.2);
  EXPECT_DOUBLE_EQ(set.relative_asymmetry(), 1.0);
  set.Symmetrize();
  EXPECT_EQ(set.absolute_asymmetry(), 0.0);
  EXPECT_EQ(set.points()[0].At(0, 1), Complex(0.45, 0.0));
  EXPECT_EQ(set.points()[0].At(1, 0), Complex(0.45, 0.0));
}

TEST(HostLoading, NearlySymmetricDataStayAsGivenAndEndDataReportsSymmetry) {
  auto f = MakeFitter();
  const double z[2] = {50.0, 25.0};
  f->BeginData(2, 1, z);
  EXPECT_TRUE(f->HasSampledData());
  HostPoint p(2);
  for (int k = 1; k <= 3; ++k) {
    p.record.frequency = k * 1e9;
    p.Set(0, 0, 0.1, 0.0);
    p.Set(0, 1, 0.8, 0.1);
    p.Set(1, 0, 0.801, 0.1);  // A = 0.001, B = |0.801 + 0.1j| + 0.2
    p.Set(1, 1, 0.2, 0.0);
    EXPECT_TRUE(f->AddDataPoint(&p.record));
  }
  EXPECT_FALSE(f->AddDataPoint(&p.record));  // same frequency again
  EXPECT_TRUE(f->EndData());
  EXPECT_TRUE(f->IsSymmetric());
  const SampledData& data = *f->state().network.data;
  EXPECT_EQ(data.points()[1].At(1, 0), Complex(0.801, 0.1));  // not symmetrised
  double rel = -1, abs = -1;
  EXPECT_TRUE(f->CheckSymmetry(&rel, &abs));
  EXPECT_NEAR(rel, 0.001 / (std::hypot(0.801, 0.1) + 0.2), 1e-12);
  EXPECT_NEAR(abs, 0.001, 1e-12);
  EXPECT_EQ(f->state().settings.lowerBandFrequency, 1e9);
  EXPECT_EQ(f->state().settings.upperBandFrequency, 3e9);
  EXPECT_EQ(f->GetReferenceImpedances()[1], 25.0);
}

TEST(HostLoading, AsymmetricDataAndTheCallerBand) {
  cFitParams params;
  params.callerBand = true;
  params.lowerBandFrequency = -1.0;  // invalid: taken from the data
  params.upperBandFrequency = 7e9;   // valid: kept
  auto f = MakeFitter(&params);
  f->BeginData(2, 1, nullptr);  // no impedances given: 50 ohms
  EXPECT_EQ(f->GetReferenceImpedances()[0], 50.0);
  HostPoint p(2);
  for (int k = 1; k <= 2; ++k) {
    p.record.frequency = k * 1e9;
    p.Set(0, 1, 0.5, 0.0);
    p.Set(1, 0, 0.1, 0.0);
    ASSERT_TRUE(f->AddDataPoint(&p.record));
  }
  EXPECT_FALSE(f->EndData());
  EXPECT_FALSE(f->IsSymmetric());
  EXPECT_FALSE(f->CheckSymmetry(nullptr, nullptr));
  EXPECT_EQ(f->state().settings.lowerBandFrequency, 1e9);
  EXPECT_EQ(f->state().settings.upperBandFrequency, 7e9);
  EXPECT_EQ(f->Symmetrize(), 1);
  EXPECT_TRUE(f->IsSymmetric());
  EXPECT_EQ(f->state().network.data->points()[0].At(1, 0), Complex(0.3, 0.0));
}

TEST(HostLoading, BadRecordsAndMissingSetsAreRefused) {
  auto f = MakeFitter();
  HostPoint p(2);
  EXPECT_FALSE(f->AddDataPoint(&p.record));  // no BeginData
  EXPECT_FALSE(f->EndData());
  EXPECT_FALSE(f->HasSampledData());
  f->BeginData(2, 1, nullptr);
  EXPECT_FALSE(f->EndData());  // no point
  EXPECT_FALSE(f->AddDataPoint(nullptr));
  DataPointRecord noRows{1e9, nullptr};
  EXPECT_FALSE(f->AddDataPoint(&noRows));
  p.rows[1] = nullptr;
  EXPECT_FALSE(f->AddDataPoint(&p.record));
  HostPoint q(2);
  q.record.frequency = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(f->AddDataPoint(&q.record));
  EXPECT_EQ(f->state().network.data->point_count(), 0);
  EXPECT_EQ(f->GetErrorMessage(), nullptr);
}

TEST(HostLoading, TooManyPointsForTheStorageOnlyWarn) {
  cFitParams params;
  params.maxFrequencyPoints = 2;  // 6 rows: room for 2 points
  auto f = MakeFitter(&params);
  f->BeginData(1, 1, nullptr);
  HostPoint p(1);
  for (int k = 1; k <= 3; ++k) {
    p.record.frequency = k;
    ASSERT_TRUE(f->AddDataPoint(&p.record));
  }
  testing::LogCapture log;
  f->EndData();
  EXPECT_EQ(log.text(),
            "\n*** Insufficient memory... Number of points allowed should be increased ***\n");
  EXPECT_EQ(f->state().network.data->point_count(), 3);
}

TEST(HostLoading, EndDataAddsTheZeroHzPointWhenAsked) {
  cFitParams params;
  params.addZeroHzPoint = true;
  auto f = MakeFitter(&params);
  f->BeginData(1, 1, nullptr);
  HostPoint p(1);
  p.Set(0, 0, 0.7, 0.3);
  for (double freq : {0.5e6, 100e6}) {
    p.record.frequency = freq;
    ASSERT_TRUE(f->AddDataPoint(&p.record));
  }
  f->EndData();
  EXPECT_EQ(f->state().network.data->front().frequency(), 0.0);
  // The band was taken before the point moved.
  EXPECT_EQ(f->state().settings.lowerBandFrequency, 0.5e6);
}

TEST(StoringReadPoints, LogsCountSymmetrisesAndStopsAtTheFirstRefusal) {
  auto f = MakeFitter();
  FitterState& s = f->state();
  s.network.portCount = 2;
  std::vector<PortMatrix> points;
  for (double freq : {1e9, 2e9, 2e9, 3e9}) {
    PortMatrix m = Point(2, freq);
    m.At(0, 1) = {0.5, 0.0};
    m.At(1, 0) = {0.501, 0.0};
    points.push_back(m);
  }
  testing::LogCapture log;
  ASSERT_TRUE(StoreReadPoints(s, points));
  EXPECT_EQ(log.text(), "\n2 data points were read from touchstone file\n");
  ASSERT_EQ(s.network.data->point_count(), 2);
  EXPECT_EQ(s.network.data->points()[0].At(1, 0), Complex(0.5005, 0.0));
  EXPECT_EQ(s.network.data->points()[0].At(0, 1), Complex(0.5005, 0.0));
  EXPECT_TRUE(s.network.symmetric);
  EXPECT_EQ(s.network.data->relative_asymmetry(), 0.0);
}

TEST(StoringReadPoints, ReductionIsLoggedOnlyWhenItDropsPoints) {
  cFitParams params;
  params.reducePoints = true;
  auto f = MakeFitter(&params);
  FitterState& s = f->state();
  s.network.portCount = 1;
  std::vector<PortMatrix> points;
  for (int k = 1; k <= 5; ++k) points.push_back(Point(1, k, {0.5, 0.0}));
  testing::LogCapture log;
  ASSERT_TRUE(StoreReadPoints(s, points));
  EXPECT_EQ(log.text(),
            "\n5 data points were read from touchstone file\n"
            "Number of points were reduced to 2\n");
  EXPECT_EQ(s.network.data->point_count(), 2);
}

TEST(StoringReadPoints, NoPointsIsRefusedWithoutRecording) {
  auto f = MakeFitter();
  f->state().network.portCount = 1;
  EXPECT_FALSE(StoreReadPoints(f->state(), {}));
  EXPECT_EQ(f->GetErrorMessage(), nullptr);  // the read records error 24
}

class LoadedFitter : public ::testing::Test {
 protected:
  void SetUp() override {
    fitter = MakeFitter();
    fitter->BeginData(3, 1, nullptr);
    HostPoint p(3);
    const double magnitudes[] = {0.2, 0.7, 0.7, 0.1};
    for (int k = 0; k < 4; ++k) {
      p.record.frequency = (k + 1) * 1e8;
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) p.Set(i, j, 10 * i + j + k / 10.0, -k);
      p.Set(2, 0, 0.0, magnitudes[k]);
      ASSERT_TRUE(fitter->AddDataPoint(&p.record));
    }
    fitter->EndData();
  }
  std::unique_ptr<cCfit> fitter;
};

TEST_F(LoadedFitter, MaxElementMagnitudeTakesTheFirstOfATie) {
  double magnitude = -1, frequency = -1;
  EXPECT_EQ(fitter->GetMaxElementMagnitude(2, 0, &magnitude, &frequency), 1);
  EXPECT_DOUBLE_EQ(magnitude, 0.7);
  EXPECT_EQ(frequency, 2e8);
}

TEST_F(LoadedFitter, MaxElementMagnitudeRefusesDiagonalAndOutOfRange) {
  for (auto [i, j] : {std::pair{1, 1}, {-1, 0}, {0, 3}, {3, 0}, {1 << 30, 0}}) {
    double magnitude = -1, frequency = 5;
    EXPECT_EQ(fitter->GetMaxElementMagnitude(i, j, &magnitude, &frequency), 0);
    EXPECT_EQ(magnitude, 0.0);
    EXPECT_EQ(frequency, -1.0);
  }
  EXPECT_STREQ(fitter->GetErrorMessage(), FitErrorText(20));
}

TEST_F(LoadedFitter, LowestPointTransfer) {
  double magnitude = -1;
  EXPECT_EQ(fitter->GetLowestPointTransfer(2, 0, &magnitude), 1);
  EXPECT_DOUBLE_EQ(magnitude, 0.2);
  EXPECT_EQ(fitter->GetLowestPointTransfer(0, 0, &magnitude), 0);
  EXPECT_EQ(magnitude, 0.0);
  EXPECT_STREQ(fitter->GetErrorMessage(), FitErrorText(20));
}

TEST(LowestPointTransfer, OtherDataTypes) {
  auto f = MakeFitter();
  f->BeginData(2, 4, nullptr);  // ABCD
  HostPoint p(2);
  p.record.frequency = 1.0;
  ASSERT_TRUE(f->AddDataPoint(&p.record));
  double magnitude = -1;
  EXPECT_EQ(f->GetLowestPointTransfer(0, 1, &magnitude), 0);
  EXPECT_STREQ(f->GetErrorMessage(), "We only support S-Y-Z parameter types");
}

TEST_F(LoadedFitter, PointWalkCopiesEveryPoint) {
  int count = 0;
  for (DataPointRecord* r = fitter->GetFirstDataPoint(); r != nullptr;
       r = fitter->GetNextDataPoint()) {
    EXPECT_EQ(r->frequency, (count + 1) * 1e8);
    EXPECT_EQ(r->values[1][2 * 2], 12 + count / 10.0);
    EXPECT_EQ(r->values[1][2 * 2 + 1], -count);
    ++count;
  }
  EXPECT_EQ(count, 4);
  EXPECT_EQ(fitter->GetNextDataPoint(), nullptr);
  // A new BeginData ends the walk.
  ASSERT_NE(fitter->GetFirstDataPoint(), nullptr);
  fitter->BeginData(1, 1, nullptr);
  EXPECT_EQ(fitter->GetNextDataPoint(), nullptr);
  EXPECT_EQ(fitter->GetFirstDataPoint(), nullptr);  // empty set
  EXPECT_EQ(fitter->GetErrorMessage(), nullptr);
}

TEST(PointWalk, WithoutDataIsError6) {
  auto f = MakeFitter();
  EXPECT_EQ(f->GetNextDataPoint(), nullptr);
  EXPECT_EQ(f->GetFirstDataPoint(), nullptr);
  EXPECT_STREQ(f->GetErrorMessage(), "No sampled data available");
  EXPECT_EQ(f->Symmetrize(), 0);
}

TEST(SymmetrizeOperation, RefusesWhenAFitIsPresent) {
  auto f = MakeFitter();
  f->BeginData(1, 1, nullptr);
  FitterState& s = f->state();
  s.model = std::make_unique<FittedModel>();
  s.model->n = 1;
  s.model->constant.assign(1, 0.0);
  s.model->delay.assign(1, 0.0);
  s.model->elementPoles.assign(1, PoleList(1));
  ASSERT_TRUE(f->HasFit());
  EXPECT_EQ(f->Symmetrize(), 0);
  EXPECT_STREQ(f->GetErrorMessage(), "This action will destroy existing fitted data");
}

}  // namespace
}  // namespace cfit

namespace cfit {
namespace {

// The conductance cache is keyed to the data's identity: reads of every kind
// keep it (they used to renew the identity and so throw the cache away),
// changes renew it and the next request sees the new values.
TEST(SampledDataIdentity, ReadsKeepTheConductanceCacheAndChangesRenewIt) {
  auto f = MakeFitter();
  const double z[] = {50.0, 50.0};
  f->BeginData(2, 1, z);
  HostPoint p(2);
  for (double freq : {1e9, 2e9, 3e9}) {
    p.record.frequency = freq;
    p.Set(0, 0, 0.1, 0.0);
    p.Set(0, 1, 0.5, 0.0);
    p.Set(1, 0, 0.5, 0.0);
    p.Set(1, 1, 0.1, 0.0);
    ASSERT_TRUE(f->AddDataPoint(&p.record));
  }
  ASSERT_TRUE(f->EndData());
  double re = 0, im = 0, m = 0, at = 0;
  ASSERT_EQ(f->GetDataMutualConductance(0, 1, 1.5e9, &re, &im), 1);
  const ConductanceCache& cache = f->state().passivity.conductance;
  const std::uint64_t computedFrom = cache.source;
  ASSERT_EQ(f->state().network.data->id().value(), computedFrom);

  ASSERT_NE(f->GetFirstDataPoint(), nullptr);
  while (f->GetNextDataPoint() != nullptr) {
  }
  f->GetMaxElementMagnitude(0, 1, &m, &at);
  f->GetLowestPointTransfer(0, 1, &m);
  f->CheckDataPassivity(&m, &at);
  f->GetDataPassivityMargins();
  f->GetEnforcedAccuracy(nullptr, nullptr);
  EXPECT_EQ(f->state().network.data->points().size(), 3u);
  EXPECT_EQ(f->state().network.data->id().value(), computedFrom);

  // The conductance between the ports rises with |S12| (0.5 -> 0.6).
  const double before = re;
  for (PortMatrix& point : f->state().network.data->MutablePoints())
    point.At(0, 1) = point.At(1, 0) = {0.6, 0.0};
  EXPECT_NE(f->state().network.data->id().value(), computedFrom);
  ASSERT_EQ(f->GetDataMutualConductance(0, 1, 1.5e9, &re, &im), 1);
  EXPECT_NE(cache.source, computedFrom);
  EXPECT_GT(re, before);
}

}  // namespace
}  // namespace cfit
