// A fitted 1-port model of R, L and C in series, built from the component
// values instead of a fit.
#ifndef CFIT_NETWORK_RLC_MODEL_H
#define CFIT_NETWORK_RLC_MODEL_H

#include <vector>

#include "api/fitter_state.h"
#include "core/result.h"
#include "numeric/complex.h"

namespace cfit {

// The terms of element (0, 0) in stored form (see fitted_model.h) and the
// reference impedance of the model.
struct RLCTerms {
  double referenceImpedance = 0.0;
  double constant = 0.0;
  double proportional = 0.0;
  std::vector<Complex> poles;
  std::vector<Complex> residues;
};

// The terms of the series R-L-C network as data type `type`:
//   3 (Z = R + sL + 1/(sC)), reference R: one pole 1e-10 Hz standing in for
//     the pole at 0 with residue 1e10 / (2 pi C), constant R, proportional
//     term 2 pi L;
//   2 (Y = 1/Z), reference R: the poles of s / (L (s^2 + (R/L) s + 1/(LC)));
//   1 (S = (Z - Z0)/(Z + Z0)) with Z0 = R, or Z0 = 2R at critical damping
//     (|4 R^2 C / L - 4| < 1e-6): S = 1 - (2 Z0 / L) s / (s^2 + ((R + Z0)/L) s
//     + 1/(LC)).
// For Y and S, with a = the damping (R/(2L), or (R + Z0)/(2L) for S) and
// w = 1/(LC) - a^2, w > 0 gives one complex pair and w < 0 two real poles;
// w = 0 is taken as w = 1e-6/(LC). For Y a w within 1e-8/(LC) of 0 is taken
// so too: near critical damping simple poles cannot hold the double pole,
// and two nearly equal real poles would cancel in rounding (about 7e-5 at
// R = 2 sqrt(L/C) where rounding leaves w slightly below 0; the stand-in
// errs by about 1e-6). S moves its Z0 away from critical damping instead.
// Fails with 48 unless R, L and C are finite and above 0, then with 32 for a
// type other than 1, 2 or 3.
Result<RLCTerms> RLCModelTerms(double r, double l, double c, int type);

// Replaces the fitter's model by the R-L-C model (a 1-port model defined as
// DefineModel and SetElementModel do; its failures are returned).
Status BuildRLCModel(FitterState& state, double r, double l, double c, int type);

}  // namespace cfit

#endif  // CFIT_NETWORK_RLC_MODEL_H
