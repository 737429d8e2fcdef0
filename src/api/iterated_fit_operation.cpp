#include "api/iterated_fit_operation.h"

#include "api/cfit_impl.h"
#include "api/errors.h"
#include "api/operation_table.h"
#include "io/run_log.h"

namespace cfit {

int FitIterated(cFitAPI& fitter, const IterationSettings& settings, IteratedFitRecord* record) {
  auto* own = dynamic_cast<cCfit*>(&fitter);
  if (own == nullptr) return fitter.Fit();
  FitterState& state = own->state();
  // As every host operation: the model describes itself in the network's
  // terms before and after the fit.
  state.SyncModelFrame();
  struct Resync {
    FitterState& state;
    ~Resync() { state.SyncModelFrame(); }
  } resync{state};
  try {
    if (!Admit(state, Operation::kFit)) return 0;
    const FitReport report = FitIterated(
        state, settings,
        RunContext(runlog::Stream(), &state.session.progress, state.session.cancelFlag), record);
    if (report.firstFailure.has_value()) state.session.error.Record(*report.firstFailure);
    return report.ok ? 1 : 0;
  } catch (const InternalFault&) {
    state.session.error.Record(ErrorCode::kFitFailed);
    return 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace cfit
