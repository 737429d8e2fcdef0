// Residues and non-rational terms on fixed poles, and the commitment of the
// result into a pole list of the model.
#ifndef CFIT_FIT_RESIDUES_H
#define CFIT_FIT_RESIDUES_H

#include <span>
#include <vector>

#include "core/result.h"
#include "core/run_context.h"
#include "fit/fit_basis.h"
#include "numeric/working_set.h"

namespace cfit {

// One quantity whose residues are identified on the shared poles.
struct ResidueTarget {
  // Its values at the series' frequencies.
  std::span<const Complex> value;
  // Where its residues go in the poles' residue matrices ((0, 0) for an
  // element's own poles), and whether they are mirrored to (column, row).
  int row = 0;
  int column = 0;
  bool mirror = false;
  // The fixed constant of asymptote mode 0 (0 when unset).
  double fixedConstant = 0.0;
  // The value the model must take at 0 Hz (DC-constrained fits only).
  double dcValue = 0.0;
};

// What the residue fit found for one target: its constant and proportional
// terms, and the accuracy over the sampled points (added points excluded).
struct ResidueFit {
  double constant = 0.0;
  double proportional = 0.0;
  double rmsError = 0.0;
  double maxError = 0.0;
};

// Fits residues, constant and proportional term of every target on the
// poles (one factorisation shared by all targets), writes the residues into
// the poles and converts poles and residues to the stored form. With
// options.dcConstrained a 0 Hz sample is left out and the model's value at
// 0 Hz is imposed exactly. Error 25 when the problem exceeds the working
// set, 26 without points; a silent failure when the factorisation fails.
Result<std::vector<ResidueFit>> IdentifyResidues(const FitSeries& series,
                                                 std::span<const ResidueTarget> targets,
                                                 const FitOptions& options, WorkingSet& work,
                                                 PoleList& poles, const RunContext& run);

// Moves the working poles into `target`, dropping terms whose quality ratio
// reaches 10 times the working limit and terms with negligible residues.
// Keeps at least one term (a real pole at 1e9 with zero residues). Returns
// the number kept; `working` is left empty.
int CommitPoles(PoleList& working, PoleList& target, double workingQLimit,
                const FitOptions& options);

}  // namespace cfit

#endif  // CFIT_FIT_RESIDUES_H
