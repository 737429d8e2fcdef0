// The port solver against the exact convolution: the closed-form responses
// of the model to a trapezoid with its corners on the time grid (which the
// recursion, taking the input as linear over each step, must reproduce to
// rounding), and the response to a smooth input, computed here in closed
// form, which it must approach as dt^2, with fixed and variable steps, real
// poles, complex pairs, a constant, delays shorter and longer than the step,
// and a term proportional to frequency.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "api/errors.h"
#include "support/fitter_fixtures.h"
#include "timedomain/delay_line.h"
#include "timedomain/one_port_models.h"
#include "timedomain/time_response.h"

namespace cfit {
namespace {

using std::numbers::pi;
using C = std::complex<double>;
using testing::Fitter;
using testing::MakeFitter;
using Solver = std::unique_ptr<cCPSolver>;

using Model = testing::OnePort;
using testing::Defined;

Solver Built(cFitAPI& f, int type) {
  Solver s(f.CreateSolver(type));
  EXPECT_TRUE(s != nullptr);
  if (s != nullptr) {
    EXPECT_EQ(s->BuildElements(0, 0, 0, 0), 1);
  }
  return s;
}

// Drives a 1-port solver with u(t) at the grid times (times[0] = 0) and
// returns the output G u - H at each time after the first.
std::vector<double> Drive(cCPSolver& s, const std::function<double(double)>& u,
                          const std::vector<double>& times, bool fixed) {
  double g = 0, h = 0, *G = &g;
  std::vector<double> y;
  const double u0 = u(0);
  if (fixed) {
    EXPECT_EQ(s.StartFixedStep(&u0, times[1], &G, &h), 1);
    for (std::size_t k = 1; k < times.size(); ++k) {
      const double uk = u(times[k]);
      y.push_back(g * uk - h);
      EXPECT_EQ(s.Step(&uk, &h), 1);
    }
    return y;
  }
  EXPECT_EQ(s.Start(&u0, 0.0), 1);
  for (std::size_t k = 1; k < times.size(); ++k) {
    const double uk = u(times[k]);
    EXPECT_EQ(s.Advance(times[k], &uk, &G, &h), 1);
    y.push_back(g * uk - h);
  }
  return y;
}

// Uniform steps of h, or steps alternating 0.7 h and 1.3 h.
std::vector<double> Grid(double h, double end, bool uneven) {
  std::vector<double> t = {0.0};
  for (int k = 0; t.back() < end; ++k)
    t.push_back(uneven ? (k / 2) * 2 * h + (k % 2 == 0 ? 0.7 * h : 2 * h) : (k + 1) * h);
  return t;
}

// g (delta - S) for an S 1-port, the model itself for Y and Z.
double Port(const Model& m, double u, double modelValue) {
  return m.type == kS ? 0.01 * (u - modelValue) : modelValue;
}

const std::vector<Model> kModels = {
    {"RealPoles", kY, {1e9, 0, 3e9, 0}, {0.02, 0, -0.01, 0}, 0.005, 0, 0},
    {"ComplexPair", kZ, {5e8, -2e9}, {30, -10}, 20, 0, 0},
    {"Constant", kY, {1e9, 0}, {0, 0}, 0.01, 0, 0},
    {"DelayShorterThanStep", kS, {2e9, 0}, {0.3, 0}, 0.1, 0, 1.3e-12},
    {"PairWithDelay", kS, {4e8, -1.7e9, 2e9, 0}, {0.2, 0.3, -0.1, 0}, 0.2, 0, 1.37e-10},
    {"Inductance", kZ, {1e9, 0}, {20, 0}, 10, 2 * pi * 1e-9, 3e-11},
};

struct Case {
  Model model;
  bool fixed;
};
std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const Model& m : kModels) cases.push_back({m, true}), cases.push_back({m, false});
  return cases;
}

class Convergence : public ::testing::TestWithParam<Case> {};

