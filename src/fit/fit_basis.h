// Shared pieces of the least-squares problems of a fit: the fitted quantity,
// the pulse-spectrum factor and the partial-fraction basis.
//
// The Laplace variable of the fit is s = j f with f in hertz; a working pole
// q is stable when Re q < 0, and a complex pair is one term with Im q < 0.
#ifndef CFIT_FIT_FIT_BASIS_H
#define CFIT_FIT_FIT_BASIS_H

#include "api/fitter_state.h"
#include "numeric/complex.h"

namespace cfit {

// The quantity being fitted at one point: element (row, column) of the
// current fit (through the checked accessor, so the 1 x 1 points of an
// extended fit reach their only element), or in a common-pole fit the
// alternating sum of all elements.
Complex FittedQuantity(const FitterState& state, const PortMatrix& point);

// Spectrum of a unit rectangular pulse of width tau at f:
// (sin wt - j (1 - cos wt)) / w, w = 2 pi f; tau at f = 0.
Complex PulseSpectrum(double f, double tau);

// True for points close to a zero of the pulse spectrum, which carry no
// information about the fitted quantity: f >= 0.85 T and f mod T within
// 0.15 T of a multiple of T = 1 / tau.
bool NearPulseSpectrumZero(double f, double tau);

// Number of basis columns of a pole list: one per real pole, two per pair.
int BasisColumnCount(const PoleList& poles);

// Writes the basis values of every pole at s = j f into out[0 ..
// BasisColumnCount): 1/(s - q) for a real pole; b1 + b2 and j (b1 - b2)
// with b1 = 1/(s - q), b2 = 1/(s - conj q) for a pair.
void PoleBasis(const PoleList& poles, double f, Complex* out);

// The asymptote mode and DC-constraint flag of the quantity being fitted:
// element (row, column), or element (0, 0) in a common-pole fit.
int FittedAsymptoteMode(const FitterState& state);
bool FittedDcConstrained(const FitterState& state);

// Index of the first added point of an extended fit (the point count when
// none were added).
int FirstAddedPoint(const SampledData& data);

// Weight of the least-squares rows of point k.
double RowWeight(const FitterState& state, int k);

}  // namespace cfit

#endif  // CFIT_FIT_FIT_BASIS_H
