// Joining two modal 2-port models (fitted S models with poles per element)
// into the model of a mixed-mode 4-port.
#ifndef CFIT_NETWORK_JOIN_MODAL_MODELS_H
#define CFIT_NETWORK_JOIN_MODAL_MODELS_H

#include <memory>
#include <string>

#include "api/fitter_state.h"
#include "core/result.h"
#include "core/run_context.h"
#include "fit/model.h"

namespace cfit {

// Adds w times source element (k, l) of `source` to element (i, j) of
// `destination` (both with poles per element). The source's pole list is
// that of (k, l), or of (l, k) for a symmetric source whose upper lists are
// not held; its constant and proportional term are those of (k, l). Each
// source term whose pole (exactly) is in the destination list adds w times
// its residue to that term, which is removed when the residues cancel
// exactly; other terms are appended.
void AccumulateScaledModelElement(Model& destination, int i, int j, const Model& source,
                                  bool sourceSymmetric, int k, int l, double w);

// The mixed-mode 4-port model of a differential and a common 2-port model:
// the differential elements at ports 1-2, the common ones at ports 3-4, no
// terms between the modes. With `symmetric` the upper pole lists are left
// empty and the constants and proportional terms above the diagonal are
// those below.
std::unique_ptr<Model> JoinedModeModels(const Model& differential, bool differentialSymmetric,
                                        const Model& common, bool commonSymmetric, bool symmetric);

// Takes the held 2-port S model (checked by the caller: poles per element,
// equal reference impedances, no delays) as the differential mode and the
// model of a pole file as the common mode, and replaces them by the
// mixed-mode 4-port model. The file is read and checked before anything
// held changes: it must hold a 2-port S model (else 8) with both reference
// impedances equal to the held ones (else 42) and no delays (else 43); a
// failure leaves the held network and model as they were. On success the
// sampled data are dropped, all four impedances are the held one, the
// symmetric flag is set when both models are symmetric, and the mode flag
// says mixed.
Status JoinModalTwoPortModels(FitterState& state, const std::string& fileName,
                              const RunContext& context);

}  // namespace cfit

#endif  // CFIT_NETWORK_JOIN_MODAL_MODELS_H
