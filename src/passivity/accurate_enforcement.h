// Enforcement that keeps the accuracy: the residue perturbation of a model
// (residue_perturbation.h), and, when that leaves the model much further
// from the data than the fit was, the perturbation again with damped poles
// added where the model violates beyond the data band
// (pole_augmentation.h). The passive result closer to the data is kept.
#ifndef CFIT_PASSIVITY_ACCURATE_ENFORCEMENT_H
#define CFIT_PASSIVITY_ACCURATE_ENFORCEMENT_H

#include <vector>

#include "core/result.h"
#include "core/run_context.h"
#include "data/sampled_data.h"
#include "fit/model.h"
#include "numeric/element_table.h"
#include "passivity/residue_perturbation.h"

namespace cfit {

struct AccurateEnforcement {
  PerturbationReport report;  // of the model that was kept
  // Relative RMS deviations from the data (over every element and point);
  // NaN where a model did not end passive or the step was not tried.
  double fittedError = 0.0;     // the model as fitted
  double perturbedError = 0.0;  // its perturbation
  double augmentedError = 0.0;  // the perturbation with added poles
  int addedPoles = 0;           // poles added to each list of the kept model
};

// Relative RMS deviation ||H - data||_F / ||data||_F of the model (with its
// delays) from the data over every element and point; NaN when the port
// counts differ.
double RelativeDeviation(const Model& model, const ElementTable* elements, const SampledData& data);

// Makes `model` passive by the certificate. Poles are added when the
// perturbation of the fitted model does not end passive or leaves it more
// than `tolerance` times the fit's relative deviation from `data`, and the
// certificate finds violations beyond the data band. Failures as
// EnforceByResiduePerturbation's, with the model as its first run left it;
// when every run gives up (options.giveUpChange), the model is as it was
// and the report says so.
Result<AccurateEnforcement> EnforceKeepingAccuracy(Model& model, const ElementTable* elements,
                                                   const SampledData& data,
                                                   const std::vector<double>& frequencies,
                                                   const PerturbationOptions& options,
                                                   const RunContext& context,
                                                   double tolerance = 2.0);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_ACCURATE_ENFORCEMENT_H
