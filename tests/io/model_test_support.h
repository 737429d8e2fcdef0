// Helpers shared by the pole-file and netlist tests: models built term by
// term in a fitter's state, models fitted to the real files, and element
// comparisons.
#ifndef CFIT_TESTS_IO_MODEL_TEST_SUPPORT_H
#define CFIT_TESTS_IO_MODEL_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "fit/model_evaluation.h"
#include "support/log_capture.h"

namespace cfit::testing {

inline std::filesystem::path RealFile(const std::string& name) {
  const char* env = std::getenv("CFIT_TEST_DATA");
  return (env != nullptr ? std::filesystem::path(env)
                         : std::filesystem::path("../shared/data/touchstone")) /
         name;
}

// Gives the fitter an empty individual-pole model of N ports, as a loaded
// model would hold it: port count, data type, impedances, element table and
// zero N x N tables.
inline void MakeModel(cCfit& fitter, int n, int dataType, std::vector<double> impedances,
                      bool symmetric = false) {
  FitterState& s = fitter.state();
  s.network.portCount = n;
  s.network.dataType = dataType;
  s.network.impedances = std::move(impedances);
  s.network.symmetric = symmetric;
  s.settings.individualPoles = true;
  s.ResetElementTable();
  auto model = std::make_unique<FittedModel>();
  const std::size_t nn = static_cast<std::size_t>(n * n);
  model->n = n;
  model->elementPoles.assign(nn, PoleList{});
  model->constant.assign(nn, 0.0);
  model->proportional.assign(nn, 0.0);
  model->delay.assign(nn, 0.0);
  model->rmsError.assign(nn, 0.0);
  model->maxError.assign(nn, 0.0);
  s.model = std::move(model);
}

// Appends the stored term (pole, residue) to element (i, j), 0-based.
inline void AddTerm(cCfit& fitter, int i, int j, Complex pole, Complex residue) {
  FittedModel& m = *fitter.state().model;
  PoleTerm term;
  term.SetPole(pole);
  term.SetResidue00(residue);
  m.elementPoles[m.Index(i, j)].push_back(term);
}

inline double& At(std::vector<double>& table, const cCfit& fitter, int i, int j) {
  return table[fitter.state().model->Index(i, j)];
}

// A fitter that has read and fitted a real file (with the given settings).
inline std::unique_ptr<cCfit> FittedRealFile(const std::string& name,
                                             cFitParams params = cFitParams{}) {
  LogCapture quiet;
  auto fitter = std::make_unique<cCfit>();
  EXPECT_TRUE(fitter->Init(&params));
  EXPECT_GT(fitter->ReadTouchstone(RealFile(name).c_str()), 0) << name;
  EXPECT_EQ(fitter->Fit(), 1) << name;
  return fitter;
}

// Largest |a(i, j, f) - b(i, j, f)| over every element and a grid of
// frequencies across [low, high], 0 Hz included.
inline double LargestDifference(const cCfit& a, const cCfit& b, double low, double high) {
  const int n = a.state().network.portCount;
  double worst = 0.0;
  for (int k = 0; k <= 50; ++k) {
    const double f = k == 0 ? 0.0 : low + (high - low) * (k - 1) / 49.0;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const Complex d = EvaluateElement(a.state(), i, j, f) - EvaluateElement(b.state(), i, j, f);
        worst = std::max(worst, Abs(d));
      }
    }
  }
  return worst;
}

}  // namespace cfit::testing

#endif  // CFIT_TESTS_IO_MODEL_TEST_SUPPORT_H
