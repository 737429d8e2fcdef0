// Port-to-port conductances of the data or the model, read as a scattering
// matrix H normalised to the ports' reference impedances:
// Y = (I + H)^-1 (I - H), scaled by 1 / sqrt(Z0(i) Z0(k)).
#ifndef CFIT_PASSIVITY_MUTUAL_CONDUCTANCE_H
#define CFIT_PASSIVITY_MUTUAL_CONDUCTANCE_H

#include <vector>

#include "core/result.h"
#include "core/run_context.h"
#include "fit/model_evaluation.h"
#include "passivity/passivity_state.h"

namespace cfit {

// For i = j the sum of row i of Y (the conductance to ground), for i != j
// -Y(i, j), at frequency f, or from the real parts at 0 Hz when `dc` is set.
// The data are interpolated linearly in frequency (the nearest end point
// outside their band, with a warning in the log); the model is evaluated.
// The caller has checked the source (present, symmetric, of a measurable
// type), the indices and the N impedances `z0`. The matrix is kept in
// `cache` with the source's identity and the frequency, and reused while
// both match. Fails with 30 when the solve fails.
Result<Complex> DataConductance(const SampledData& data, const std::vector<double>& z0, int i,
                                int j, double f, bool dc, ConductanceCache& cache,
                                const RunContext& context);
Result<Complex> ModelConductance(const ModelView& view, const std::vector<double>& z0, int i, int j,
                                 double f, bool dc, ConductanceCache& cache);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_MUTUAL_CONDUCTANCE_H
