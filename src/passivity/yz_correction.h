// Additive passivity corrections of Y and Z data and models.
//
// A small real part d(f), shaped by one of four responses, is added along the
// eigenvector u of the smallest eigenvalue of the real part of H at the
// peak: element (i, j) gets u(i) u(j) times the response term. This lifts
// that eigenvalue by d(f) and lowers the measure 1 - lambda_min by as much.
//   type 0: A1 / (1 + j f / al)                     (real pole at al)
//   type 1: the pole pair (al, -w0) with residue j A2
//   type 2: A1 / (1 + j f / al) - A1 / (1 + j f / w0)
//   type 3: A1 / (1 + j f / al) - A1                (a step towards high f)
#ifndef CFIT_PASSIVITY_YZ_CORRECTION_H
#define CFIT_PASSIVITY_YZ_CORRECTION_H

#include "api/fitter_state.h"
#include "passivity/correction_record.h"
#include "passivity/passivity_state.h"

namespace cfit {

// Fills `sp` for the band so that m(f) - d(f) <= 1 from its left to its
// right end, growing the amplitude and ratio by 1.1 per failed attempt (12
// attempts when the fitter holds a model, else 4); the last parameters
// stand.
void FindYZParams(const PassivityCurve& curve, const Band& band, bool hasModel, Sp* sp);

// The real part d(f) of the response.
double YZCorrectionReal(const Sp& sp, double f);
// The complex value of the response at f.
Complex YZCorrectionValue(const Sp& sp, double f);

// Adds the response to the model's elements (new poles, and the constant for
// type 3), weighted by the eigenvector of the model's real part at the peak;
// with more than two ports, elements weighted below 0.07 are left alone.
bool ApplyYZToModel(FitterState& state, const Sp& sp, double peakFrequency);

// Adds the weighted response to every sample point; the weights come from the
// sample point at the peak frequency.
bool ApplyYZToData(FitterState& state, const Sp& sp, double peakFrequency);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_YZ_CORRECTION_H
