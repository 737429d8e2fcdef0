// Mixed-mode conversion of models: shared poles merge, exact cancellation,
// and a converted model (plain or symmetric, with constants and proportional
// terms) evaluates to the converted sweep of the original model. The data conversion itself is
// cross-checked against scikit-rf on the real 4-port files by
// skrf_crosscheck.py from the dump at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "network/network_support.h"
#include "support/fitter_fixtures.h"

namespace cfit {
namespace {

using namespace testing;

std::vector<C> Poles(cCfit& f, int i, int j) {
  int count = -1;
  double d, e, tau;
  EXPECT_EQ(f.GetElementModelInfo(i, j, &count, &d, &e, &tau), 1);
  std::vector<double> p(2 * count + 2), r(2 * count + 2);
  f.GetElementPolesResidues(i, j, p.data(), r.data());
  std::vector<C> residues;
  for (int k = 0; k < count; ++k) residues.emplace_back(r[2 * k], r[2 * k + 1]);
  return residues;
}

void ExpectResidues(const std::vector<C>& got, const std::vector<C>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t k = 0; k < got.size(); ++k) EXPECT_LE(std::abs(got[k] - want[k]), 1e-15);
}

// A pole shared by the four elements that make new (d1, d1) comes out as
// one term with the combined residue; residues that cancel exactly leave no
// term, and the pole of only one contributing element comes out halved.
TEST(MixedMode, SharedPolesMergeAndExactCancellationRemovesTheTerm) {
  auto f = NewFitter();
  ASSERT_EQ(f->DefineModel(4, kS, nullptr, false), 1);
  const C shared(1e9, 0.0), own(2e9, -3e9);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      std::vector<Term> terms = {{shared, C(i == j ? 0.4 : 0.1 * (i + 1), 0.0)}};
      if (i == 1 && j == 1) terms.push_back({own, C(0.2, 0.1)});
      ASSERT_EQ(SetTerms(*f, i, j, terms, 0.0, 0.0), 1);
    }
  }
  ASSERT_EQ(f->ConvertToMixedMode(1, 2, 3, 4), 1);
  // (d1, d1) = (X11 - X12 - X21 + X22)/2: shared 0.4 - 0.1 - 0.2 + 0.4 = 0.5,
  // own (0.2, 0.1)/2.
  ExpectResidues(Poles(*f, 0, 0), {C(0.25, 0.0), C(0.1, 0.05)});
  // (c2, d2) = (X33 - X34 + X43 - X44)/2: 0.4 - 0.3 + 0.4 - 0.4 = 0.05.
  ExpectResidues(Poles(*f, 3, 1), {C(0.05, 0.0)});
  // (d2, d1) = (X31 - X32 - X41 + X42)/2: 0.3 - 0.3 - 0.4 + 0.4 = 0 exactly.
  EXPECT_TRUE(Poles(*f, 1, 0).empty());
}

// A fitter holding a model and its sweep at `frequencies` as data.
std::unique_ptr<cCfit> ModelWithSweep(int type, bool symmetric, const std::vector<double>& freqs) {
  auto f = NewFitter();
  const double z0[] = {50, 50, 50, 50};
  EXPECT_EQ(f->DefineModel(4, type, z0, symmetric), 1);
  const double scale = type == kY ? 0.02 : type == kZ ? 50.0 : 1.0;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j <= (symmetric ? i : 3); ++j) {
      const double u = 1.0 + i + 2.0 * j;
      std::vector<Term> terms = {{C(1e9, 0.0), scale * C(0.1 * u, 0.0)},
                                 {C(1e9 * u, -2e9 * u), scale * C(0.05, -0.01 * u)}};
      if ((i + j) % 2 == 0) terms.push_back({C(3e8 * u, 0.0), scale * C(-0.02 * u, 0.0)});
      EXPECT_EQ(
          SetTerms(*f, i, j, terms, scale * (0.3 - 0.1 * u), scale * 1e-12 * u * (type != kS)), 1);
    }
  }
  EXPECT_EQ(f->SweepModelAtList(static_cast<int>(freqs.size()), freqs.data()), 1);
  return f;
}

double LargestModelDataDifference(cCfit& f) {
  double worst = 0.0;
  for (ConstMatrixView p : f.state().network.data->points()) {
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) {
        double v[2];
        EXPECT_EQ(f.EvaluateModelElement(i, j, p.frequency(), v), 1);
        worst = std::max(worst, std::abs(C(v[0], v[1]) - C(p.At(i, j).re, p.At(i, j).im)));
      }
    }
  }
  return worst;
}

