// Iterated pole relocation: the sigma solve and the relocation of the poles
// to the zeros of sigma, repeated from the previous poles until they settle,
// for one element's poles or for one pole set common to many elements; and,
// when asked, order control towards a target error. The residues are then
// identified as in the single pass.
//
// The sigma solve of an iteration takes every target at once. The residue
// unknowns of each target are eliminated against an orthonormal basis of
// the residue columns (the same for all targets), which leaves one small
// system of normal equations for the sigma coefficients summed over the
// targets; its cost grows with targets x points x order^2, and its size
// does not grow with the number of targets. Sigma is relaxed (its constant
// term is an unknown, fixed by a row asking that the real part of sigma
// average to 1 over the band), which keeps the relocation from stalling on
// noisy data; when that constant comes out negligible the solve is repeated
// with it fixed to 1.
#ifndef CFIT_FIT_ITERATED_FIT_H
#define CFIT_FIT_ITERATED_FIT_H

#include <span>

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"
#include "fit/fit_basis.h"
#include "fit/fit_driver.h"
#include "fit/residues.h"
#include "numeric/working_set.h"

namespace cfit {

// How the relocation is repeated and when it stops.
//
// Stopping rule: the poles have settled when the relocation keeps their
// number and moves none of them by more than `poleTolerance` of its modulus;
// the relocation also stops when three relocations in a row did not lower
// the smallest fit error of the targets met so far (least squares on the
// poles) by more than `stallRatio` of it, and after `maxIterations`
// relocations. The pole set with the smallest fit error met on the way is
// the result; the single pass's relocation of the starting poles is one of
// the candidates.
struct IterationSettings {
  int maxIterations = 20;
  double poleTolerance = 1e-9;
  double stallRatio = 1e-3;
  // Order control, off at 0: while the relative RMS error of the targets is
  // above this, a complex pair (a real pole where only one more fits) is
  // added at the frequency where the error is
  // largest, terms whose contribution is below a hundredth of the target
  // are dropped, and the poles are relocated again; up to `maxOrder`.
  // `maxOrder` (real poles plus two per pair; 0 = as many as the working
  // set holds) also caps the starting poles: when the first relocation ends
  // above it, the terms that contribute least are dropped and the rest
  // relocated again.
  double targetError = 0.0;
  int maxOrder = 0;
  // For models that are to be made passive next (see FitIterated): S data
  // whose fitted constant has a singular value above 1 are fitted again
  // with it held passive.
  bool holdPassiveConstant = false;
  // With holdPassiveConstant: the held fit is kept unless it is more than
  // kHeldConstantTolerance times further from the data than the free one,
  // rather than only when it is at least as accurate. The enforcement
  // tries such a fit when the free one's enforcement would lose accuracy.
  bool preferHeldConstant = false;
  // Every pole kept below kPoleBandFactor times the data's top frequency
  // (unless the caller set a pole band of its own): such poles cannot build
  // the large terms just above the band that cancel inside it, which make
  // an accurate fit rise far above passivity beyond the band. The
  // enforcement tries such a fit when the first one cannot be made passive
  // without losing accuracy (EnforceByPerturbation).
  bool polesNearBand = false;
};

// What the relocation of one quantity did.
struct RelocationRecord {
  int iterations = 0;          // relocations made, over all order rounds
  bool settled = false;        // the last round ended with settled poles
  int order = 0;               // real poles plus two per pair of the result
  double relativeError = 0.0;  // ||V - fit||_F / ||V||_F over the targets
};

// What an iterated fit did over all its quantities (one in a common-pole
// fit, one per fitted element otherwise).
struct IteratedFitRecord {
  int quantities = 0;
  int settled = 0;
  int fewestIterations = 0;
  int mostIterations = 0;
  int totalIterations = 0;
  // The constant was held passive in a second fit, which was kept.
  bool constantHeld = false;
  // The fit kept its poles below kPoleBandFactor times the top frequency.
  bool polesInBand = false;
};

// Relocates the starting poles in `poles` iteratively against the targets'
// values at the series' frequencies (rows weighted as the single pass
// weights them; added points of an extended fit take part in the least
// squares but not in the error). On success `poles` holds the working poles
// of the result (a relocation that breaks down ends the iteration with the
// best poles met). Error 26 without points or targets, 23 without starting
// poles; a silent failure when the run is cancelled.
Result<RelocationRecord> RelocatePoles(const FitSeries& series,
                                       std::span<const ResidueTarget> targets,
                                       const FitOptions& options, const PoleLimits& limits,
                                       const IterationSettings& settings, WorkingSet& work,
                                       PoleList& poles, const RunContext& run);

// Fits the sampled data as Fit does (same model layout, log lines, delays,
// element table entries and residues), with every quantity's poles found by
// RelocatePoles. With settings.holdPassiveConstant, S data whose fitted
// constant has a singular value above 1 (and no asymptote or constant set
// by the caller) are fitted again with the constant held at
// HeldConstant's value, and that fit is kept when it is at least as
// accurate as the free one (within kHeldConstantTolerance with
// settings.preferHeldConstant). `record`, when given, receives what the
// relocations of the kept fit did.
FitReport FitIterated(FitterState& state, const IterationSettings& settings, const RunContext& run,
                      IteratedFitRecord* record = nullptr);
inline constexpr double kPoleBandFactor = 2.0;
inline constexpr double kHeldConstantTolerance = 2.0;

}  // namespace cfit

#endif  // CFIT_FIT_ITERATED_FIT_H
