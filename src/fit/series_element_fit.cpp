#include "fit/series_element_fit.h"

#include <memory>
#include <utility>

#include "fit/fit_driver.h"
#include "passivity/enforcement.h"

namespace cfit {

namespace {

// The list of `source` with every residue scaled by `factor`.
PoleList Scaled(const PoleList& source, double factor) {
  PoleList list = source;
  for (PoleTerm& term : list) term.SetResidue00(term.GetResidue00() * factor);
  return list;
}

// A 1-port S model holding one element function.
std::unique_ptr<Model> OnePort(PoleList poles, double constant) {
  auto model = std::make_unique<Model>();
  model->n = 1;
  model->shape = PoleShape::kIndividual;
  model->elementPoles = {std::move(poles)};
  model->constant = {constant};
  model->proportional = {0.0};
  model->delay = {0.0};
  model->rmsError = {0.0};
  model->maxError = {0.0};
  return model;
}

// Enforces passivity on the 1-port S model `reflection` in a fitter state
// of its own that borrows the working storage of `state`.
Status EnforceOnePort(FitterState& state, std::unique_ptr<Model>& reflection,
                      const RunContext& run) {
  FitterState element;
  element.network.portCount = 1;
  element.network.dataType = kS;
  element.network.impedances = std::vector<double>{state.network.impedances->front()};
  element.network.symmetric = true;
  element.ResetElementTable();
  element.settings = state.settings;
  element.settings.passivity = true;
  element.model = std::move(reflection);
  std::swap(element.workspace.work, state.workspace.work);
  const Status enforced = EnforceModelPassivity(element, 1.0, run);
  std::swap(element.workspace.work, state.workspace.work);
  reflection = std::move(element.model);
  return enforced;
}

}  // namespace

bool KeepsSeriesRelations(const SampledData& data) {
  if (data.empty()) return false;
  for (ConstMatrixView p : data.points()) {
    const Complex s11 = p.At(0, 0), s12 = p.At(0, 1), s21 = p.At(1, 0), s22 = p.At(1, 1);
    if (!(Abs(s11 - s22) <= kSeriesRelationTolerance) ||
        !(Abs(s12 - s21) <= kSeriesRelationTolerance) ||
        !(Abs(s11 + s12 - 1.0) <= kSeriesRelationTolerance)) {
      return false;
    }
  }
  return true;
}

Status FitSeriesElement(FitterState& state, const RunContext& run) {
  state.settings.individualPoles = true;
  const bool extractDelays = state.settings.extractDelays;
  state.settings.extractDelays = false;
  const FitReport report = FitAll(state, run);
  state.settings.extractDelays = extractDelays;
  // A fit stopped by the cancel byte notes nothing.
  if (!report.ok) {
    return report.firstFailure.has_value() ? Failure::Of(*report.firstFailure) : Failure::Silent();
  }

  Model& model = *state.model;
  const std::size_t s11 = model.Index(0, 0);
  // G = 2 S11 - 1: residues doubled, constant 2 d - 1.
  std::unique_ptr<Model> reflection =
      OnePort(Scaled(model.elementPoles[s11], 2.0), 2.0 * model.constant[s11] - 1.0);
  const Status enforced = EnforceOnePort(state, reflection, run);
  if (!enforced.ok()) return enforced;

  // S11 = S22 = (1 + G)/2 and S12 = S21 = T = (1 - G)/2.
  const PoleList& g = reflection->elementPoles.front();
  const double dG = reflection->constant.front();
  const PoleList reflected = Scaled(g, 0.5), transmitted = Scaled(g, -0.5);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      const std::size_t k = model.Index(i, j);
      model.elementPoles[k] = i == j ? reflected : transmitted;
      model.constant[k] = i == j ? (1.0 + dG) / 2.0 : (1.0 - dG) / 2.0;
      model.proportional[k] = 0.0;
      model.delay[k] = 0.0;
    }
  }
  model.id.Renew();
  return Success();
}

}  // namespace cfit
