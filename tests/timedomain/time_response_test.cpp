// Time responses of fitted elements against independent sources: the
// textbook response of a single pole, the model's own frequency response
// (a numerical Fourier transform of the impulse response), the step response
// as the running integral of the impulse response, and the pulse responses
// as convolutions of the step response with the pulse's edges.
#include "timedomain/time_response.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "api/errors.h"
#include "support/fitter_fixtures.h"
#include "timedomain/one_port_models.h"

namespace cfit {
namespace {

using std::numbers::pi;
using C = std::complex<double>;
using testing::Fitter;
using testing::MakeFitter;
using testing::Scratch;

using Element = testing::OnePort;
using testing::Defined;

struct Response {
  double value = 0, diracTime = -1, diracWeight = -1;
};
Response At(cFitAPI& f, int kind, double t, int i = 0, int j = 0,
            TimeResponseParameters p = TimeResponseParameters{}) {
  p.kind = kind;
  Response r;
  EXPECT_EQ(f.GetTimeResponse(p, t, &r.value, &r.diracTime, &r.diracWeight, i, j), 1);
  return r;
}

C Model(cFitAPI& f, double freq, int i = 0, int j = 0) {
  double v[2] = {};
  EXPECT_EQ(f.EvaluateModelElement(i, j, freq, v), 1);
  return {v[0], v[1]};
}

// A real pole, a resonant pair with a delay, a constant with a delay and a
// pole of residue 0 (all Dirac), a delayed pole without a constant (whose
// Dirac time is reported as 0), and an R-L-C impedance with its proportional term.
const std::vector<Element> kElements = {
    {"RealPole", kS, {1e9, 0}, {0.5, 0}, 0.1, 0, 0},
    {"PairWithDelay", kS, {5e8, -3e9, 2e9, 0}, {0.2, 0.1, -0.3, 0}, 0.05, 0, 2e-10},
    {"ConstantAfterDelay", kS, {1e9, 0}, {0, 0}, 0.4, 0, 1e-10},
    {"PoleAfterDelayWithoutConstant", kY, {1e9, 0}, {0.02, 0}, 0, 0, 1e-10},
    {"ImpedanceWithInductance", kZ, {4e8, -1.5e9}, {30, -20}, 10, 2 * pi * 1e-9, 5e-11},
};

class DefinedElement : public ::testing::TestWithParam<Element> {};

// The impulse response and its Dirac parts transform back to the model:
// sum over t of h(t) exp(-j w t) dt, plus the constant's Dirac at its time,
// plus the proportional term (the step's Dirac, differentiated).
TEST_P(DefinedElement, ImpulseResponseTransformsToTheModel) {
  const Element& m = GetParam();
  Fitter f = Defined(m);
  const double dt = 2e-14, end = m.tau + 20e-9;
  std::vector<double> h;
  for (int k = 0; m.tau + k * dt <= end; ++k) h.push_back(At(*f, 0, m.tau + k * dt).value);
  const Response dirac = At(*f, 0, 0.0), stepDirac = At(*f, 1, 0.0);
  EXPECT_EQ(dirac.diracWeight, m.d);
  EXPECT_EQ(dirac.diracTime, m.d == 0 ? 0.0 : m.tau);
  EXPECT_NEAR(stepDirac.diracWeight, m.e / (2 * pi), 1e-25);
  for (double freq : {0.0, 3e8, 1.1e9, 4e9}) {
    const double w = 2 * pi * freq;
    // Simpson's rule over an even number of intervals.
    C sum = 0;
    const std::size_t last = (h.size() - 1) / 2 * 2;
    for (std::size_t k = 0; k <= last; ++k) {
      const double weight = k == 0 || k == last ? 1 : k % 2 == 1 ? 4 : 2;
      sum += weight * h[k] * std::exp(C(0, -w * (m.tau + k * dt)));
    }
    C transform = sum * dt / 3.0 + dirac.diracWeight * std::exp(C(0, -w * dirac.diracTime)) +
                  C(0, w) * stepDirac.diracWeight * std::exp(C(0, -w * m.tau));
    const C model = Model(*f, freq);
    EXPECT_LT(std::abs(transform - model), 1e-6 * std::abs(model)) << freq;
  }
}

// The step response is d plus the running integral of the impulse response
// and settles at the DC value; the bit is the difference of two steps; the
// trapezoid averages the step over its rising and falling edges and adds
// the proportional term's share, e / 2 pi over the rise time.
TEST_P(DefinedElement, PulseResponsesAreConvolutionsOfTheImpulseResponse) {
  const Element& m = GetParam();
  Fitter f = Defined(m);
  TimeResponseParameters p;
  p.width = 3e-10, p.riseTime = 5e-11, p.fallTime = 8e-11, p.amplitude = 2.5;
  const double dt = 1e-14;
  double integral = 0, previous = At(*f, 0, m.tau).value;
  for (int k = 1; k <= 300; ++k) {
    const double t = m.tau + k * dt, now = At(*f, 0, t).value;
    integral += 0.5 * dt * (previous + now), previous = now;
    if (k % 100 == 0) {
      EXPECT_NEAR(At(*f, 1, t).value, m.d + integral, 1e-9 * std::abs(m.d + 1));
    }
  }
  EXPECT_EQ(At(*f, 1, m.tau).value, m.d);
  EXPECT_EQ(At(*f, 1, m.tau - 1e-12).value, 0.0);
  EXPECT_NEAR(At(*f, 1, m.tau + 1e-6).value, Model(*f, 0).real(), 1e-12);

  auto step = [&](double t) { return At(*f, 1, t).value; };
  // The mean of the step over [t - w, t] (0 before the delay, where it
  // jumps), by Simpson's rule.
  auto mean = [&](double t, double w) {
    const double from = std::max(t - w, m.tau), span = t - from;
    if (span <= 0) return 0.0;
    const int n = 2000;
    double sum = 0;
    for (int k = 0; k <= n; ++k)
      sum += (k == 0 || k == n ? 1 : k % 2 ? 4 : 2) * step(from + k * span / n);
    return sum * span / (3.0 * n * w);
  };
  const double share = m.e / (2 * pi);
  for (double T : {2e-11, 1e-10, 3.2e-10, 4e-10, 1e-9}) {
    const double t = m.tau + T;
    const double edges = share * ((T < p.riseTime) / p.riseTime -
                                  (T > p.width && T < p.width + p.fallTime) / p.fallTime);
    const double trapezoid = mean(t, p.riseTime) - mean(t - p.width, p.fallTime) + edges;
    EXPECT_NEAR(At(*f, 3, t, 0, 0, p).value, p.amplitude * trapezoid, 1e-8 * (1 + std::abs(m.d)))
        << T;
    EXPECT_NEAR(At(*f, 2, t, 0, 0, p).value, p.amplitude * (step(t) - step(t - p.width)), 1e-12);
  }
  EXPECT_EQ(At(*f, 3, m.tau, 0, 0, p).value, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Elements, DefinedElement, ::testing::ValuesIn(kElements),
                         [](const auto& info) { return std::string(info.param.name); });

// A single real pole R / (1 + j f / P) is the textbook low pass:
// h = R w0 exp(-w0 t), step R (1 - exp(-w0 t)), w0 = 2 pi P.
TEST(TimeResponse, SinglePoleIsTheTextbookLowPass) {
  Fitter f = Defined(kElements[0]);
  const double w0 = 2 * pi * 1e9;
  for (double t : {0.0, 1e-11, 1.7e-10, 1e-9}) {
    EXPECT_NEAR(At(*f, 0, t).value, 0.5 * w0 * std::exp(-w0 * t), 1e-6);
    EXPECT_NEAR(At(*f, 1, t).value, 0.1 + 0.5 * (1 - std::exp(-w0 * t)), 1e-14);
    // A ramp through the trapezoid's first edge: d t + R (t - (1 - exp(-w0 t)) / w0).
    TimeResponseParameters p;
    p.riseTime = 2e-9, p.width = 3e-9;
    EXPECT_NEAR(At(*f, 3, t, 0, 0, p).value,
                (0.1 * t + 0.5 * (t - (1 - std::exp(-w0 * t)) / w0)) / p.riseTime, 1e-14);
  }
  // Kinds beyond 3 give 0; the trapezoid leaves the Dirac outputs alone.
  EXPECT_EQ(At(*f, 7, 1e-10).value, 0.0);
  const Response trapezoid = At(*f, 3, 1e-10);
  EXPECT_EQ(trapezoid.diracTime, -1);
  EXPECT_EQ(trapezoid.diracWeight, -1);
}

// Each refusal of the record records its code and writes nothing (the state
// and argument checks are the wrong-state table's); its checks come in their
// order (a kind-2 record with every field wrong reports the grid).
TEST(TimeResponse, RefusalsRecordTheirCodeAndWriteNothing) {
  auto with = [](auto change) {
    TimeResponseParameters p;
    p.endTime = 1e-11;
    change(p);
    return p;
  };
  using P = TimeResponseParameters&;
  struct Case {
    TimeResponseParameters p;
    int i, code;
  } cases[] = {
      {with([](P p) { p.timeStep = 0; }), 0, 55},
      {with([](P p) { p.endTime = p.startTime; }), 0, 55},
      {with([](P p) { p.timeStep = 1e-12, p.endTime = 2e-4; }), 0, 55},
      {with([](P p) { p.startTime = 1e10, p.endTime = 1e10 + 1e-5, p.timeStep = 1e-13; }), 0, 55},
      {with([](P p) { p.endTime = NAN; }), 0, 55},
      {with([](P p) { p.kind = 2, p.width = 0, p.timeStep = -1; }), 0, 55},
      {with([](P p) { p.kind = 2, p.width = -1, p.riseTime = -1; }), 0, 56},
      {with([](P p) { p.kind = 3, p.riseTime = 0; }), 0, 58},
      {with([](P p) { p.kind = 0, p.fallTime = 0; }), 0, 58},
      {with([](P p) { p.kind = 1, p.riseTime = 2 * p.width; }), 0, 58},
      {with([](P p) { p.kind = 1, p.width = 0; }), 0, 58},
  };
  for (const Case& c : cases) {
    Fitter f = Defined(kElements[0]);
    const std::string name = Scratch().NewFile("refused");
    EXPECT_EQ(f->WriteTimeResponse(c.p, name.c_str(), c.i, 0), 0);
    EXPECT_STREQ(f->GetErrorMessage(), FitErrorText(c.code)) << c.code;
    EXPECT_FALSE(std::ifstream(name).good());
  }
  // A span of 5e-5 at 1e-12 is within the limit of steps.
  EXPECT_TRUE(CheckTimeResponseParameters(with([](P p) { p.endTime = 5e-5; })).ok());

  Fitter f = Defined(kElements[0]);
  const std::string folder = Scratch().NewFile("folder") + "/missing/r.txt";
  EXPECT_EQ(f->WriteTimeResponse(with([](P) {}), folder.c_str(), 0, 0), 0);
  EXPECT_EQ(std::string(f->GetErrorMessage()),
            folder + ":\nCannot open file to write time response");
}

}  // namespace
}  // namespace cfit
