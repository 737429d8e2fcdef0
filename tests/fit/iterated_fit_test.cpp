// Iterated pole relocation: recovery of known rational models from poor
// starting poles, order control, and whole fits of the real files against
// the single pass.
#include "fit/iterated_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "fit/model_evaluation.h"
#include "numeric/singular_value_clip.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using C = std::complex<double>;

// A known set of working poles (s = j f): a real pole and two pairs, the
// pair term carrying the member with negative imaginary part.
const C kPoles[] = {C(-1e9, 0.0), C(-2e8, -3e9), C(-5e8, -7e9)};

// Target t of a family sharing kPoles: residues differ per target (target 1
// has no share of the second pair), plus a constant.
C Known(int t, double f) {
  const C s(0.0, f);
  const C r[3][3] = {{C(3e8, 0), C(1e8, 5e7), C(-2e8, 1e8)},
                     {C(-1e8, 0), C(4e8, -1e8), C(0, 0)},
                     {C(5e7, 0), C(-3e7, 2e8), C(6e8, 3e8)}};
  C h = 0.1 * (t + 1);
  for (int p = 0; p < 3; ++p) {
    h += r[t][p] / (s - kPoles[p]);
    if (kPoles[p].imag() != 0.0) h += std::conj(r[t][p]) / (s - std::conj(kPoles[p]));
  }
  return h;
}

FitSeries Series(int count, double start, double stop) {
  FitSeries s;
  for (int k = 0; k < count; ++k) s.frequency.push_back(start + (stop - start) * k / (count - 1));
  s.value.assign(s.frequency.size(), Complex());
  s.sampled = count;
  return s;
}

// Starting poles with 11 x 11 residue matrices: the targets are elements
// of the lower triangle of a symmetric 11-port.
constexpr int kPorts = 11;
PoleList Starting(std::initializer_list<C> poles) {
  PoleList list;
  for (const C& q : poles) {
    PoleTerm t(kPorts);
    t.SetPole(q.real(), q.imag());
    list.push_back(t);
  }
  return list;
}

struct Recovery {
  const char* name;
  int targets;
  PoleList start;
  IterationSettings settings;
  int order;
};

TEST(RelocatePoles, RecoversTheKnownPolesFromPoorStartingPoles) {
  IterationSettings controlled;
  controlled.targetError = 1e-12;
  controlled.maxOrder = 6;
  IterationSettings capped;
  capped.maxOrder = 5;
  const Recovery cases[] = {
      // Starting pairs of low quality, spread evenly, far from the truth.
      {"one element", 1, Starting({C(-1e8, 0.0), C(-9e7, -9e9), C(-5e7, -5e9)}), {}, 5},
      {"one element, all real start",
       1,
       Starting({C(-1e8, 0), C(-4e9, 0), C(-8e9, 0), C(-2e9, 0), C(-6e9, 0)}),
       {},
       5},
      {"three elements sharing the poles",
       3,
       Starting({C(-1e8, 0.0), C(-9e7, -9e9), C(-5e7, -5e9)}),
       {},
       5},
      {"grown from one pair", 3, Starting({C(-1e8, -5e9)}), controlled, 6},
      // Order 5 from six pairs: the least contributing terms go first.
      {"trimmed to the order limit", 3,
       Starting({C(-1e8, -1e9), C(-1e8, -2e9), C(-1e8, -4e9), C(-1e8, -6e9), C(-1e8, -8e9),
                 C(-1e8, -9.9e9)}),
       capped, 5},
      // Sixty elements made of the three curves (compressed to three).
      {"sixty elements of three curves",
       60,
       Starting({C(-1e8, 0.0), C(-9e7, -9e9), C(-5e7, -5e9)}),
       {},
       5},
  };
  const FitSeries base = Series(200, 1e7, 1e10);
  for (const Recovery& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<Complex>> values(c.targets);
    std::vector<ResidueTarget> targets(c.targets);
    for (int t = 0; t < c.targets; ++t) {
      for (double f : base.frequency) {
        const C v = Known(t % 3, f) * (1.0 + 0.25 * (t / 3));
        values[t].push_back({v.real(), v.imag()});
      }
      targets[t].value = values[t];
      targets[t].row = static_cast<int>((std::sqrt(8.0 * t + 1.0) - 1.0) / 2.0);
      targets[t].column = t - targets[t].row * (targets[t].row + 1) / 2;
    }
    FitOptions options;
    options.residueOrder = kPorts;
    WorkingSet work;
    work.Allocate(1000, 60);
    std::ostringstream log;
    const RunContext run{log, nullptr, nullptr};
    PoleList poles = c.start;
    const Result<RelocationRecord> r =
        RelocatePoles(base, targets, options, PoleLimits{}, c.settings, work, poles, run);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->order, c.order);
    EXPECT_LT(r->relativeError, 1e-12);
    for (const C& q : kPoles) {
      double nearest = 1e300;
      for (const PoleTerm& t : poles) {
        nearest = std::min(nearest, std::abs(C(t.GetPole().re, t.GetPole().im) - q));
      }
      EXPECT_LT(nearest, 1e-8 * std::abs(q)) << q;
    }
  }
}