// A trapezoid whose corners lie on the grid is linear over every step: the
// output equals the closed-form response at every grid time, whatever the
// step (a delay that is a multiple of the step keeps the delayed corners on
// the grid too). A rise of one step is how the solver sees a sharp step.
TEST_P(Convergence, TrapezoidOnTheGridIsExact) {
  Model m = GetParam().model;
  const double h = 2.5e-12;
  if (m.tau != 0) m.tau = 12 * h;
  Fitter f = Defined(m);
  const TimeDomainElement element = TimeDomainElementOf(ViewOf(f->state()), 0, 0);
  for (double rise : {h, 40 * h}) {
    TimeResponseParameters p;
    p.kind = 3, p.riseTime = rise, p.width = 100 * h, p.fallTime = 60 * h;
    auto u = [&](double t) {
      return std::clamp(std::min(t / rise, (p.width + p.fallTime - t) / p.fallTime), 0.0, 1.0);
    };
    Solver s = Built(*f, m.type);
    const std::vector<double> times = Grid(h, 400 * h, false);
    const std::vector<double> y = Drive(*s, u, times, GetParam().fixed);
    double peak = 0;
    for (std::size_t k = 1; k < times.size(); ++k)
      peak = std::max(peak, std::abs(EvaluateTimeResponse(element, p, times[k]).value));
    for (std::size_t k = 1; k < times.size(); ++k) {
      const double exact = Port(m, u(times[k]), EvaluateTimeResponse(element, p, times[k]).value);
      ASSERT_NEAR(y[k - 1], exact, 1e-10 * (1 + peak)) << rise << " " << times[k];
    }
  }
}

// The input u = (1 - cos(w0 t)) / 2 over [0, pi / w0], then 1, and the
// element's exact response to it: per pole term r (-p) / (s - p) = r -
// r s / (s - p), the output is r u(T) - r (exp(p .) * u')(T).
double SmoothInput(double t, double w0) {
  return t <= 0 ? 0 : t >= pi / w0 ? 1 : 0.5 * (1 - std::cos(w0 * t));
}
double SmoothResponse(const TimeDomainElement& el, double t, double w0) {
  const double T = t - el.tau;
  if (T <= 0) return 0;
  const double u = SmoothInput(T, w0), end = std::min(T, pi / w0);
  const double slope = T < pi / w0 ? 0.5 * w0 * std::sin(w0 * T) : 0.0;
  double y = el.d * u + el.e / (2 * pi) * slope;
  for (const TimePole& pole : el.poles) {
    // exp(p T) times the integral over [0, end] of exp(-p s) sin(w0 s).
    const C a(-pole.p.real(), w0 - pole.p.imag()), b(-pole.p.real(), -w0 - pole.p.imag());
    const C ea = std::exp(pole.p * (T - end) + C(0, w0 * end)),
            eb = std::exp(pole.p * (T - end) - C(0, w0 * end)), e0 = std::exp(pole.p * T);
    const C integral = ((ea - e0) / a - (eb - e0) / b) / C(0, 2);
    y += (pole.r * u - pole.r * 0.5 * w0 * integral).real();
  }
  return y;
}

// With a smooth input, delays off the grid and uneven variable steps, the
// error stays within that of interpolating the input linearly over a step,
// which falls as dt^2 (the proportional term's backward difference: as dt,
// within a margin of 1.5 over an eightfold refinement), down to rounding.
TEST_P(Convergence, SmoothInputConvergesAsTheSquareOfTheStep) {
  const Model& m = GetParam().model;
  Fitter f = Defined(m);
  const TimeDomainElement element = TimeDomainElementOf(ViewOf(f->state()), 0, 0);
  const double w0 = pi / 1e-10, order = m.e != 0 ? 1 : 2;
  double first = 0, error = 0, peak = 0;
  for (double h : {4e-12, 2e-12, 1e-12, 5e-13}) {
    Solver s = Built(*f, m.type);
    const std::vector<double> times = Grid(h, 5e-10, !GetParam().fixed);
    const std::vector<double> y = Drive(
        *s, [&](double t) { return SmoothInput(t, w0); }, times, GetParam().fixed);
    error = 0;
    for (std::size_t k = 1; k < times.size(); ++k) {
      const double exact =
          Port(m, SmoothInput(times[k], w0), SmoothResponse(element, times[k], w0));
      error = std::max(error, std::abs(y[k - 1] - exact));
      peak = std::max(peak, std::abs(exact));
    }
    // Second order: within the error of interpolating the input linearly,
    // h^2 max|u''| / 8 with max|u''| = w0^2 / 2, relative to the peak.
    if (first == 0) first = error / h;
    const double bound = order == 2 ? h * h * w0 * w0 / 16 * peak : 1.5 * first * h;
    EXPECT_LE(error, std::max(bound, 1e-12 * peak)) << h;
  }
  EXPECT_LT(error, (order == 2 ? 1e-4 : 1e-2) * peak);
}

INSTANTIATE_TEST_SUITE_P(Models, Convergence, ::testing::ValuesIn(Cases()), [](const auto& info) {
  return std::string(info.param.model.name) + (info.param.fixed ? "Fixed" : "Variable");
});

