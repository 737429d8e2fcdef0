// The fitting driver: what is fitted, in which order and on which series.
// It is the only part of the fitting engine that sees the fitter's state;
// the routines under it take the series, options, poles and working set
// they work on.
#ifndef CFIT_FIT_FIT_DRIVER_H
#define CFIT_FIT_FIT_DRIVER_H

#include <functional>
#include <span>

#include "api/fitter_state.h"
#include "core/run_context.h"
#include "fit/fit_basis.h"
#include "fit/residues.h"

namespace cfit {

// How a fit ended: whether every fitted element succeeded, and the first
// failure met on the way (a fit may succeed after a delay estimate failed;
// a failed fit without another failure gives error 23). The facade records
// the failure.
struct FitReport {
  bool ok = false;
  std::optional<ErrorCode> firstFailure;
};

// The pole identification of one fitted quantity, from the starting poles in
// `poles` to the relocated ones (still in working form, residues to be
// identified): `targets` are the quantities whose residues the poles will
// carry (one element, or every fitted element of a common-pole fit). A fit
// without one makes the single relocation pass: one sigma solve on the
// series, then its zeros.
using PoleRelocation = std::function<Status(
    const FitSeries& series, std::span<const ResidueTarget> targets, const FitOptions& options,
    const PoleLimits& limits, WorkingSet& work, PoleList& poles, const RunContext& run)>;

// Fits the sampled data into a fresh model: every element with its own
// poles (only the lower triangle of a symmetric matrix), or one pole set
// common to all elements. The caller has checked that there are data and
// that every value is a finite number (a model of values that are not
// numbers would replace the one held). Logs the start and end lines and
// per-element errors to the run context, reports progress there and stops
// between rows when its cancel byte is set (ok false, nothing noted). The
// sampled data are left as they were.
// With `relocate` given, it identifies every quantity's poles in its stead.
FitReport Fit(FitterState& state, const RunContext& run, const PoleRelocation* relocate = nullptr);

// The body of Fit, between its start and end lines.
FitReport FitAll(FitterState& state, const RunContext& run,
                 const PoleRelocation* relocate = nullptr);

// The frequencies of an extended fit (values zero): every sampled
// frequency, then points above the band reaching
// F_last + 10 (F_last - F_first), counted as added.
FitSeries ExtendBand(ConstPointRange points);

// The fit of one element on its series (after delay removal; on the plain
// or the extended band): starting poles, one relocation, residues. On
// success the poles hold the element's terms in stored form (not yet
// pruned) and the result its constant, proportional term and accuracy.
// Failures as the routines report them.
Result<ResidueFit> FitElementSeries(const FitSeries& series, const FitOptions& options,
                                    const ResidueTarget& target, WorkingSet& work,
                                    PoleLimits& limits, PoleList& poles, const RunContext& run,
                                    const PoleRelocation* relocate = nullptr);

}  // namespace cfit

#endif  // CFIT_FIT_FIT_DRIVER_H
