#include "api/passivity_operations.h"

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "api/cfit_impl.h"
#include "api/iterated_fit_operation.h"
#include "core/run_context.h"
#include "io/run_log.h"
#include "numeric/singular_value_clip.h"
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
// figures filled in; false when it failed or gave up (`outcome.failure`
// says why).
bool EnforceModel(FitterState& state, const std::vector<double>& frequencies,
                  const PerturbationOptions& options, PerturbationOutcome& outcome) {
  const auto report =
      EnforceKeepingAccuracy(*state.model, state.network.elements.get(), *state.network.data,
                             frequencies, options, RunContext(runlog::Stream(), nullptr, nullptr));
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
  outcome.gaveUp = report->report.gaveUp;
  if (outcome.gaveUp) outcome.failure = "it would cost more accuracy than allowed";
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
  const double goal = kRefitTolerance * fitted + kRefitMargin;
  const bool eligible = refit != nullptr && !refit->polesNearBand &&
                        state->network.dataType == kS && !state->settings.callerBand &&
                        state->network.elements != nullptr && std::isfinite(fitted);
  // With a refit to turn to, the first enforcement gives up once its lower
  // bound on the change passes what would leave it beyond the goal (the
  // deviation can fall by at most the fit's own), with room for the bound
  // being one of a linearisation.
  PerturbationOptions options;
  if (eligible) options.giveUpChange = kGiveUpRoom * (goal + fitted);
  const Model kept = *state->model;
  const ElementTable table = *state->network.elements;
  const bool first = EnforceModel(*state, frequencies, options, outcome);
  const bool gaveUp = outcome.gaveUp;
  const double firstError = first ? deviation() : std::numeric_limits<double>::infinity();
  if (!eligible || firstError <= goal) return outcome;

  // The passive model closest to the data so far, with its outcome.
  struct Candidate {
    Model model;
    ElementTable table;
    PerturbationOutcome outcome;
    double error;
  };
  std::optional<Candidate> best;
  if (first) best = Candidate{*state->model, *state->network.elements, outcome, firstError};
  if (gaveUp) {
    runlog::Write("\n*** The enforcement would leave the model more than ", goal,
                  " from the data (the fit: ", fitted, ") ***\n");
  } else {
    runlog::Write("\n*** The enforced model is ", firstError, " from the data (the fit: ", fitted,
                  ") ***\n");
  }
  // Fits whose passivity costs less, each fitted and enforced in turn
  // (giving up as the first did) until one is close enough: the fit with
  // its constant held passive where the free one was kept though its
  // constant violates, then the fit with every pole near the band.
  std::vector<std::pair<IterationSettings, const char*>> refits;
  if (refit->holdPassiveConstant && !refit->preferHeldConstant &&
      LargestSingularValue(kept.constant, kept.n) > 1.0) {
    IterationSettings held = *refit;
    held.preferHeldConstant = true;
    refits.push_back({held, "with its constant held passive"});
  }
  IterationSettings nearBand = *refit;
  nearBand.polesNearBand = true;
  refits.push_back({nearBand, "with the poles near the band"});
  double lastRefit = std::nan("");
  for (const auto& [settings, what] : refits) {
    runlog::Write("\n*** Fitting again ", what, " ***\n");
    IteratedFitRecord record;
    if (FitIterated(fitter, settings, &record) == 0 || state->model == nullptr) continue;
    if (settings.preferHeldConstant && !record.constantHeld) continue;  // the free fit again
    PerturbationOutcome next;
    next.refitError = lastRefit = deviation();
    PerturbationOptions refitOptions;
    refitOptions.giveUpChange = kGiveUpRoom * (goal + next.refitError);
    if (!EnforceModel(*state, frequencies, refitOptions, next)) continue;
    const double error = deviation();
    if (best && !(error < best->error)) continue;
    next.refitted = true;
    next.refitHeld = settings.preferHeldConstant;
    next.fittedError = fitted;  // the deviation of the model the caller fitted
    best = Candidate{*state->model, *state->network.elements, next, error};
    if (error <= goal) break;
  }
  // The fitted model back in place of what the refits left.
  const auto restore = [&] {
    if (state->model == nullptr) state->model = std::make_unique<Model>();
    *state->model = kept;
    *state->network.elements = table;
  };
  if (gaveUp && !(best && best->error <= goal)) {
    // No refit reached the goal either: the first fit is enforced to its
    // end after all.
    runlog::Write("\n*** No refit comes close enough: the first fit is enforced to the end ***\n");
    restore();
    PerturbationOutcome full;
    full.refitError = lastRefit;
    if (EnforceModel(*state, frequencies, {}, full)) {
      const double error = deviation();
      if (!(best && best->error < error)) {
        best = Candidate{*state->model, *state->network.elements, full, error};
      }
    } else if (!best) {
      outcome = full;
    }
  }
  if (!best) {
    // Nothing ended passive: the fit as it was.
    restore();
    outcome.refitError = lastRefit;
    return outcome;
  }
  *state->model = std::move(best->model);  // a model is in place: the first one or a refit's
  *state->network.elements = std::move(best->table);
  if (best->outcome.refitted) {
    runlog::Write("\n*** The refit's enforced model is kept: ", best->error,
                  " from the data ***\n");
  } else {
    runlog::Write("\n*** The first enforced model is kept ***\n");
    best->outcome.refitError = lastRefit;
  }
  return best->outcome;
}

}  // namespace cfit