// ||S - S_fit||_F / ||S||_F of the fitter's model over its data.
double RelativeRms(const FitterState& s) {
  double diff2 = 0.0, norm2 = 0.0;
  const int n = s.network.portCount;
  for (ConstMatrixView p : s.network.data->points()) {
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const Complex v = p.At(i, j);
        const double e = Abs(EvaluateElement(s, i, j, p.frequency()) - v);
        diff2 += e * e;
        norm2 += v.re * v.re + v.im * v.im;
      }
    }
  }
  return std::sqrt(diff2 / norm2);
}

// Also: S fits whose free constant violates are fitted again with it held
// passive, and that fit is kept only when it is no less accurate (within
// twice its error when preferred).
TEST(FitIterated, IsNoWorseThanTheSinglePassOnEveryRealFile) {
  const char* folder = std::getenv("CFIT_TEST_DATA");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  testing::LogCapture quiet;
  int held = 0;
  int preferredOnly = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("reject_", 0) == 0 || entry.path().extension() == ".md") continue;
    for (bool individual : {true, false}) {
      SCOPED_TRACE(name + (individual ? " individual" : " common"));
      cFitParams params;
      params.individualPoles = individual;
      std::unique_ptr<cCfit> single(static_cast<cCfit*>(cFitAPI::Create(&params)));
      // Up to 8 ports: the larger files only repeat the same kind of data.
      if (single->ReadTouchstone(entry.path().c_str()) == 0 ||
          single->state().network.data->point_count() < 2 ||
          single->state().network.portCount > 8) {
        continue;
      }
      ASSERT_EQ(single->Fit(), 1);
      const double once = RelativeRms(single->state());
      IterationSettings noIterations;
      noIterations.maxIterations = 0;
      // The default settings with the constant held passive (as before
      // an enforcement), and no relocation beyond the single pass's.
      IterationSettings holding;
      holding.holdPassiveConstant = true;
      for (const IterationSettings& settings : {holding, noIterations}) {
        std::unique_ptr<cCfit> iterated(static_cast<cCfit*>(cFitAPI::Create(&params)));
        ASSERT_GT(iterated->ReadTouchstone(entry.path().c_str()), 0);
        IteratedFitRecord record;
        ASSERT_TRUE(FitIterated(iterated->state(), settings, RunContext(), &record).ok);
        EXPECT_LE(record.mostIterations, settings.maxIterations);
        // Fits exact to rounding (1e-14) may differ by rounding.
        EXPECT_LE(RelativeRms(iterated->state()), once * (1.0 + 1e-9) + 1e-13)
            << settings.maxIterations << " iterations";
        if (settings.maxIterations == 0) continue;
        // A constant held passive is kept only where it costs no accuracy
        // against the free constant.
        const Model& model = *iterated->state().model;
        const int n = model.n;
        const IterationSettings free;
        std::unique_ptr<cCfit> freeFit(static_cast<cCfit*>(cFitAPI::Create(&params)));
        ASSERT_GT(freeFit->ReadTouchstone(entry.path().c_str()), 0);
        ASSERT_TRUE(FitIterated(freeFit->state(), free, RunContext()).ok);
        const double freeSigma = LargestSingularValue(freeFit->state().model->constant, n);
        if (record.constantHeld) {
          ++held;
          EXPECT_GT(freeSigma, 1.0);
          EXPECT_LE(LargestSingularValue(model.constant, n), 0.99 + 1e-12);
          EXPECT_LE(RelativeRms(iterated->state()), RelativeRms(freeFit->state()) * (1.0 + 1e-9));
        } else if (!(freeSigma > 1.0)) {
          EXPECT_EQ(model.constant, freeFit->state().model->constant);
        }
        // Preferred, the held constant is kept within twice the free fit's
        // error (and wherever it was kept anyway).
        IterationSettings preferring = holding;
        preferring.preferHeldConstant = true;
        std::unique_ptr<cCfit> preferred(static_cast<cCfit*>(cFitAPI::Create(&params)));
        ASSERT_GT(preferred->ReadTouchstone(entry.path().c_str()), 0);
        IteratedFitRecord preferredRecord;
        ASSERT_TRUE(FitIterated(preferred->state(), preferring, RunContext(), &preferredRecord).ok);
        EXPECT_GE(preferredRecord.constantHeld, record.constantHeld);
        if (preferredRecord.constantHeld) {
          preferredOnly += record.constantHeld ? 0 : 1;
          EXPECT_LE(LargestSingularValue(preferred->state().model->constant, n), 0.99 + 1e-12);
          EXPECT_LE(RelativeRms(preferred->state()),
                    kHeldConstantTolerance * RelativeRms(freeFit->state()) * (1.0 + 1e-9));
        }
      }
    }
  }
  // The 8-port package's common fit among them (a free constant of 7.36),
  // and, only when preferred, its individual one (a free constant of 363).
  EXPECT_GT(held, 0);
  EXPECT_GT(preferredOnly, 0);
}

