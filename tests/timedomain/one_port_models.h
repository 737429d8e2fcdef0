// One-port models the time-domain tests define term by term, and the real
// files they fit.
#ifndef CFIT_TESTS_TIMEDOMAIN_ONE_PORT_MODELS_H
#define CFIT_TESTS_TIMEDOMAIN_ONE_PORT_MODELS_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/fitter_fixtures.h"

namespace cfit::testing {

inline std::string RealFile(const std::string& name) {
  const char* folder = std::getenv("CFIT_TEST_DATA");
  return std::string(folder != nullptr ? folder : "../shared/data/touchstone") + "/" + name;
}

// Poles and residues as held (P, R pairs, hertz), the constant, the
// proportional term and the delay; reference impedance 50 ohms.
struct OnePort {
  const char* name;
  int type;
  std::vector<double> poles, residues;
  double d, e, tau;
};

inline Fitter Defined(const OnePort& m) {
  Fitter f = MakeFitter();
  f->DefineModel(1, m.type, nullptr, true);
  EXPECT_EQ(f->SetElementModel(0, 0, static_cast<int>(m.poles.size() / 2), m.d, m.e, m.tau,
                               m.poles.data(), m.residues.data()),
            1);
  return f;
}

}  // namespace cfit::testing

#endif  // CFIT_TESTS_TIMEDOMAIN_ONE_PORT_MODELS_H
