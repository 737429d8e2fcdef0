#include "fit/model_evaluation.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace cfit {

namespace {

// R / (1 + j f / P): a first-order section with value R at 0 Hz and corner P.
Complex Section(Complex residue, Complex pole, double f) {
  return residue / (Complex(1.0, 0.0) + Complex(0.0, f) / pole);
}

// Half the sum of the section and its conjugate partner.
Complex PairSection(Complex residue, Complex pole, double f) {
  return 0.5 * (Section(residue, pole, f) + Section(Conj(residue), Conj(pole), f));
}

bool UsesProportional(const ModelView& view, int i, int j) {
  return view.elements != nullptr &&
         view.elements->AsymptoteModeAt(i, j, i, j) == kConstantAndProportional;
}

}  // namespace

Complex EvaluateElement(const ModelView& view, int i, int j, double f) {
  const Model& model = *view.model;
  const std::size_t own = model.Index(i, j);
  const double d = model.constant.empty() ? 0.0 : model.constant[own];
  const double e =
      model.proportional.empty() || !UsesProportional(view, i, j) ? 0.0 : model.proportional[own];

  if (!view.individualPoles) {
    if (f == 0.0) {
      double sum = d;
      for (const PoleTerm& term : model.commonPoles) sum += term.GetResidue(i, j).re;
      return {sum, 0.0};
    }
    Complex h(d, f * e);
    for (const PoleTerm& term : model.commonPoles) {
      h += PairSection(term.GetResidue(i, j), term.GetPole(), f);
    }
    return h;
  }

  // With a symmetric matrix the upper triangle reads the lower one's list and
  // delay.
  const std::size_t source = (view.symmetric && i < j) ? model.Index(j, i) : own;
  const PoleList empty;
  const PoleList& terms = model.elementPoles.empty() ? empty : model.elementPoles[source];
  if (f == 0.0) {
    double sum = d;
    for (const PoleTerm& term : terms) sum += term.GetResidue00().re;
    return {sum, 0.0};
  }
  Complex h(d, f * e);
  for (const PoleTerm& term : terms) {
    if (term.IsReal()) {
      h += Section(Complex(term.GetResidue00().re, 0.0), term.GetPole(), f);
    } else {
      h += PairSection(term.GetResidue00(), term.GetPole(), f);
    }
  }
  const double tau = model.delay.empty() ? 0.0 : model.delay[source];
  if (tau != 0.0) h = h * Exp(Complex(0.0, -2.0 * std::numbers::pi * f * tau));
  return h;
}

PoleBand PoleRange(const ModelView& view, int row) {
  double smallestRe = 1e15;
  double largestAbs = 0.0;
  auto take = [&](const PoleTerm& term) {
    const Complex p = term.GetPole();
    smallestRe = std::min(smallestRe, p.re);
    largestAbs = std::max(largestAbs, Abs(p));
  };
  const Model& model = *view.model;
  if (!view.individualPoles) {
    for (const PoleTerm& term : model.commonPoles) take(term);
  } else if (!model.elementPoles.empty() && row >= 0 && row < model.n) {
    for (int j = 0; j < model.n; ++j) {
      const std::size_t k = (view.symmetric && row < j) ? model.Index(j, row) : model.Index(row, j);
      for (const PoleTerm& term : model.elementPoles[k]) take(term);
    }
  }
  return {0.25 * smallestRe, 4.0 * largestAbs};
}

Result<Complex> ModelElementValue(const ModelView& view, int i, int j, double frequency) {
  if (!std::isfinite(frequency)) return ErrorCode::kInvalidArguments;
  return EvaluateElement(view, i, j, frequency);
}

}  // namespace cfit
