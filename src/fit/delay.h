// Pure-delay extraction of one matrix element.
//
// A long interconnect's element rotates its phase linearly with frequency;
// fitting that rotation with poles would waste many of them. The delay is
// estimated from the mean phase slope and removed from the element's series
// before it is fitted; the model keeps it as a separate factor.
#ifndef CFIT_FIT_DELAY_H
#define CFIT_FIT_DELAY_H

#include "core/result.h"
#include "fit/fit_basis.h"

namespace cfit {

// Estimates the delay (seconds, >= 0) of the series from its phase slope,
// shortened by the roughness of the phase and by five periods of the
// highest frequency; 0 when the phase is too rough, the measured span too
// short or the delay too small to matter. Error 26 with fewer than 10
// points.
Result<double> EstimateDelay(const FitSeries& series);

// Multiplies every value of the series by exp(+j 2 pi f tau) (forward:
// removes the delay) or exp(-j 2 pi f tau) (backward: puts it back).
// Nothing happens for tau <= 0.
void ApplyDelay(FitSeries& series, double tau, bool forward);

}  // namespace cfit

#endif  // CFIT_FIT_DELAY_H
