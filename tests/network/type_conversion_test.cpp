// S/Y/Z/ABCD conversion of the held data: the checks and their order, closed
// forms of 1- and 2-port networks, round trips up to 12 ports, singular
// points, and the Y/Z branch of the lowest-point transfer.
#include "network/type_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "network/model_access.h"
#include "network_test_support.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using testing::C;
using testing::CMatrix;
using testing::LoadData;
using testing::NewFitter;
using testing::PointValues;
using testing::RelativeDifference;

std::string Message(cCfit& f) {
  const char* m = f.GetErrorMessage();
  return m != nullptr ? m : "";
}

void ExpectClose(const CMatrix& got, const CMatrix& want, double tol) {
  EXPECT_LE(RelativeDifference(got, want), tol);
}

TEST(ConvertDataType, RefusalsComeInOrderAndChangeNothing) {
  // The type already held: 1 at once, even without any data.
  auto fresh = NewFitter();
  EXPECT_EQ(fresh->ConvertDataType(0), 1);
  EXPECT_EQ(fresh->ConvertDataType(1), 0);  // held type 0 is not S, Y or Z
  EXPECT_EQ(Message(*fresh), "Cannot transform from/into given data types");

  const CMatrix s3(9, C(0.1, 0.05));
  struct Case {
    int ports, type, target;
    const char* message;
  };
  const Case cases[] = {
      {3, kS, 5, "Cannot transform from/into given data types"},
      {3, kS, 0, "Cannot transform from/into given data types"},
      {3, kS, 4, "Conversion to ABCD for 2-port parameters only"},
      {2, kY, 4, "Conversion to ABCD for 2-port parameters only"},
      {2, kABCD, 1, "Cannot transform from/into given data types"},
      {2, kPulse, 1, "Cannot transform from/into given data types"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.ports) + " ports, type " + std::to_string(c.type) + " to " +
                 std::to_string(c.target));
    auto f = NewFitter();
    const CMatrix m(static_cast<std::size_t>(c.ports * c.ports), C(0.1, 0.05));
    LoadData(*f, c.ports, c.type, std::vector<double>(c.ports, 50.0), {m});
    f->state().session.dataMargins.points.resize(3);
    EXPECT_EQ(f->ConvertDataType(c.target), 0);
    EXPECT_EQ(Message(*f), c.message);
    EXPECT_EQ(f->GetDataType(), c.type);
    EXPECT_EQ(PointValues(*f, 0), m);
    EXPECT_EQ(f->state().session.dataMargins.points.size(), 3u);
  }
}

TEST(ConvertDataType, NoDataNoFitRecords6AfterDroppingMarginsAndWorkingPoles) {
  auto f = NewFitter();
  ASSERT_EQ(f->DefineModel(1, kS, nullptr, false), 1);  // a model without poles, no data
  f->state().session.dataMargins.points.resize(2);
  f->state().workspace.fit.working.resize(4);
  EXPECT_EQ(f->ConvertDataType(kY), 0);
  EXPECT_EQ(Message(*f), "No sampled data available");
  EXPECT_TRUE(f->state().session.dataMargins.points.empty());
  EXPECT_TRUE(f->state().workspace.fit.working.empty());
  EXPECT_EQ(f->GetDataType(), kS);
}

TEST(ConvertDataType, FittedModelStaysAndTheTypeChangesForBoth) {
  auto f = NewFitter();
  ASSERT_EQ(f->DefineModel(1, kS, nullptr, false), 1);
  const double pole[] = {1e9, 0.0}, residue[] = {0.5, 0.0};
  ASSERT_EQ(f->SetElementModel(0, 0, 1, 0.25, 1e-12, 0.0, pole, residue), 1);
  double before[2], after[2];
  ASSERT_EQ(f->EvaluateModelElement(0, 0, 2e9, before), 1);
  EXPECT_EQ(f->state().network.elements->AsymptoteModeAt(0, 0), kConstant);
  EXPECT_EQ(f->ConvertDataType(kY), 1);  // no data to convert: only the type changes
  EXPECT_EQ(f->GetDataType(), kY);
  EXPECT_EQ(f->state().network.elements->AsymptoteModeAt(0, 0), kConstantAndProportional);
  // The model is unchanged; the Y table now counts its proportional term.
  ASSERT_EQ(f->EvaluateModelElement(0, 0, 2e9, after), 1);
  EXPECT_EQ(after[0], before[0]);
  EXPECT_DOUBLE_EQ(after[1], before[1] + 2e9 * 1e-12);
}

