// Adding a scaled model element to another: the linear combinations of
// element models that mode conversions and joins build.
#ifndef CFIT_NETWORK_SCALED_ELEMENT_SUM_H
#define CFIT_NETWORK_SCALED_ELEMENT_SUM_H

#include "numeric/pole_term.h"

namespace cfit {

// One element of a model with poles per element: its terms (1 x 1 residues,
// stored pole convention), constant and proportional term.
struct ElementSum {
  PoleList terms;
  double constant = 0.0;
  double proportional = 0.0;
};

// destination += w * source. Each source term, in list order, goes to the
// destination term with exactly the same pole (real and imaginary parts
// equal): its residue grows by w r, and the term is removed when that
// cancels its residue exactly; a pole not found is appended with residue
// w r. The constant and the proportional term grow by w times the source's.
// The sum is exact in the model's terms because the stored residue of a
// pole is linear in the element.
void AccumulateScaledElement(ElementSum& destination, const PoleList& terms, double constant,
                             double proportional, double w);

}  // namespace cfit

#endif  // CFIT_NETWORK_SCALED_ELEMENT_SUM_H
