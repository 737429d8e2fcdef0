#include "network/model_access.h"

#include <cmath>
#include <cstddef>
#include <memory>
#include <numbers>
#include <utility>
#include <vector>

namespace cfit {

namespace {

bool HasTable(const Model& m, const std::vector<double>& table) {
  return table.size() == static_cast<std::size_t>(m.n) * static_cast<std::size_t>(m.n);
}

double Entry(const Model& m, const std::vector<double>& table, int i, int j) {
  return HasTable(m, table) ? table[m.Index(i, j)] : 0.0;
}

void Store(Model& m, std::vector<double>& table, int i, int j, double value, bool mirror) {
  if (!HasTable(m, table)) return;
  table[m.Index(i, j)] = value;
  if (mirror) table[m.Index(j, i)] = value;
}

// The element whose pole list (i, j) reads.
std::size_t ListIndex(const Model& m, int i, int j) {
  return m.symmetric && i < j ? m.Index(j, i) : m.Index(i, j);
}

bool HasElementLists(const Model& m) {
  return m.elementPoles.size() == static_cast<std::size_t>(m.n) * static_cast<std::size_t>(m.n);
}

// Stores a residue; a real pole keeps only the real part, as the model's
// evaluation reads it.
void SetResidue(PoleTerm& term, int i, int j, Complex value) {
  if (term.IsReal()) value.im = 0.0;
  term.SetResidue(i, j, value);
}

// q / (1 - exp(-q T)) for q = 2 pi p, the pulse-spectrum factor at the pole.
// The denominator is (1 - e cos b) + j e sin b with e = exp(-a), a = Re(q) T,
// b = Im(q) T; its real part is formed as -expm1(-a) cos b + 2 sin^2(b / 2),
// which keeps its digits when q T is small. It is 0 only for q = 0, where
// the factor tends to 1 / T.
Complex PulseFactor(Complex p, double width) {
  const Complex q = 2.0 * std::numbers::pi * p;
  const double a = q.re * width;
  const double b = q.im * width;
  const double halfSine = std::sin(0.5 * b);
  const Complex denominator(-std::expm1(-a) * std::cos(b) + 2.0 * halfSine * halfSine,
                            std::exp(-a) * std::sin(b));
  if (denominator.re == 0.0 && denominator.im == 0.0) return Complex(1.0 / width, 0.0);
  return q / denominator;
}

}  // namespace

bool InModel(const Model& m, int i, int j) { return i >= 0 && j >= 0 && i < m.n && j < m.n; }

ElementModelInfo ElementInfo(const Model& m, int i, int j) {
  ElementModelInfo info;
  if (!m.individual()) {
    info.poleCount = static_cast<int>(m.commonPoles.size());
  } else {
    info.poleCount =
        HasElementLists(m) ? static_cast<int>(m.elementPoles[ListIndex(m, i, j)].size()) : 0;
  }
  info.constant = Entry(m, m.constant, i, j);
  info.proportional = Entry(m, m.proportional, i, j);
  info.delay = Entry(m, m.delay, i, j);
  return info;
}

std::vector<ElementTerm> ElementTerms(const Model& m, int i, int j) {
  std::vector<ElementTerm> out;
  if (!InModel(m, i, j)) return out;
  const bool common = !m.individual();
  if (!common && !HasElementLists(m)) return out;
  const PoleList& terms = common ? m.commonPoles : m.elementPoles[ListIndex(m, i, j)];
  out.reserve(terms.size());
  for (const PoleTerm& term : terms) {
    out.push_back({term.GetPole(), common ? term.GetResidue(i, j) : term.GetResidue00()});
  }
  return out;
}

Status DefineModel(FitterState& state, int portCount, int dataType,
                   const double* referenceImpedances, bool symmetric) {
  if (state.network.portCount > 0 && state.network.portCount != portCount)
    return ErrorCode::kFitOfOtherSize;
  if (portCount < 1 || portCount > kMaxDefinedPorts) return ErrorCode::kInvalidArguments;

  // Everything new is built before the fitter changes, so that a failed
  // allocation leaves it as it was.
  const std::size_t n = static_cast<std::size_t>(portCount);
  auto model = std::make_unique<Model>(Model::Empty(portCount));
  auto table = std::make_unique<ElementTable>(portCount, dataType);
  std::vector<double> impedances(n, 50.0);
  if (referenceImpedances != nullptr)
    impedances.assign(referenceImpedances, referenceImpedances + n);
  model->dataType = dataType;
  model->impedances = impedances;
  model->symmetric = symmetric;

  state.network.dataType = dataType;
  state.network.portCount = portCount;
  state.network.impedances = std::move(impedances);
  state.network.symmetric = symmetric;
  state.network.elements = std::move(table);
  state.ReplaceData(std::nullopt);
  state.model = std::move(model);
  return Success();
}

ElementStore SetElementModel(Model& m, int i, int j, int poleCount, double constant,
                             double proportional, double delay, const double* poles,
                             const double* residues) {
  if (!InModel(m, i, j) || !HasElementLists(m)) return ElementStore::kRefused;
  // Terms that are not finite numbers make no model: refused before
  // anything is stored.
  if (!std::isfinite(constant) || !std::isfinite(proportional) || !std::isfinite(delay)) {
    return ElementStore::kRefused;
  }
  if (poles != nullptr && residues != nullptr) {
    for (int k = 0; k < 2 * poleCount; ++k) {
      if (!std::isfinite(poles[k]) || !std::isfinite(residues[k])) return ElementStore::kRefused;
    }
  }
  m.shape = PoleShape::kIndividual;
  m.id.Renew();
  const bool mirror = m.symmetric;
  Store(m, m.constant, i, j, constant, mirror);
  Store(m, m.proportional, i, j, proportional, mirror);
  Store(m, m.delay, i, j, delay, mirror);
  if (poles == nullptr || residues == nullptr) return ElementStore::kScalarsOnly;

  PoleList list;
  for (int k = 0; k < poleCount; ++k) {
    PoleTerm term(1);
    term.SetPole(poles[2 * k], poles[2 * k + 1]);
    SetResidue(term, 0, 0, Complex(residues[2 * k], residues[2 * k + 1]));
    list.push_back(std::move(term));
  }
  m.elementPoles[ListIndex(m, i, j)] = std::move(list);
  return ElementStore::kStored;
}

Result<int> ConvertPulseModelToS(Model& m, double pulseWidth, double scale, double delay) {
  if (m.n != 1 || m.dataType != kPulse) return ErrorCode::kNoFit;
  if (!std::isfinite(pulseWidth) || !std::isfinite(scale) || !std::isfinite(delay)) {
    return ErrorCode::kInvalidArguments;
  }
  const bool common = !m.individual();
  if (!common && !HasElementLists(m)) return ErrorCode::kNoFit;
  m.id.Renew();
  if (delay > 0.0) Store(m, m.delay, 0, 0, delay, false);

  PoleList& terms = common ? m.commonPoles : m.elementPoles[0];
  int count = 0;
  for (PoleTerm& term : terms) {
    Complex r = scale * term.GetResidue(0, 0);
    if (pulseWidth > 0.0) r = r * PulseFactor(term.GetPole(), pulseWidth);
    SetResidue(term, 0, 0, r);
    ++count;
  }
  m.dataType = kS;
  return count;
}

int MultiplyModelByFrequency(Model& m, double closingPole, double factor) {
  if (!m.individual() || m.n != 1 || !HasElementLists(m)) return 0;
  if (!std::isfinite(closingPole) || !std::isfinite(factor)) return 0;
  const bool hasProportional = HasTable(m, m.proportional);
  if (hasProportional && m.proportional[0] != 0.0) return 0;
  m.id.Renew();

  const double k = 2.0 * std::acos(-1.0) * factor;
  const double d = Entry(m, m.constant, 0, 0);
  if (hasProportional) m.proportional[0] = k * d;
  // k s R / (1 + s / P) = k P R - k P R / (1 + s / P): each term gives up
  // k P R to the constant and keeps -k P R (a pair the real part of it).
  double c = 0.0;
  PoleList& terms = m.elementPoles[0];
  for (PoleTerm& term : terms) {
    const Complex kpr = k * term.GetPole() * term.GetResidue00();
    SetResidue(term, 0, 0, -kpr);
    c += kpr.re;
  }
  if (closingPole == 0.0) {
    Store(m, m.constant, 0, 0, c, false);
  } else {
    PoleTerm closing(1);
    closing.SetPole(closingPole, 0.0);
    closing.SetResidue00(Complex(c, 0.0));
    terms.insert(terms.begin(), std::move(closing));
    Store(m, m.constant, 0, 0, 0.0, false);
  }
  return 1;
}

}  // namespace cfit