// Converting the model and evaluating it agrees with converting the model's
// sweep, for every element, to mixed mode and back, for plain and
// symmetric models of each type (constants above the diagonal of a symmetric
// model and proportional terms included).
TEST(MixedMode, ConvertedModelsEvaluateAsTheConvertedSweep) {
  const std::vector<double> freqs = {0.0, 1e8, 7e8, 1.3e9, 4e9, 2e10};
  const struct {
    int type;
    bool symmetric;
  } cases[] = {{kS, false}, {kS, true}, {kY, false}, {kY, true}, {kZ, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + (c.symmetric ? " symmetric" : ""));
    auto f = ModelWithSweep(c.type, c.symmetric, freqs);
    const std::vector<Complex> original = Values(*f);
    const double scale = c.type == kY ? 0.02 : c.type == kZ ? 50.0 : 1.0;
    for (const auto& [a, b, cc, d] : {std::array{1, 3, 2, 4}, std::array{4, 1, 2, 3}}) {
      ASSERT_EQ(f->ConvertToMixedMode(a, b, cc, d), 1);
      EXPECT_TRUE(f->IsMixedMode());
      EXPECT_LE(LargestModelDataDifference(*f), 1e-12 * scale);
      ASSERT_EQ(f->ConvertToStandardMode(a, b, cc, d), 1);
      EXPECT_FALSE(f->IsMixedMode());
      EXPECT_LE(LargestModelDataDifference(*f), 1e-12 * scale);
    }
    const std::vector<Complex> back = Values(*f);
    for (std::size_t k = 0; k < back.size(); ++k)
      EXPECT_NEAR(Abs(back[k] - original[k]), 0, 1e-12 * scale);
    // Converting twice in the same direction applies the conversion twice.
    ASSERT_EQ(f->ConvertToMixedMode(1, 3, 2, 4), 1);
    const std::vector<Complex> once = Values(*f);
    ASSERT_EQ(f->ConvertToMixedMode(1, 3, 2, 4), 1);
    EXPECT_NE(Values(*f), once);
    EXPECT_LE(LargestModelDataDifference(*f), 1e-12 * scale);
  }
}

// A model with common poles (41) or a delay (43) is refused after the data
// were converted: the mode flag is set, the model is kept as it was.
TEST(MixedMode, ModelRefusalsComeAfterTheData) {
  for (ErrorCode code : {ErrorCode::kNeedsIndividualPoles, ErrorCode::kNeedsNoDelays}) {
    const bool common = code == ErrorCode::kNeedsIndividualPoles;
    auto f = NewFitter(testing::SmallParams(!common));
    testing::LoadSynthetic(*f, 4, kS);
    testing::LogCapture quiet;
    ASSERT_EQ(f->Fit(), 1);
    if (!common) f->state().model->delay[5] = 1e-10;
    const Model before = *f->state().model;
    const std::vector<Complex> data = Values(*f);
    EXPECT_EQ(f->ConvertToMixedMode(1, 2, 3, 4), 0);
    EXPECT_EQ(Message(*f), FitErrorText(static_cast<int>(code)));
    EXPECT_TRUE(f->IsMixedMode());
    EXPECT_NE(Values(*f), data);
    EXPECT_EQ(f->state().model->constant, before.constant);
    EXPECT_EQ(f->state().model->delay, before.delay);
  }
}

// Every real 4-port file converted to mixed mode with the pairs (1, 2),
// (3, 4) and (1, 3), (2, 4), dumped for the scikit-rf cross-check: int32 a,
// b, c, d, points; the reference impedance (double); then the input and
// output values (re, im pairs, row by row, point by point).
TEST(RealFileMixedMode, EveryFourPortFile) {
  if (RealFiles().empty()) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  int converted = 0;
  for (const auto& path : RealFiles()) {
    for (const auto& ports : {std::array{1, 2, 3, 4}, std::array{1, 3, 2, 4}}) {
      const auto f = ReadAsWritten(path);
      if (f == nullptr || f->GetPortCount() != 4) break;
      SCOPED_TRACE(path.filename().string());
      const SampledData input = *f->state().network.data;
      ASSERT_EQ(f->ConvertToMixedMode(ports[0], ports[1], ports[2], ports[3]), 1);
      Dump(path.filename().string() + "." + std::to_string(ports[1]))
          .Write(std::vector<std::int32_t>{ports[0], ports[1], ports[2], ports[3],
                                           input.point_count()})
          .Write(std::vector<double>{f->GetReferenceImpedances()[0]})
          .Write(input)
          .Write(*f->state().network.data);
      converted += ports[1] == 2;
    }
  }
  EXPECT_GE(converted, 3);
}

}  // namespace
}  // namespace cfit