// An R-L-C impedance whose capacitor is a pole at 1e-10 Hz (residue 1.6e21
// ohm) at a step of 1 ps: driven by a current ramp i = t / T0 it gives
// R i + L / T0 + t^2 / (2 C T0); the step's coefficients must not cancel.
TEST(PortSolver, StandInPoleFarBelowTheStepKeepsItsDigits) {
  const double R = 10, L = 1e-9, Cap = 1e-12, P = 1e-10, T0 = 1e-10;
  const Model m = {"RLC", kZ, {P, 0}, {1 / (2 * pi * P * Cap), 0}, R, 2 * pi * L, 0};
  Fitter f = Defined(m);
  for (bool fixed : {true, false}) {
    Solver s = Built(*f, kZ);
    const std::vector<double> times = Grid(1e-12, T0, false);
    const std::vector<double> v = Drive(
        *s, [&](double t) { return t / T0; }, times, fixed);
    for (std::size_t k = 1; k < times.size(); ++k) {
      const double t = times[k], exact = R * t / T0 + L / T0 + t * t / (2 * Cap * T0);
      ASSERT_NEAR(v[k - 1], exact, 1e-9 * exact) << t;
    }
  }
}

// A delayed S element whose undelayed gain g is the direct gain: under a
// constant input its output is the DC value at every step, and the DC value
// does not change once stepping has started.
TEST(PortSolver, DelayedDiagonalHoldsItsDcValue) {
  const Model m = {"Delayed", kS, {1e9, 0}, {0.3, 0}, 0.1, 0, 5e-11};
  Fitter f = Defined(m);
  const double dc = 0.01 * (1 - 0.4);
  for (bool fixed : {true, false}) {
    Solver s = Built(*f, kS);
    double before = 0, after = 0, *rowBefore = &before, *rowAfter = &after;
    ASSERT_EQ(s->GetDCMatrix(&rowBefore), 1);
    EXPECT_NEAR(before, dc, 1e-17);
    for (double y : Drive(
             *s, [](double) { return 2.0; }, Grid(1e-11, 1e-9, !fixed), fixed))
      ASSERT_NEAR(y, 2 * dc, 1e-15);
    ASSERT_EQ(s->GetDCMatrix(&rowAfter), 1);
    EXPECT_EQ(after, before);
    double response[2];
    EXPECT_EQ(s->GetElementResponse(0, 0, 0.0, response), 1);
    EXPECT_NEAR(response[0], dc, 1e-17);
    // Away from DC: g (1 - S) without the delay.
    EXPECT_EQ(s->GetElementResponse(0, 0, 1e9, response), 1);
    const C S = 0.1 + 0.3 / C(1, 1e9 / 1e9), expected = 0.01 * (1.0 - S);
    EXPECT_NEAR(response[0], expected.real(), 1e-15);
    EXPECT_NEAR(response[1], expected.imag(), 1e-15);
  }
}

// One rejected point can be retried: going back to a time after the last
// accepted one gives what going there directly gives; further back fails;
// a time within 1e-20 of the present one changes nothing.
TEST(PortSolver, VariableStepRollsBackOnePoint) {
  Fitter f = Defined(kModels[4]);
  auto run = [&](bool reject) {
    Solver s = Built(*f, kS);
    double g = 0, h = 0, *G = &g;
    const double u0 = 0, u1 = 0.5, u2 = 1, bad = 7;
    EXPECT_EQ(s->Start(&u0, 0), 1);
    EXPECT_EQ(s->Advance(1e-10, &u1, &G, &h), 1);
    if (reject) {
      EXPECT_EQ(s->Advance(3e-10, &bad, &G, &h), 1);
      const double rejected = h;
      EXPECT_EQ(s->Advance(3e-10, &u2, &G, &h), 1);
      EXPECT_EQ(h, rejected);
    }
    EXPECT_EQ(s->Advance(2e-10, &u2, &G, &h), 1);
    const std::pair<double, double> result = {g, h};
    // Within 1e-20 the point is accepted but nothing moves.
    EXPECT_EQ(s->Advance(2e-10 + 1e-21, &u2, &G, &h), 1);
    EXPECT_EQ(std::make_pair(g, h), result);
    EXPECT_EQ(s->Advance(0.5e-10, &u2, &G, &h), 0);
    return result;
  };
  EXPECT_EQ(run(true), run(false));
}

