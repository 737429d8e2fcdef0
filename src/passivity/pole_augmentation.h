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

#include <vector>

#include "fit/model.h"
#include "passivity/passivity_certificate.h"

namespace cfit {

// Adds, for each band's part outside [low, high] (hertz), terms with zero
// residues at the band's worst point (or, when that lies in the data band,
// the part's geometric middle): pairs of damping 0.2, 0.5 and 0.8 (Re p /
// |p|), and for a part above the band a real pole too. Terms go into the
// common list, or into every element's list that has terms, before any term
// that stands for a constant. Returns the poles added to each list.
std::vector<Complex> AddPolesForBands(Model& model, const std::vector<CertifiedBand>& bands,
                                      double low, double high);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_POLE_AUGMENTATION_H
