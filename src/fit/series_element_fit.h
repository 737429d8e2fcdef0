// The fit of a 2-port S measurement of one series element: a model that
// keeps S11 = S22, S12 = S21 and S11 + S12 = 1 exactly and is passive.
#ifndef CFIT_FIT_SERIES_ELEMENT_FIT_H
#define CFIT_FIT_SERIES_ELEMENT_FIT_H

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"

namespace cfit {

// Largest deviation from the series relations (|S11 - S22|, |S12 - S21|,
// |S11 + S12 - 1|) the data may show at any point.
inline constexpr double kSeriesRelationTolerance = 0.001;

// The 2-port data hold points and every point keeps the series relations
// within the tolerance (false for a value that is not a number).
bool KeepsSeriesRelations(const SampledData& data);

// Fits the series element held as 2-port S data. The caller has checked the
// port count, the type, the data, the symmetric flag and the relations.
//
// Per-element poles are switched on (and stay on); the data are fitted
// without delay extraction (a single component has no delay, and the
// element functions below share one pole list, which per-element delays
// would break), and the delay setting is restored. The fitted S11 is then
// written as the element's reflection seen from twice the reference
// impedance, G = 2 S11 - 1 = 1 - 2T with the transmission T = 1 - S11: the
// singular values of [[1 - T, T], [T, 1 - T]] are 1 and |1 - 2T|, so the
// 2-port is passive exactly when |G| <= 1. Passivity is enforced on G as a
// 1-port S model (threshold 1, the passivity option on for the call), and
// the 2-port is rebuilt from the enforced list with its correction terms:
// T = (1 - G)/2 at (0, 1) and (1, 0), S11 = S22 = 1 - T = (1 + G)/2, the
// same poles in all four elements, no proportional terms and no delays.
//
// Fails with the fit's failure (none when the cancel byte stopped it); a failed
// enforcement fails with 27 and leaves the fitted model as the fit made it.
Status FitSeriesElement(FitterState& state, const RunContext& run);

}  // namespace cfit

#endif  // CFIT_FIT_SERIES_ELEMENT_FIT_H
