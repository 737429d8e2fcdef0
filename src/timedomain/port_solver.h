// The port solver: a fitted model as a recursive-convolution multiport for
// a host's transient simulation. Per time point the host writes
// y(i) = sum over j of G(i, j) u(j) - H(i), G the elements' gains and H(i)
// the sum of row i's histories.
#ifndef CFIT_TIMEDOMAIN_PORT_SOLVER_H
#define CFIT_TIMEDOMAIN_PORT_SOLVER_H

#include <array>
#include <vector>

#include "api/fitter_state.h"
#include "cfit/cfit.h"
#include "timedomain/solver_element.h"

namespace cfit {

class cCPSolverImp final : public cCPSolver {
 public:
  // The fitter's state must outlive the solver.
  explicit cCPSolverImp(const FitterState& fitter) : fitter_(&fitter) {}

  int FreeElements() override;
  int BuildElements(int p1, int p2, int p3, int p4) override;
  int GetDCMatrix(double** matrix) override;
  int Start(const double* u, double dt) override;
  int Advance(double t, const double* u, double** G, double* H) override;
  int StartFixedStep(const double* u, double dt, double** G, double* H) override;
  int Step(const double* u, double* H) override;
  int GetElementResponse(int i, int j, double frequency, double* value) override;

 private:
  bool Built() const { return n_ > 0 && elements_.size() == static_cast<std::size_t>(n_ * n_); }
  SolverElement& At(int i, int j) { return elements_[static_cast<std::size_t>(i * n_ + j)]; }
  // The host's port inputs as the elements see them (modes in mixed mode).
  const std::vector<double>& Inputs(const double* u);
  // Each element's value through `get` into the host's matrix, or the rows'
  // sums into the host's vector, converted back to ports in mixed mode.
  template <class F>
  bool PutMatrix(double** out, F get);
  bool PutHistories(double* out);

  const FitterState* fitter_;
  int n_ = 0;
  bool mixed_ = false;
  // Mixed mode: modes m = toModes u, ports u = toPorts m.
  std::array<std::array<double, 4>, 4> toModes_{}, toPorts_{};
  std::vector<SolverElement> elements_;
  std::vector<double> inputs_, work_, matrix_;
};

}  // namespace cfit

#endif  // CFIT_TIMEDOMAIN_PORT_SOLVER_H