TEST(ConvertDataType, OnePortClosedForms) {
  const double z0 = 75.0;
  const CMatrix values[] = {
      {C(0.0, 0.0)}, {C(0.5, 0.0)}, {C(-0.3, 0.4)}, {C(0.999, -0.02)}, {C(-0.98, 0.1)}};
  std::vector<CMatrix> points(std::begin(values), std::end(values));
  for (int target : {kY, kZ}) {
    auto f = NewFitter();
    LoadData(*f, 1, kS, {z0}, points);
    ASSERT_EQ(f->ConvertDataType(target), 1);
    for (std::size_t k = 0; k < points.size(); ++k) {
      const C s = points[k][0];
      const C want = target == kY ? (1.0 - s) / ((1.0 + s) * z0) : z0 * (1.0 + s) / (1.0 - s);
      ExpectClose(PointValues(*f, static_cast<int>(k)), {want}, 1e-13);
    }
    // Y <-> Z is the reciprocal, and back to S gives s again.
    ASSERT_EQ(f->ConvertDataType(target == kY ? kZ : kY), 1);
    for (std::size_t k = 0; k < points.size(); ++k) {
      const C s = points[k][0];
      const C want = target == kZ ? (1.0 - s) / ((1.0 + s) * z0) : z0 * (1.0 + s) / (1.0 - s);
      ExpectClose(PointValues(*f, static_cast<int>(k)), {want}, 1e-12);
    }
    ASSERT_EQ(f->ConvertDataType(kS), 1);
    for (std::size_t k = 0; k < points.size(); ++k) {
      ExpectClose(PointValues(*f, static_cast<int>(k)), points[k], 1e-12);
    }
  }
}

// S of a 2-port from its Z matrix by the textbook formula for real, unequal
// reference impedances (not the Cayley route the library takes).
CMatrix SFromZ(const CMatrix& z, double z01, double z02) {
  const C delta = (z[0] + z01) * (z[3] + z02) - z[1] * z[2];
  const double root = std::sqrt(z01 * z02);
  return {((z[0] - z01) * (z[3] + z02) - z[1] * z[2]) / delta, 2.0 * z[1] * root / delta,
          2.0 * z[2] * root / delta, ((z[0] + z01) * (z[3] - z02) - z[1] * z[2]) / delta};
}

TEST(ConvertDataType, TwoPortsAgainstTextbookFormulasWithUnequalImpedances) {
  const double z01 = 50.0, z02 = 12.5;
  // A lossy, non-reciprocal 2-port given by its Z matrix.
  const CMatrix z = {C(30.0, 12.0), C(8.0, -3.0), C(45.0, 20.0), C(22.0, -7.0)};
  const CMatrix s = SFromZ(z, z01, z02);
  const C det = z[0] * z[3] - z[1] * z[2];
  const CMatrix abcd = {z[0] / z[2], det / z[2], 1.0 / z[2], z[3] / z[2]};
  struct Case {
    int from, to;
    CMatrix input, want;
  };
  const Case cases[] = {
      {kS, kZ, s, z}, {kS, kY, s, testing::Inverse2(z)}, {kS, kABCD, s, abcd},
      {kZ, kS, z, s}, {kY, kS, testing::Inverse2(z), s}, {kZ, kY, z, testing::Inverse2(z)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " to " + std::to_string(c.to));
    auto f = NewFitter();
    LoadData(*f, 2, c.from, {z01, z02}, {c.input});
    ASSERT_EQ(f->ConvertDataType(c.to), 1);
    ExpectClose(PointValues(*f, 0), c.want, 1e-13);
  }
}

TEST(ConvertDataType, ThroughLineGivesTheUnitOrTransformerChainMatrix) {
  const CMatrix through = {C(0.0), C(1.0), C(1.0), C(0.0)};
  auto f = NewFitter();
  LoadData(*f, 2, kS, {50.0, 50.0}, {through});
  ASSERT_EQ(f->ConvertDataType(kABCD), 1);
  EXPECT_EQ(PointValues(*f, 0), (CMatrix{C(1.0), C(0.0), C(0.0), C(1.0)}));
  // Matched to unequal impedances it is an ideal transformer of ratio
  // sqrt(Z01 / Z02).
  auto g = NewFitter();
  LoadData(*g, 2, kS, {50.0, 12.5}, {through});
  ASSERT_EQ(g->ConvertDataType(kABCD), 1);
  ExpectClose(PointValues(*g, 0), {C(2.0), C(0.0), C(0.0), C(0.5)}, 1e-15);
}

