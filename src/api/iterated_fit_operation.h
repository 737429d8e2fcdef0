// The iterated fit for engine hosts (the cfit program) holding a fitter made
// by cFitAPI::Create: the same state checks, log lines and recorded errors
// as the library's Fit, with the poles found by iterated relocation.
#ifndef CFIT_API_ITERATED_FIT_OPERATION_H
#define CFIT_API_ITERATED_FIT_OPERATION_H

#include "fit/iterated_fit.h"

class cFitAPI;

namespace cfit {

// Returns 1 on success, 0 with the failure recorded in the fitter. A fitter
// of another make gets its own Fit (and `record` stays empty).
int FitIterated(cFitAPI& fitter, const IterationSettings& settings,
                IteratedFitRecord* record = nullptr);

}  // namespace cfit

#endif  // CFIT_API_ITERATED_FIT_OPERATION_H
