#include "passivity/magnitude_bound.h"

#include <cmath>

#include "core/network.h"

namespace cfit {

namespace {

// Sum of |R| |P| / Re P over the element's terms; +infinity for an unstable
// or undamped pole.
double TermBound(const PoleList& terms, int i, int j, bool perElement) {
  double sum = 0.0;
  for (const PoleTerm& t : terms) {
    const Complex p = t.GetPole();
    if (!(p.re > 0.0)) return HUGE_VAL;
    const double r = Abs(perElement ? t.GetResidue00() : t.GetResidue(i, j));
    if (r != 0.0) sum += r * (Abs(p) / p.re);
  }
  return sum;
}

}  // namespace

double ScatteringMagnitudeBound(const Model& model, const ElementTable* elements) {
  const int n = model.n;
  const std::size_t nn = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  if (model.dataType != kS || n <= 0) return HUGE_VAL;
  if (model.individual() && model.elementPoles.size() != nn) return HUGE_VAL;
  double squares = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const std::size_t own = model.Index(i, j);
      const bool proportional = !model.proportional.empty() && model.proportional[own] != 0.0 &&
                                (elements == nullptr ||
                                 elements->AsymptoteModeAt(i, j, i, j) == kConstantAndProportional);
      if (proportional) return HUGE_VAL;
      double b = model.constant.empty() ? 0.0 : std::abs(model.constant[own]);
      if (model.individual()) {
        const std::size_t source = model.symmetric && i < j ? model.Index(j, i) : own;
        b += TermBound(model.elementPoles[source], i, j, true);
      } else {
        b += TermBound(model.commonPoles, i, j, false);
      }
      squares += b * b;
    }
  }
  return std::sqrt(squares);
}

}  // namespace cfit
