// Multiplicative passivity corrections of S data and models: the
// suppression factor g(s) of the correction record (see correction_record.h)
// scales matrix elements down in a band; on the squared-magnitude curves it
// acts as F(f) = |g(j f)|^2.
#ifndef CFIT_PASSIVITY_SUPPRESSION_H
#define CFIT_PASSIVITY_SUPPRESSION_H

#include "api/fitter_state.h"
#include "core/run_context.h"
#include "passivity/correction_record.h"
#include "passivity/passivity_state.h"

namespace cfit {

// g(j f).
Complex SuppressionValue(const Sp& sp, double f);

// F(f) by the closed form of the record's type (0, 1 or 2); any other type is
// an internal fault.
double SuppressionFactor(const Sp& sp, double f);

// Row i of an S model: the record that brings the row measure (the sum of
// |S(i, k)|^2) to at most 1 across the band, and the dominant column (-1 when
// the row has none). At most 20 attempts; the last parameters stand.
int FindSupParams(const PassivityCurve& curve, const Band& band, Sp* sp, const RunContext& context);

// The whole S matrix: the record that brings the measure to at most 1 across
// the band. A band that reaches the curve's end has its left end moved up to
// the fitting band's upper end `bandTop`, so that the roll-off stays above
// the fitted band. `hasModel` allows more attempts (a model's curve is
// rebuilt after each correction, the data's is not).
void FindSupParamsGlobal(const PassivityCurve& curve, Band band, bool hasModel, double bandTop,
                         Sp* sp, const RunContext& context);

// Replaces the rational function of element (i, j) by its product with g:
// the constant scales by C, each pole's residue by g at that pole, and one
// pole pair of g (alpha = al, omega = -w0) collects the rest. Checks the
// product at g's corner frequency and logs a deviation above 1e-8. False on
// a model with a shared pole set, or when g has a double pole or shares a
// pole with the element.
bool ModifyPoleByMult(FitterState& state, int i, int j, const Sp& sp, const RunContext& context);

// Every element (global), every element of row i (column -1) or element
// (i, column). When a pole of g would coincide with a pole of an element
// concerned (within 0.1 %), which the product could not hold as simple
// terms, g's corner is first moved up by 1 % steps; `sp` returns the record
// applied.
bool SuppressModel(FitterState& state, Sp& sp, const RunContext& context);
bool SuppressRow(FitterState& state, int row, int column, Sp& sp, const RunContext& context);

// Multiplies every element of every sample point by g(j f).
void SuppressData(SampledData& data, const Sp& sp);

// The global loop's one-off roll-off of violations far above the fitting
// band. Returns true when it applied a correction (the curve is then
// multiplied by the factor and *passive re-tested against `threshold`).
bool HighFrequencyRollOff(FitterState& state, PassivityCurve& curve, double threshold,
                          bool* passive, const RunContext& context);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_SUPPRESSION_H