// Mixed mode: the elements act on modes (differential and common of each
// pair), the gains come back in ports. With modal DC values a, b, c, e of
// the diagonal and pairs (1, 3) and (2, 4), port 1 sees (a + c) / 2 and
// its partner (c - a) / 2.
// A mixed-mode 4-port Y model of one pole per element whose DC value is
// dc(e), with reference impedances z (null: 50 ohm).
Fitter MixedFourPort(const std::function<double(int)>& dc, const double* z) {
  Fitter f = MakeFitter();
  f->DefineModel(4, kY, z, false);
  for (int e = 0; e < 16; ++e) {
    const double pole[2] = {1e9, 0}, residue[2] = {dc(e), 0};
    f->SetElementModel(e / 4, e % 4, 1, 0, 0, 0, pole, residue);
  }
  EXPECT_EQ(f->SetMixedModeFlag(), 1);
  return f;
}

TEST(PortSolver, MixedModeConvertsModesToPorts) {
  const double dc[4] = {0.01, 0.02, 0.03, 0.05};
  Fitter f = MixedFourPort([&](int e) { return e % 5 == 0 ? dc[e / 5] : 0.0; }, nullptr);
  Solver s(f->CreateSolver(kY));
  EXPECT_EQ(s->BuildElements(1, 1, 2, 3), 0);
  ASSERT_EQ(s->BuildElements(1, 3, 2, 4), 1);
  double m[16], *rows[4] = {m, m + 4, m + 8, m + 12};
  ASSERT_EQ(s->GetDCMatrix(rows), 1);
  const double a = dc[0], b = dc[1], c = dc[2], e = dc[3];
  const double expected[16] = {(a + c) / 2, 0, (c - a) / 2, 0, 0, (b + e) / 2, 0, (e - b) / 2,
                               (c - a) / 2, 0, (a + c) / 2, 0, 0, (e - b) / 2, 0, (b + e) / 2};
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(m[k], expected[k], 1e-17) << k;
  // A constant input on port 3 alone: the histories hold the DC response.
  const double u[4] = {0, 0, 1, 0};
  double h[4];
  ASSERT_EQ(s->Start(u, 0), 1);
  ASSERT_EQ(s->Advance(0, u, rows, h), 1);
  for (int i = 0; i < 4; ++i) {
    double y = -h[i];
    for (int j = 0; j < 4; ++j) y += rows[i][j] * u[j];
    EXPECT_NEAR(y, expected[4 * i + 2], 1e-17) << i;
  }
  EXPECT_EQ(s->FreeElements(), 1);

  // Unequal reference impedances have no common mode conversion.
  const double z[4] = {50, 50, 50, 75};
  Fitter g = MixedFourPort([](int) { return 0.01; }, z);
  EXPECT_EQ(Solver(g->CreateSolver(kY))->BuildElements(1, 2, 3, 4), 0);
}