// Poles kept near the band: the 8-port package's fit, every pole below twice
// the top frequency, stays close to the free fit's accuracy and rises far
// less above passivity beyond the band (its free fit's constant alone has a
// singular value of 7.4).
TEST(FitIterated, PolesNearTheBandStayBelowTwiceTheTopFrequency) {
  const char* folder = std::getenv("CFIT_TEST_DATA");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  testing::LogCapture quiet;
  const std::string path = std::string(folder) + "/package_8port_sim.s8p";
  cFitParams params;
  params.individualPoles = false;
  double error[2] = {};
  for (bool nearBand : {false, true}) {
    std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(&params)));
    ASSERT_GT(f->ReadTouchstone(path.c_str()), 0);
    IterationSettings settings;
    settings.polesNearBand = nearBand;
    IteratedFitRecord record;
    ASSERT_TRUE(FitIterated(f->state(), settings, RunContext(), &record).ok);
    EXPECT_EQ(record.polesInBand, nearBand);
    EXPECT_FALSE(f->state().settings.callerBand);  // the caller's settings are back
    const double top = f->state().network.data->back().frequency();
    double highest = 0.0;
    for (const PoleTerm& t : f->state().model->commonPoles) {
      if (Abs(t.GetPole()) < kConstantPoleBound) highest = std::max(highest, Abs(t.GetPole()));
    }
    EXPECT_EQ(highest <= kPoleBandFactor * top, nearBand) << highest;
    error[nearBand] = RelativeRms(f->state());
    const double sigma = LargestSingularValue(f->state().model->constant, 8);
    EXPECT_TRUE(nearBand ? sigma < 1.5 : sigma > 5.0) << sigma;
  }
  EXPECT_LT(error[1], 1.1 * error[0]);
}

}  // namespace
}  // namespace cfit
