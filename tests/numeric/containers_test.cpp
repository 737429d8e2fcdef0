// Port matrices, pole terms and the element table.
#include <gtest/gtest.h>

#include "numeric/element_table.h"
#include "numeric/pole_term.h"
#include "numeric/port_matrix.h"

namespace cfit {
namespace {

TEST(PortMatrix, OutOfRangeAccessIsRefused) {
  PortMatrix m(2);
  m.At(0, 0) = {7.0, -1.0};
  EXPECT_EQ(m.Get(5, 0), Complex(0.0, 0.0));
  EXPECT_EQ(m.Get(-1, 1), Complex(0.0, 0.0));
  EXPECT_FALSE(m.Set(5, 0, {3.0, 3.0}));
  EXPECT_EQ(m.At(0, 0), Complex(7.0, -1.0));
}

// Aggregates and norms in closed form; an empty matrix never touches memory.
TEST(PortMatrix, AggregatesNormsAndTheEmptyMatrix) {
  PortMatrix m(3);
  m.At(0, 1) = {3.0, 4.0};  // |.| = 5
  m.At(1, 0) = {3.0, 0.0};
  m.At(2, 2) = {-2.0, 0.0};
  EXPECT_DOUBLE_EQ(m.RowSumNorm(), 5.0);
  EXPECT_DOUBLE_EQ(m.AsymmetryNorm(), 4.0);  // |a01 - a10| in rows 0 and 1
  m.SumAll();
  EXPECT_EQ(m.aggregate(), Complex(4.0, 4.0));
  m.Trace();
  EXPECT_EQ(m.aggregate(), Complex(-2.0, 0.0));
  m.AlternatingSum();  // + a00 - a01 + a02 - a10 + ... (i + j odd negative)
  EXPECT_EQ(m.aggregate(), Complex(-8.0, -4.0));
  PortMatrix empty(0);
  EXPECT_FALSE(empty.Set(0, 0, {1.0, 0.0}));
  EXPECT_EQ(empty.Get(0, 0), Complex(0.0, 0.0));
}

TEST(PoleTerm, RealPolesRefuseComplexResidues) {
  PoleTerm t(1);
  EXPECT_TRUE(t.IsReal());
  EXPECT_FALSE(t.SetResidue00({1.0, 0.5}));
  EXPECT_EQ(t.GetResidue00(), Complex(0.0, 0.0));
  EXPECT_TRUE(t.SetResidue00({1.0, 0.0}));
  EXPECT_EQ(t.GetResidue00(), Complex(1.0, 0.0));
  t.SetPole(2.0, -3.0);
  EXPECT_FALSE(t.IsReal());
  EXPECT_TRUE(t.SetResidue00({1.0, 0.5}));
  t.SetPole(2.0, 0.0);
  EXPECT_TRUE(t.IsReal());
  PoleTerm matrix(3);  // residue indices outside 0..2 are refused
  EXPECT_FALSE(matrix.SetResidue(3, 0, {1.0, 0.0}));
  EXPECT_FALSE(matrix.SetResidue(0, -1, {1.0, 0.0}));
  EXPECT_EQ(matrix.GetResidue(0, 3), Complex(0.0, 0.0));
  EXPECT_TRUE(matrix.SetResidue(2, 1, {4.0, 0.0}));
  EXPECT_EQ(matrix.GetResidue(2, 1), Complex(4.0, 0.0));
  EXPECT_EQ(matrix.GetResidue(1, 2), Complex(0.0, 0.0));
}

TEST(PoleTerm, QualityRatioAndNegligibility) {
  PoleTerm t(1);
  t.SetPole(0.0, 5.0);
  EXPECT_EQ(t.QualityRatio(), 1e10);
  t.SetPole(-2.0, 6.0);
  EXPECT_DOUBLE_EQ(t.QualityRatio(), 3.0);
  ASSERT_TRUE(t.SetResidue00({0.1, -0.1}));
  // (|0.1| + |-0.1|) * (1 + 3) = 0.8
  EXPECT_TRUE(t.IsNegligible(0.8));
  EXPECT_FALSE(t.IsNegligible(0.79));
  PoleTerm real(1);
  real.SetPole(5.0, 0.0);
  ASSERT_TRUE(real.SetResidue00({0.3, 0.0}));
  EXPECT_TRUE(real.IsNegligible(0.3));
  EXPECT_FALSE(real.IsNegligible(0.29));
}

// The setters through the fitter are in the api tests; here the defaults per
// data type, requests outside the table and the fallback element.
TEST(ElementTable, DefaultsPerTypeAndRequestsOutsideTheTable) {
  const int modes[] = {1, 1, 2, 2, 1, 0};  // none, S, Y, Z, ABCD, pulse model
  for (int type = 0; type <= 5; ++type)
    EXPECT_EQ(ElementTable(2, type).AsymptoteModeAt(1, 0), modes[type]);
  ElementTable t(2, 1);
  EXPECT_EQ(t.DcFlagAt(1, 1), 1);
  EXPECT_FALSE(t.HasDcValues());
  EXPECT_EQ(t.DcValueAt(0, 0), kUnset);
  t.SetAsymptote(1, 7, 0, 1.0, true);  // outside the table: ignored
  t.SetAsymptote(0, 1, 0, 0.5, false);
  EXPECT_EQ(t.AsymptoteModeAt(0, 1), 1);  // not mirrored without symmetry
  EXPECT_EQ(t.AsymptoteModeAt(9, 9, 1, 0), 0);
  EXPECT_EQ(t.ConstantValueAt(-1, 0, 1, 0), 0.5);
  EXPECT_EQ(t.AsymptoteModeAt(9, 9), 1);  // (0, 0)
  EXPECT_EQ(ElementTable(0, 1).DcFlagAt(0, 0), 1);
}

}  // namespace
}  // namespace cfit
