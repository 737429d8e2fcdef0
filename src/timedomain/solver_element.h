// One matrix element of the port solver: a recursive convolution of the
// element's pole terms with an input that is taken as linear over each step.
//
// The element relates an input w to an output y = D u + G w - h, where u is
// the present input, w the input delayed by the element's delay (w = u
// without one), G the instantaneous gain and h the history of the past. Per
// pole term r (-p) / (s - p) and step dt (z = p dt, E = exp(z),
// A = 1 - E, B = (1 + z - E) / z) the pole's output moves as
//   y(n+1) = E y(n) + r (A - B) w(n) + r B w(n+1),
// so its gain is Re(r B) and its state x = r B w - y carries the past:
//   x(n+1) = E x(n) + r (B - A - E B(n)) w(n),
// B(n) the coefficient of the step before. A, B and E - 1 - z come from
// series where the direct forms would cancel, so that steps far below a
// pole's time constant keep their digits.
#ifndef CFIT_TIMEDOMAIN_SOLVER_ELEMENT_H
#define CFIT_TIMEDOMAIN_SOLVER_ELEMENT_H

#include <complex>
#include <optional>
#include <vector>

#include "timedomain/delay_line.h"
#include "timedomain/time_response.h"

namespace cfit {

class SolverElement {
 public:
  // The element (i, j) of a model of `dataType`, its ports' reference
  // impedances z0i and z0j. S elements are turned into g (delta(i, j) - S)
  // with g = 0.5 / sqrt(z0i z0j); a delayed diagonal S element applies g to
  // the undelayed input (the direct gain D). None without pole terms or
  // with an impedance that is not positive.
  static std::optional<SolverElement> Build(const TimeDomainElement& model, int dataType,
                                            bool diagonal, double z0i, double z0j);

  // d + sum Re r: the output per unit of a constant input.
  double DcValue() const;
  // The scaled rational part at a frequency in hertz (no delay, no
  // proportional term).
  std::complex<double> Response(double frequency) const;

  // Puts the element at time 0 with the input u0 held since ever: dt > 0
  // fixed steps of dt, dt = 0 variable steps. False for a negative or
  // non-finite step.
  bool Start(double u0, double dt);
  // Fixed steps only: the first step after Start, with the input u0 held
  // over it.
  bool FirstStep();
  // Fixed steps only: u is the input at the present step's end; advances
  // by one step and leaves the history for the next.
  bool Step(double u);
  // Moves to time t with input u (see the solver's Advance). False for a
  // time before the last accepted one, or a fixed-step element asked for a
  // step other than its own.
  bool Advance(double t, double u);

  // Results of the last evaluation: the gain on the present input and the
  // history (output = gain u - history).
  double Gain() const { return now_.gain; }
  double History() const { return now_.history; }

 private:
  using C = std::complex<double>;
  struct Pole {
    C p, r;
  };
  // A pole term of fixed stepping, packed for its loop: E, r (B - A - E B)
  // (which is r A^2 / z there) and the state x.
  struct FixedTerm {
    double Er, Ei, br, bi, xr, xi;
  };
  // Everything that moves with time; one copy is saved at every accepted
  // point of variable stepping for one rollback.
  struct Point {
    std::vector<C> x;  // pole states
    std::vector<C> B;  // each pole's B of the step that ended here
    double time = 0, input = 0, delayed = 0;
    double fromTime = 0, fromInput = 0;  // the accepted point the step began at
    double G = 0, h = 0;                 // gain on the delayed input, history
    double gain = 0, history = 0;        // what the element reports
  };
  enum class Mode { kIdle, kVariable, kFixed, kFixedStepping };

  // Advances the states over a step of length dt from the present point,
  // whose delayed input is w, setting G and h.
  void AdvanceStates(double dt, double w);
  // Gain and history at the present time: with a delay, the delayed input
  // at the present time is read from the line when it lies at or before the
  // step's start; otherwise it lies inside the step and is interpolated
  // between the start's input and the present one, which is still unknown:
  // a share lambda of G goes into the gain.
  void Report();

  std::vector<Pole> poles_;
  std::vector<FixedTerm> fixed_;
  double d_ = 0, e_ = 0, tau_ = 0, direct_ = 0;
  double dt_ = 0, fixedG_ = 0, fixedE_ = 0;  // fixed step: gain, e / (2 pi dt)
  Mode mode_ = Mode::kIdle;
  std::optional<DelayLine> line_;
  Point now_, saved_;
  long long steps_ = 0;
};

}  // namespace cfit

#endif  // CFIT_TIMEDOMAIN_SOLVER_ELEMENT_H
