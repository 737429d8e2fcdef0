// The state-space realisation: it evaluates as the model it realises (delays
// removed) on models fitted to real files, individual and common, S, Y and Z,
// symmetric or not; its blocks are the model's poles; bad models are refused.
#include "fit/state_space.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "core/network.h"
#include "fit/model_evaluation.h"
#include "io/io_support.h"

namespace cfit {
namespace {

using namespace testing;

struct RealCase {
  const char* file;
  int dataType;  // the fitted type (the file's S data converted)
  bool individualPoles;
};

const RealCase kRealCases[] = {
    {"ring_slot_measured.s1p", kS, true},
    {"bandpass_filter_lumped_sim.s2p", kS, true},  // symmetric
    {"bandpass_filter_lumped_sim.s2p", kY, true},  // proportional terms
    {"lowpass_filter_measured.s2p", kZ, true},
    {"coupled_lines_diff_2xthru.s4p", kS, false},
    {"transformer_4port_sim.s4p", kY, false},
    {"package_8port_sim.s8p", kS, false},
};

// Largest |H_realisation - H_model| over every element at 0 Hz, across the
// band and beyond it, relative to the model's scale: the largest of |H| and
// of the sum of |d| and the terms' |R| of an element (the model's own values
// are only defined to the rounding of its largest terms, which cancel in a
// common-pole fit of nearly lossless lines).
double RelativeMismatch(const Model& model, const ElementTable* elements, const StateSpace& ss) {
  Model undelayed = model;
  std::fill(undelayed.delay.begin(), undelayed.delay.end(), 0.0);
  const ModelView view{&undelayed, elements, undelayed.individual(), undelayed.symmetric};
  double worst = 0.0, scale = 0.0;
  for (int e = 0; e < model.n * model.n; ++e) {
    const int i = e / model.n, j = e % model.n;
    double terms = std::fabs(model.constant[static_cast<std::size_t>(e)]);
    const std::size_t source = model.symmetric && i < j ? model.Index(j, i) : model.Index(i, j);
    for (const PoleTerm& t : model.individual() ? model.elementPoles[source] : model.commonPoles) {
      terms += Abs(model.individual() ? t.GetResidue00() : t.GetResidue(i, j));
    }
    scale = std::max(scale, terms);
  }
  for (double f : {0.0, 1e3, 1e6, 1e8, 3e8, 1e9, 2.5e9, 7e9, 2e10, 6e10, 3e11, 1e13}) {
    const std::vector<Complex> h = EvaluateRealization(ss, f);
    for (int e = 0; e < model.n * model.n; ++e) {
      const Complex want = EvaluateElement(view, e / model.n, e % model.n, f);
      worst = std::max(worst, Abs(h[static_cast<std::size_t>(e)] - want));
      scale = std::max(scale, Abs(want));
    }
  }
  return worst / scale;
}

TEST(StateSpaceRealisation, EvaluatesAsTheFittedModelsOfRealFiles) {
  bool symmetric = false, proportional = false;
  for (const RealCase& c : kRealCases) {
    SCOPED_TRACE(std::string(c.file) + " type " + std::to_string(c.dataType));
    LogCapture quiet;
    cFitParams params;
    params.individualPoles = c.individualPoles;
    auto fitter = NewFitter(params);
    ASSERT_GT(fitter->ReadTouchstone(RealFile(c.file).c_str()), 0);
    if (c.dataType != kS) {
      ASSERT_EQ(fitter->ConvertDataType(c.dataType), 1);
    }
    ASSERT_EQ(fitter->Fit(), 1) << Message(*fitter);
    const Model& model = *fitter->state().model;
    const ElementTable* elements = fitter->state().network.elements.get();
    auto dense = Realize(model, elements);
    auto sparse = Realize(model, elements, false);
    ASSERT_TRUE(dense.ok() && sparse.ok());
    EXPECT_LT(RelativeMismatch(model, elements, *dense), 1e-12);
    EXPECT_LT(RelativeMismatch(model, elements, *sparse), 1e-12);
    EXPECT_TRUE(sparse->a.empty() && sparse->b.empty() && sparse->c.empty());

    // The states: one per real pole and two per pair, per element or, with
    // common poles, per input port.
    int perList = 0;
    for (const PoleTerm& t : model.commonPoles) perList += t.IsReal() ? 1 : 2;
    if (!model.individual()) {
      EXPECT_EQ(dense->states, model.n * perList);
    }
    symmetric = symmetric || model.symmetric;
    for (double x : dense->e) proportional = proportional || x != 0.0;
  }
  EXPECT_TRUE(symmetric && proportional);
}

// The blocks of A carry the poles s = -2 pi P of the stored terms, B feeds
// each block from its input port only, and A has nothing off its blocks.
TEST(StateSpaceRealisation, BlocksHoldThePolesOfAHandMadeModel) {
  Model m = Model::Empty(2);
  m.symmetric = true;
  auto add = [&](int i, int j, Complex p, Complex r) {
    PoleTerm& t = m.elementPoles[m.Index(i, j)].emplace_back();
    t.SetPole(p);
    t.SetResidue00(r);
  };
  add(0, 0, {1e9, 0}, {0.3, 0});
  add(1, 0, {2e8, -3e9}, {0.1, -0.4});
  add(1, 1, {1e25, 0}, {0.25, 0});  // stands for a constant
  m.constant = {0.5, 0.0, 0.0, 0.1};
  m.delay = {0.0, 1e-9, 1e-9, 0.0};
  auto ss = Realize(m, nullptr);
  ASSERT_TRUE(ss.ok());
  // (0, 0): one real state; (0, 1) and (1, 0): a pair each (symmetric).
  ASSERT_EQ(ss->states, 5);
  EXPECT_DOUBLE_EQ(ss->d[3], 0.35);
  EXPECT_EQ(ss->delay, m.delay);
  const double twoPi = 2 * std::numbers::pi;
  const struct {
    int first, input, output;
    double sigma, omega;
  } expected[] = {{0, 0, 0, -twoPi * 1e9, 0.0},
                  {1, 1, 0, -twoPi * 2e8, twoPi * 3e9},
                  {3, 0, 1, -twoPi * 2e8, twoPi * 3e9}};
  ASSERT_EQ(ss->blocks.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    const StateBlock& b = ss->blocks[k];
    EXPECT_EQ(b.first, expected[k].first);
    EXPECT_EQ(b.input, expected[k].input);
    EXPECT_EQ(b.output, expected[k].output);
    EXPECT_NEAR(b.sigma, expected[k].sigma, 1e-6);
    EXPECT_NEAR(b.omega, expected[k].omega, 1e-6);
  }
  int offBlock = 0, wrongFeed = 0;
  for (int r = 0; r < 5; ++r) {
    const int block = r == 0 ? 0 : (r < 3 ? 1 : 2);
    for (int c = 0; c < 5; ++c) {
      const int other = c == 0 ? 0 : (c < 3 ? 1 : 2);
      offBlock += block != other && ss->a[static_cast<std::size_t>(r * 5 + c)] != 0.0;
    }
    for (int j = 0; j < 2; ++j) {
      wrongFeed += j != ss->blocks[block].input && ss->b[static_cast<std::size_t>(r * 2 + j)] != 0;
    }
  }
  EXPECT_EQ(offBlock + wrongFeed, 0);
  // A real pole's closed form at one frequency: 0.5 + 0.3 / (1 + j f / 1e9).
  const Complex h = EvaluateRealization(*ss, 2e9)[0];
  const Complex want = Complex(0.5, 0) + Complex(0.3, 0) / Complex(1.0, 2.0);
  EXPECT_NEAR(Abs(h - want), 0.0, 1e-15);
}

TEST(StateSpaceRealisation, RefusesModelsNoStableSystemHolds) {
  auto onePole = [](Complex p, Complex r) {
    Model m = Model::Empty(1);
    m.elementPoles[0].emplace_back().SetPole(p);
    m.elementPoles[0].back().SetResidue00(r);
    return m;
  };
  Model badTable = Model::Empty(2);
  badTable.constant.resize(3);
  const struct {
    const char* name;
    Model model;
    ErrorCode code;
  } cases[] = {
      {"unstable pole", onePole({-1e9, 0}, {1, 0}), ErrorCode::kCorruptedFit},
      {"pole on the axis", onePole({0, -1e9}, {1, 0}), ErrorCode::kCorruptedFit},
      {"pole not a number", onePole({NAN, 0}, {1, 0}), ErrorCode::kCorruptedFit},
      {"infinite residue", onePole({1e9, -1e9}, {INFINITY, 0}), ErrorCode::kCorruptedFit},
      {"table of another size", badTable, ErrorCode::kInvalidArguments},
      {"no ports", Model{}, ErrorCode::kInvalidArguments},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto ss = Realize(c.model, nullptr);
    ASSERT_FALSE(ss.ok());
    EXPECT_EQ(ss.failure().code, c.code);
  }
}

}  // namespace
}  // namespace cfit
