// Closed-form time responses of one fitted element.
//
// Element (i, j) of the model is, with s = j 2 pi f,
//
//   H(s) = [d + s e / (2 pi) + sum_k r_k (-p_k) / (s - p_k)] exp(-s tau),
//
// where a real pole term counts once and a complex pair, held once, counts as
// the real part of its term (half the term plus half its conjugate partner).
// The impulse, step, bit and trapezoid responses follow in closed form from
// the step response d + sum Re r (1 - exp(p T)) and the ramp response
// d x + e / (2 pi) + sum Re r (x + (1 - exp(p x)) / p), T and x measured from
// the delay.
#ifndef CFIT_TIMEDOMAIN_TIME_RESPONSE_H
#define CFIT_TIMEDOMAIN_TIME_RESPONSE_H

#include <complex>
#include <string>
#include <vector>

#include "cfit/cfit.h"
#include "core/result.h"
#include "fit/model_evaluation.h"

namespace cfit {

// One pole term: p in rad/s (Re p < 0 for a stable pole), r its value at DC.
struct TimePole {
  std::complex<double> p;
  std::complex<double> r;
  bool real = true;
};

struct TimeDomainElement {
  std::vector<TimePole> poles;
  double d = 0.0;
  double e = 0.0;    // counted where the frequency-domain evaluation counts it
  double tau = 0.0;  // seconds
};

// Element (i, j), 0 <= i, j < N, of the view's model, read as the
// frequency-domain evaluation reads it (same pole list, proportional term
// and delay).
TimeDomainElement TimeDomainElementOf(const ModelView& view, int i, int j);

// The unit step and unit ramp responses of the element without its delay
// and without the proportional term's Dirac (T, x in seconds, 0 below 0).
double StepResponse(const TimeDomainElement& element, double T);
double RampResponse(const TimeDomainElement& element, double x);

// The value at time t and the Dirac part the value leaves out (weight and
// time; `dirac` false when the kind reports none).
struct TimeResponsePoint {
  double value = 0.0;
  bool dirac = false;
  double diracTime = 0.0;
  double diracWeight = 0.0;
};
TimeResponsePoint EvaluateTimeResponse(const TimeDomainElement& element,
                                       const TimeResponseParameters& params, double t);

// The record's checks in order: the time grid (55), the bit time (56), the
// trapezoid (58).
Status CheckTimeResponseParameters(const TimeResponseParameters& params);

// Writes t and the value, "%16.10le %16.10le\n", for t from startTime by
// repeated addition of timeStep while t <= endTime. The record must pass
// CheckTimeResponseParameters. A file that cannot be created or written
// fails with 57 and its name.
Status WriteTimeResponseFile(const TimeDomainElement& element, const TimeResponseParameters& params,
                             const std::string& fileName);

}  // namespace cfit

#endif  // CFIT_TIMEDOMAIN_TIME_RESPONSE_H