// Every operation in every state of the solver, with valid arguments and
// with null pointers: what each returns. States: made, built, started for
// variable steps, started for fixed steps through Advance, stepping after
// StartFixedStep, freed, a failed build.
TEST(PortSolver, EveryOperationInEveryState) {
  Fitter f = Defined(kModels[3]);
  using Op = std::function<int(cCPSolver&, bool)>;
  double m = 0, *row = &m, h = 0, u = 1, value[2];
  auto P = [](auto* p, bool null) { return null ? nullptr : p; };
  const std::vector<std::pair<const char*, Op>> ops = {
      {"FreeElements", [&](cCPSolver& s, bool) { return s.FreeElements(); }},
      {"BuildElements", [&](cCPSolver& s, bool) { return s.BuildElements(0, 0, 0, 0); }},
      {"GetDCMatrix", [&](cCPSolver& s, bool n) { return s.GetDCMatrix(P(&row, n)); }},
      {"Start", [&](cCPSolver& s, bool n) { return s.Start(P(&u, n), 0); }},
      {"Advance",
       [&](cCPSolver& s, bool n) { return s.Advance(1e-12, P(&u, n), P(&row, n), P(&h, n)); }},
      {"StartFixedStep",
       [&](cCPSolver& s, bool n) {
         return s.StartFixedStep(P(&u, n), 1e-12, P(&row, n), P(&h, n));
       }},
      {"Step", [&](cCPSolver& s, bool n) { return s.Step(P(&u, n), P(&h, n)); }},
      {"GetElementResponse",
       [&](cCPSolver& s, bool n) { return s.GetElementResponse(0, 0, 1e9, P(value, n)); }},
  };
  struct State {
    const char* name;
    std::function<void(cCPSolver&)> reach;
    const char* results;  // per operation, valid call
  };
  const std::vector<State> states = {
      {"Made", [](cCPSolver&) {}, "11000000"},
      {"Built", [](cCPSolver& s) { s.BuildElements(0, 0, 0, 0); }, "11110101"},
      {"Variable", [&](cCPSolver& s) { s.BuildElements(0, 0, 0, 0), s.Start(&u, 0); }, "11111101"},
      {"FixedByAdvance", [&](cCPSolver& s) { s.BuildElements(0, 0, 0, 0), s.Start(&u, 1e-12); },
       "11111101"},
      {"Stepping",
       [&](cCPSolver& s) { s.BuildElements(0, 0, 0, 0), s.StartFixedStep(&u, 1e-12, &row, &h); },
       "11110111"},
      {"Freed",
       [&](cCPSolver& s) { s.BuildElements(0, 0, 0, 0), s.Start(&u, 0), s.FreeElements(); },
       "11000000"},
  };
  for (const State& state : states) {
    for (std::size_t k = 0; k < ops.size(); ++k) {
      for (bool null : {false, true}) {
        Solver s(f->CreateSolver(kS));
        state.reach(*s);
        const int expected = null && k >= 2 ? 0 : state.results[k] - '0';
        EXPECT_EQ(ops[k].second(*s, null), expected) << state.name << " " << ops[k].first << null;
      }
    }
  }
  // Arguments out of range.
  Solver s(f->CreateSolver(kS));
  ASSERT_EQ(s->BuildElements(0, 0, 0, 0), 1);
  for (int i : {-1, 1, 1 << 30}) EXPECT_EQ(s->GetElementResponse(i, 0, 1e9, value), 0);
  EXPECT_EQ(s->GetElementResponse(0, 1, 1e9, value), 0);
  EXPECT_EQ(s->Start(&u, -1e-12), 0);
  EXPECT_EQ(s->Start(&u, NAN), 0);
  EXPECT_EQ(s->StartFixedStep(&u, 0, &row, &h), 0);
  ASSERT_EQ(s->Start(&u, 1e-12), 1);
  EXPECT_EQ(s->Advance(3e-12, &u, &row, &h), 0);  // not the fixed step
  EXPECT_EQ(s->Advance(NAN, &u, &row, &h), 0);

  // An element without poles fails the build (the state checks of
  // CreateSolver are the wrong-state table's).
  Fitter twoPort = MakeFitter();
  twoPort->DefineModel(2, kS, nullptr, false);
  const double pole[2] = {1e9, 0}, residue[2] = {0.1, 0};
  twoPort->SetElementModel(0, 0, 1, 0, 0, 0, pole, residue);
  EXPECT_EQ(Solver(twoPort->CreateSolver(kS))->BuildElements(0, 0, 0, 0), 0);
}

// The delay line: reads interpolate between stored pairs and hold the end
// values outside them; a write at the newest time overwrites it, one
// between the two newest replaces the newest, an earlier one is refused;
// pairs older than twice the delay before the newest go, but what a read at
// the newest time minus the delay needs stays.
TEST(DelayLine, WritesReadsAndRecycles) {
  DelayLine line(1.0);
  EXPECT_EQ(line.Read(5), 0.0);
  for (double t : {0, 1, 2, 3}) EXPECT_TRUE(line.Write(t, 10 * t));
  EXPECT_EQ(line.Read(-1), 0.0);
  EXPECT_EQ(line.Read(1.25), 12.5);
  EXPECT_EQ(line.Read(0.5), 5.0);  // behind the last read
  EXPECT_EQ(line.Read(9), 30.0);
  EXPECT_TRUE(line.Write(3, 40));    // overwrites
  EXPECT_TRUE(line.Write(2.5, 25));  // replaces (3, 40)
  EXPECT_EQ(line.Read(2.5), 25.0);
  EXPECT_FALSE(line.Write(1.5, 0));
  EXPECT_EQ(line.Read(2.25), 22.5);
  for (int k = 3; k < 1000; ++k) EXPECT_TRUE(line.Write(k, k));
  EXPECT_LE(line.size(), 4u);
  EXPECT_EQ(line.Read(998.5), 998.5);
  EXPECT_EQ(line.Read(997), 997.0);
}

// Solvers of separate fitters run on separate threads as they run alone.
TEST(PortSolver, OneSolverPerThread) {
  auto run = [] {
    Fitter f = Defined(kModels[4]);
    Solver s = Built(*f, kS);
    return Drive(
        *s, [](double t) { return std::sin(1e10 * t); }, Grid(1e-12, 2e-10, true), false);
  };
  const std::vector<double> alone = run();
  std::vector<std::vector<double>> results(4);
  std::vector<std::thread> threads;
  for (auto& r : results) threads.emplace_back([&r, &run] { r = run(); });
  for (auto& t : threads) t.join();
  for (const auto& r : results) EXPECT_EQ(r, alone);
}

}  // namespace
}  // namespace cfit
