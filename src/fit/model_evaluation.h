// Evaluation of the fitted model (see fitted_model.h for the formula).
#ifndef CFIT_FIT_MODEL_EVALUATION_H
#define CFIT_FIT_MODEL_EVALUATION_H

#include "api/fitter_state.h"
#include "numeric/complex.h"

namespace cfit {

// H(f) of element (i, j), 0 <= i, j < N. Individual poles: the element's
// list and delay ((j, i) for i < j with a symmetric matrix); at 0 Hz
// d + sum Re R. Common poles: the common list with residue (i, j) of every
// term, no delay. The proportional term counts only in asymptote mode 2.
Complex EvaluateElement(const FitterState& state, int i, int j, double f);

// Band of the poles of row `row` (the common list in a common-pole fit):
// low = 0.25 * smallest Re P (starting from 1e15), high = 4 * largest |P|.
struct PoleBand {
  double low;
  double high;
};
PoleBand PoleRange(const FitterState& state, int row);

// Slot 63: the value of element (i, j) at `frequency` as (re, im). Without a
// fitted model or with an index outside 0..N-1: error 8 and -1e99 for both
// parts; at a frequency that is not finite: error 45 and -1e99.
int EvaluateModelElement(FitterState& state, int i, int j, double frequency, double* value);

}  // namespace cfit

#endif  // CFIT_FIT_MODEL_EVALUATION_H
