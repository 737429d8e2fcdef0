#include "api/passivity_operations.h"

#include "api/cfit_impl.h"
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

PerturbationOutcome EnforceByPerturbation(cFitAPI& fitter, const std::vector<double>& frequencies) {
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
  const auto report =
      EnforceKeepingAccuracy(*state->model, state->network.elements.get(), *state->network.data,
                             frequencies, {}, RunContext(runlog::Stream(), nullptr, nullptr));
  if (!report) {
    outcome.failure = report.failure().code
                          ? "the model is not S, Y or Z"
                          : "the certificate still finds violations after the steps allowed";
    return outcome;
  }
  outcome.passive = report->report.passive;
  outcome.steps = report->report.iterations;
  outcome.relativeChange = report->report.relativeChange;
  outcome.fittedError = report->fittedError;
  outcome.perturbedError = report->perturbedError;
  outcome.augmentedError = report->augmentedError;
  outcome.addedPoles = report->addedPoles;
  return outcome;
}

}  // namespace cfit
