// Evaluation of the fitted model (see model.h for the formula).
#ifndef CFIT_FIT_MODEL_EVALUATION_H
#define CFIT_FIT_MODEL_EVALUATION_H

#include "api/fitter_state.h"
#include "core/result.h"
#include "numeric/complex.h"

namespace cfit {

// What evaluating a model needs besides its tables: the element table (for
// the asymptote modes; null counts no proportional term), whether the poles
// are per element or common, and whether the matrix is symmetric.
struct ModelView {
  const Model* model = nullptr;
  const ElementTable* elements = nullptr;
  bool individualPoles = true;
  bool symmetric = false;

  int n() const { return model->n; }
};

// The fitter's model as a view; the fitter must hold a model.
inline ModelView ViewOf(const FitterState& state) {
  const bool individual = state.model != nullptr ? state.model->individual() : true;
  return {state.model.get(), state.network.elements.get(), individual, state.network.symmetric};
}

// H(f) of element (i, j), 0 <= i, j < N. Individual poles: the element's
// list and delay ((j, i) for i < j with a symmetric matrix); at 0 Hz
// d + sum Re R. Common poles: the common list with residue (i, j) of every
// term, no delay. The proportional term counts only in asymptote mode 2.
Complex EvaluateElement(const ModelView& view, int i, int j, double f);
// The same on the fitter's model; kept for the fitting engine's callers.
inline Complex EvaluateElement(const FitterState& state, int i, int j, double f) {
  return EvaluateElement(ViewOf(state), i, j, f);
}

// Band of the poles of row `row` (the common list in a common-pole fit):
// low = 0.25 * smallest Re P (starting from 1e15), high = 4 * largest |P|.
struct PoleBand {
  double low;
  double high;
};
PoleBand PoleRange(const ModelView& view, int row);
inline PoleBand PoleRange(const FitterState& state, int row) {
  return PoleRange(ViewOf(state), row);
}

// The host's read of one element: needs a fitted model and 0 <= i, j < N
// (the caller checks, error 8) and a finite frequency (error 45 here; the
// model has no value at an infinite frequency, where j f e is not a number,
// nor at NaN).
Result<Complex> ModelElementValue(const ModelView& view, int i, int j, double frequency);

}  // namespace cfit

#endif  // CFIT_FIT_MODEL_EVALUATION_H
