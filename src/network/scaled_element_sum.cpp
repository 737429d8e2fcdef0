#include "network/scaled_element_sum.h"

#include <algorithm>

namespace cfit {

void AccumulateScaledElement(ElementSum& destination, const PoleList& terms, double constant,
                             double proportional, double w) {
  for (const PoleTerm& source : terms) {
    const Complex pole = source.GetPole();
    const Complex added = w * source.GetResidue00();
    auto same = std::find_if(destination.terms.begin(), destination.terms.end(),
                             [&](const PoleTerm& t) { return t.GetPole() == pole; });
    if (same == destination.terms.end()) {
      PoleTerm term(1);
      term.SetPole(pole);
      term.SetResidue00(added);
      destination.terms.push_back(term);
    } else if (same->GetResidue00() == -added) {
      destination.terms.erase(same);
    } else {
      same->SetResidue00(same->GetResidue00() + added);
    }
  }
  destination.constant += w * constant;
  destination.proportional += w * proportional;
}

}  // namespace cfit