TEST(ConvertDataType, RoundTripsUpTo12PortsWithUnequalImpedances) {
  std::mt19937 rng(5);
  for (int n = 1; n <= 12; ++n) {
    SCOPED_TRACE(std::to_string(n) + " ports");
    std::vector<double> z0;
    for (int k = 0; k < n; ++k) z0.push_back(10.0 + 17.0 * k);
    std::vector<CMatrix> s;
    for (int k = 0; k < 3; ++k) s.push_back(testing::RandomMatrix(rng, n, 0.9));
    // S -> Y -> S, S -> Z -> S, and Y -> Z -> Y on the way.
    for (int via : {kY, kZ}) {
      auto f = NewFitter();
      LoadData(*f, n, kS, z0, s);
      ASSERT_EQ(f->ConvertDataType(via), 1);
      std::vector<CMatrix> first;
      for (int k = 0; k < 3; ++k) first.push_back(PointValues(*f, k));
      ASSERT_EQ(f->ConvertDataType(via == kY ? kZ : kY), 1);
      ASSERT_EQ(f->ConvertDataType(via), 1);
      for (int k = 0; k < 3; ++k) ExpectClose(PointValues(*f, k), first[k], 1e-12);
      ASSERT_EQ(f->ConvertDataType(kS), 1);
      for (int k = 0; k < 3; ++k) ExpectClose(PointValues(*f, k), s[k], 1e-12);
      EXPECT_EQ(f->GetErrorMessage(), nullptr);
    }
  }
}

// Fills the fitter's working storage with NaN, so that a result that read
// anything the conversion did not write itself would show it.
void PoisonWorkspace(cCfit& f, int n) {
  FitterState& s = f.state();
  ASSERT_TRUE(s.EnsureWorkingSet(2 * n, 2 * n));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  WorkingSet& w = s.workspace.work;
  std::fill(w.columns(), w.columns() + static_cast<std::size_t>(w.max_rows()) * w.max_cols(), nan);
  for (double* v : {w.rhs(), w.c(), w.d(), w.work()}) std::fill(v, v + 2 * n, nan);
  s.workspace.conversionRhs.assign(static_cast<std::size_t>(n) * n, Complex(nan, nan));
}

TEST(ConvertDataType, SingularPointsKeepTheSolverOutputAndAreLogged) {
  // A short (S = -1) has no admittance: I + S is zero, the solve gives 0.
  // The regular point beside it converts as usual.
  {
    auto f = NewFitter();
    LoadData(*f, 1, kS, {50.0}, {{C(-1.0)}, {C(0.5)}});
    PoisonWorkspace(*f, 1);
    testing::LogCapture log;
    ASSERT_EQ(f->ConvertDataType(kY), 1);
    EXPECT_EQ(f->GetErrorMessage(), nullptr);
    EXPECT_EQ(PointValues(*f, 0), CMatrix{C(0.0)});
    ExpectClose(PointValues(*f, 1), {C(0.5 / 1.5 / 50.0)}, 1e-15);
    EXPECT_EQ(log.text(),
              "\n*** Data type conversion: singular matrix at 1 of 2 points, first at 1e+09 Hz "
              "***\n");
  }
  // Port 1 shorted, port 2 regular: the singular block gets 0 and the
  // regular one its exact value; nothing stale from the poisoned workspace.
  {
    auto f = NewFitter();
    LoadData(*f, 2, kS, {50.0, 25.0}, {{C(-1.0), C(0.0), C(0.0), C(0.5)}});
    PoisonWorkspace(*f, 2);
    testing::LogCapture log;
    ASSERT_EQ(f->ConvertDataType(kY), 1);
    const CMatrix y = PointValues(*f, 0);
    EXPECT_EQ(y[0], C(0.0));
    EXPECT_EQ(y[1], C(0.0));
    EXPECT_EQ(y[2], C(0.0));
    EXPECT_NEAR(y[3].real(), 0.5 / 1.5 / 25.0, 1e-16);
    EXPECT_EQ(y[3].imag(), 0.0);
    EXPECT_NE(log.text().find("singular matrix at 1 of 1 points"), std::string::npos);
  }
  // A zero Y matrix has no inverse: Z stays zero rather than anything else.
  {
    auto f = NewFitter();
    LoadData(*f, 3, kY, {50.0, 50.0, 50.0}, {CMatrix(9, C(0.0))});
    PoisonWorkspace(*f, 3);
    testing::LogCapture log;
    ASSERT_EQ(f->ConvertDataType(kZ), 1);
    EXPECT_EQ(PointValues(*f, 0), CMatrix(9, C(0.0)));
    EXPECT_NE(log.text().find("singular matrix at 1 of 1 points"), std::string::npos);
  }
  // S21 = 0 has no chain matrix: NaN, not a quotient of a division by zero,
  // and no error.
  {
    auto f = NewFitter();
    LoadData(*f, 2, kS, {50.0, 50.0},
             {{C(0.2), C(0.0), C(0.0), C(0.1)}, {C(0.0), C(1.0), C(1.0), C(0.0)}});
    testing::LogCapture log;
    ASSERT_EQ(f->ConvertDataType(kABCD), 1);
    EXPECT_EQ(f->GetErrorMessage(), nullptr);
    for (const C& v : PointValues(*f, 0)) EXPECT_TRUE(std::isnan(v.real()) && std::isnan(v.imag()));
    EXPECT_EQ(PointValues(*f, 1), (CMatrix{C(1.0), C(0.0), C(0.0), C(1.0)}));
    EXPECT_NE(log.text().find("singular matrix at 1 of 2 points"), std::string::npos);
  }
}

