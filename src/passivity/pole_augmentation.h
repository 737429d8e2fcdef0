// Added poles for an enforcement by residue perturbation.
//
// A violation beyond the data band comes from terms the fit placed to match
// the band: a sharp resonance below it, terms that add up above it. Removing
// the violation changes those terms' residues, and with them their tails
// inside the band, which the other residues cannot give back when no other
// basis function looks like those tails. Damped pole pairs at the
// violation's frequency have nearly the same tail in the band as a sharp one
// there, but low, broad peaks: with their residues free (and zero to begin
// with, so the model is unchanged until the perturbation moves them), the
// perturbation can move the tail onto them and take the peak away at little
// cost in the band.
#ifndef CFIT_PASSIVITY_POLE_AUGMENTATION_H
#define CFIT_PASSIVITY_POLE_AUGMENTATION_H

#include <span>
#include <vector>

#include "fit/model.h"
#include "passivity/passivity_certificate.h"

namespace cfit {

// The dampings Re p / |p| of the pairs added by default: from a peak a
// little broader than a sharp resonance's to one spread over an octave.
inline constexpr double kAddedPairDampings[] = {0.2, 0.5, 0.8};

// Adds, for each band's part outside [low, high] (hertz), terms with zero
// residues at the band's worst point (or, when that lies in the data band,
// the part's geometric middle): a pair of each of the `dampings`, and for a
// part above the band a real pole too. Terms go into the
// common list, or into every element's list that has terms, before any term
// that stands for a constant. A band that reaches infinite frequency (the
// model's constant violates) gets `farPoles` real poles too, at 2, 4, 8, ...
// times `high`: the constant's change must be taken back inside the band,
// and through a real pole p far above it what remains there is only of
// the order of f / p. Returns the poles added to each list.
std::vector<Complex> AddPolesForBands(Model& model, const std::vector<CertifiedBand>& bands,
                                      double low, double high,
                                      std::span<const double> dampings = kAddedPairDampings,
                                      int farPoles = 0);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_POLE_AUGMENTATION_H
