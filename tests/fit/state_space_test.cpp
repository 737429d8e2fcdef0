// The state-space realisation: its blocks are the model's poles; bad models
// are refused. That it evaluates as the models fitted to real files is
// checked with their equivalent circuits (io/equivalent_circuit_test.cpp).
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
