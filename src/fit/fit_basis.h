// Shared pieces of the least-squares problems of a fit: the series a fit
// works on, its options, the pulse-spectrum factor and the partial-fraction
// basis.
//
// The Laplace variable of the fit is s = j f with f in hertz; a working pole
// q is stable when Re q < 0, and a complex pair is one term with Im q < 0.
#ifndef CFIT_FIT_FIT_BASIS_H
#define CFIT_FIT_FIT_BASIS_H

#include <span>
#include <vector>

#include "numeric/complex.h"
#include "numeric/element_table.h"
#include "numeric/pole_term.h"

namespace cfit {

// The quantity whose poles one fit identifies, at strictly increasing
// frequencies (hertz): one matrix element after delay removal, or the
// alternating sum of all elements in a common-pole fit. Points from
// `sampled` on were added above the band by an extended fit; they take part
// in the least squares with a lower weight but not in the accuracy figures.
struct FitSeries {
  std::vector<double> frequency;
  std::vector<Complex> value;
  int sampled = 0;

  int size() const { return static_cast<int>(frequency.size()); }
};

// Limits on the quality ratio |Im q / Re q| of poles, carried from fit to
// fit of one fitter: the largest ratio given to a starting pole (only grows,
// up to the pole ratio bound) and the bound beyond which relocated poles are
// dropped.
struct PoleLimits {
  double workingQLimit = 100.0;
  double poleRatioBound = 400.0;
};

// How one quantity is fitted.
struct FitOptions {
  int asymptoteMode = kConstant;
  bool dcConstrained = false;
  // Finer starting poles and a smaller negligibility threshold.
  bool passivity = false;
  // The fitted element had a delay removed: its phase no longer carries the
  // delay, so imaginary turning points count and no closing pole is added.
  bool delayRemoved = false;
  // Data type (DataType code): S and pulse data never get a reactive top.
  int dataType = 0;
  // Time step of the pulse-spectrum factor, seconds; 0 = none.
  double timeStep = 0.0;
  // Least squares with column pivoting, or plain Householder QR.
  bool pivoting = true;
  // Extended fit: added rows are down-weighted and poles above 1e11 dropped.
  bool extendedFit = false;
  // The caller's band: relocated poles outside it are dropped when set.
  bool callerBand = false;
  double lowerBandFrequency = 0.0;
  double upperBandFrequency = 1e11;
  // Commit keeps terms down to the smaller negligibility threshold of a
  // model that is to be made passive: a fit whose poles were relocated until
  // they settled reaches errors far below the larger one.
  bool keepSmallTerms = false;
  // Order of the residue matrices of the working poles: 1 for an element,
  // N in a common-pole fit.
  int residueOrder = 1;
  // Share of the progress fraction one factorisation covers.
  double progressStep = 0.0;
};

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

// Weight of the least-squares rows of point k.
double RowWeight(const FitSeries& series, const FitOptions& options, int k);

// Largest modulus of the values.
double LargestMagnitude(std::span<const Complex> values);

}  // namespace cfit

#endif  // CFIT_FIT_FIT_BASIS_H
