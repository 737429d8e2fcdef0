#include "api/passivity_operations.h"

#include <cmath>
#include <limits>

#include "api/cfit_impl.h"
#include "api/iterated_fit_operation.h"
#include "core/run_context.h"
#include "io/run_log.h"
#include "passivity/accurate_enforcement.h"
#include "passivity/passivity_certificate.h"

namespace cfit {

namespace {

// The engine's view of the fitter: hosts that link the library's internal
// form hold fitters of the library's own class.
FitterState* EngineState(cFitAPI& fitter) {
  auto* impl = dynamic_cast<cCfit*>(&fitter);
  return impl != nullptr ? &impl->state() : nullptr;
}

}  // namespace

FitterCertificate CertifyFitterModel(cFitAPI& fitter) {
  FitterCertificate reading;
  FitterState* state = EngineState(fitter);
  if (state == nullptr || state->model == nullptr) {
    reading.failure = "no model";
    return reading;
  }
  const auto cert = CertifyModel(*state->model, state->network.elements.get());
  if (!cert) {
    reading.failure = cert.failure().code ? "the model cannot be realised or is not S, Y or Z"
                                          : "the eigenvalue solver did not converge";
    return reading;
  }
  reading.known = true;
  reading.passive = cert->passive;
  reading.order = cert->hamiltonianOrder;
  reading.halfSize = cert->halfSize;
  reading.delaysIgnored = cert->delays == DelayHandling::kIgnored && !cert->byMagnitudeBound;
  reading.byMagnitudeBound = cert->byMagnitudeBound;
  for (const CertifiedBand& b : cert->bands) {
    reading.bands.push_back({b.from, b.to, b.measure, b.worstAt});
  }
  return reading;
}

int CertificateOrderOf(cFitAPI& fitter) {
  FitterState* state = EngineState(fitter);
  if (state == nullptr || state->model == nullptr) return 0;
  return CertificateOrder(*state->model, state->network.elements.get());
}

namespace {

// The enforcement of the fitter's model as it stands, with the outcome's
// figures filled in; false when it failed (`outcome.failure` says why).
bool EnforceModel(FitterState& state, const std::vector<double>& frequencies,
                  PerturbationOutcome& outcome) {
  const auto report =
      EnforceKeepingAccuracy(*state.model, state.network.elements.get(), *state.network.data,
                             frequencies, {}, RunContext(runlog::Stream(), nullptr, nullptr));
  if (!report) {
    outcome.failure = report.failure().code
                          ? "the model is not S, Y or Z"
                          : "the certificate still finds violations after the steps allowed";
    return false;
  }
  outcome.passive = report->report.passive;
  outcome.steps = report->report.iterations;
  outcome.relativeChange = report->report.relativeChange;
  outcome.fittedError = report->fittedError;
  outcome.perturbedError = report->perturbedError;
  outcome.augmentedError = report->augmentedError;
  outcome.addedPoles = report->addedPoles;
  outcome.failure.clear();
  return outcome.passive;
}

}  // namespace

PerturbationOutcome EnforceByPerturbation(cFitAPI& fitter, const std::vector<double>& frequencies,
                                          const IterationSettings* refit) {
  PerturbationOutcome outcome;
  FitterState* state = EngineState(fitter);
  if (state == nullptr || state->model == nullptr) {
    outcome.failure = "no model";
    return outcome;
  }
  if (frequencies.empty()) {
    outcome.failure = "no frequencies to weigh the change at";
    return outcome;
  }
  if (!state->HasPoints()) {
    outcome.failure = "no data to weigh the change against";
    return outcome;
  }
  outcome.refitError = std::nan("");
  const auto deviation = [&] {
    return RelativeDeviation(*state->model, state->network.elements.get(), *state->network.data);
  };
  // The fit's own deviation, measured before the enforcement (which fills
  // it in only when it gets that far).
  const double fitted = deviation();
  const bool first = EnforceModel(*state, frequencies, outcome);
  const double firstError = first ? deviation() : std::numeric_limits<double>::infinity();
  const bool eligible = refit != nullptr && !refit->polesNearBand &&
                        state->network.dataType == kS && !state->settings.callerBand &&
                        state->network.elements != nullptr && std::isfinite(fitted);
  if (!eligible || firstError <= kRefitTolerance * fitted + kRefitMargin) return outcome;

  // The fit again with its poles near the band, and its enforcement; the
  // first result comes back unless the second is passive and closer.
  const Model kept = *state->model;
  const ElementTable table = *state->network.elements;
  const PerturbationOutcome firstOutcome = outcome;
  runlog::Write("\n*** The enforced model is ", firstError, " from the data (the fit: ", fitted,
                "): fitting again with the poles near the band ***\n");
  IterationSettings settings = *refit;
  settings.polesNearBand = true;
  PerturbationOutcome second;
  bool better = false;
  if (FitIterated(fitter, settings) != 0 && state->model != nullptr) {
    second.refitError = deviation();
    if (EnforceModel(*state, frequencies, second)) better = deviation() < firstError;
  }
  if (better) {
    runlog::Write("\n*** The refit's enforced model is kept: ", deviation(),
                  " from the data ***\n");
    second.refitted = true;
    second.fittedError = fitted;  // the deviation of the model the caller fitted
    return second;
  }
  runlog::Write("\n*** The first enforced model is kept ***\n");
  *state->model = kept;
  *state->network.elements = table;
  outcome = firstOutcome;
  outcome.refitError = second.refitError;
  return outcome;
}

}  // namespace cfit