TEST(ConvertDataType, InvalidImpedancesRecord17BeforeAnyPointChanges) {
  const CMatrix m = {C(0.1), C(0.2), C(0.2), C(0.1)};
  for (double bad : {0.0, -50.0, std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity()}) {
    auto f = NewFitter();
    LoadData(*f, 2, kS, {50.0, bad}, {m});
    EXPECT_EQ(f->ConvertDataType(kY), 0);
    EXPECT_EQ(Message(*f), "Invalid characteristic impedance");
    EXPECT_EQ(f->GetDataType(), kS);
    EXPECT_EQ(PointValues(*f, 0), m);
  }
  // Y <-> Z does not use the impedances.
  auto f = NewFitter();
  LoadData(*f, 2, kY, {50.0, 0.0}, {{C(2.0), C(1.0), C(1.0), C(2.0)}});
  ASSERT_EQ(f->ConvertDataType(kZ), 1);
  ExpectClose(PointValues(*f, 0), {C(2.0 / 3), C(-1.0 / 3), C(-1.0 / 3), C(2.0 / 3)}, 1e-15);
}

TEST(LowestPointTransfer, YAndZDataGiveTheTransferOfTheirSMatrix) {
  const double z01 = 50.0, z02 = 12.5;
  const CMatrix z = {C(30.0, 12.0), C(8.0, -3.0), C(45.0, 20.0), C(22.0, -7.0)};
  const CMatrix s = SFromZ(z, z01, z02);
  const CMatrix later = {C(1.0), C(2.0), C(3.0), C(4.0)};
  for (int type : {kY, kZ}) {
    SCOPED_TRACE(type);
    auto f = NewFitter();
    const CMatrix first = type == kZ ? z : testing::Inverse2(z);
    LoadData(*f, 2, type, {z01, z02}, {first, later});
    double magnitude = -1.0;
    ASSERT_EQ(f->GetLowestPointTransfer(1, 0, &magnitude), 1);
    EXPECT_NEAR(magnitude, std::abs(s[2]), 1e-14);
    ASSERT_EQ(f->GetLowestPointTransfer(0, 1, &magnitude), 1);
    EXPECT_NEAR(magnitude, std::abs(s[1]), 1e-14);
    EXPECT_EQ(PointValues(*f, 0), first);  // only a copy was converted
    EXPECT_EQ(f->GetDataType(), type);
    EXPECT_EQ(f->GetLowestPointTransfer(1, 1, &magnitude), 0);
    EXPECT_EQ(magnitude, 0.0);
  }
  // Impedances the scaling cannot use: 17, magnitude 0.
  auto f = NewFitter();
  LoadData(*f, 2, kZ, {50.0, 0.0}, {z});
  double magnitude = -1.0;
  EXPECT_EQ(f->GetLowestPointTransfer(1, 0, &magnitude), 0);
  EXPECT_EQ(magnitude, 0.0);
  EXPECT_EQ(Message(*f), "Invalid characteristic impedance");
}

}  // namespace
}  // namespace cfit
