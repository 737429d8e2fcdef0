// The constant matrix an S-parameter fit holds fixed when the constant it
// chose freely has a singular value above 1.
//
// The constant is the model's value far above the data band, where the data
// say nothing: a fit free to choose it often takes a large, non-passive one
// that terms with poles just above the band cancel inside it. Such a model
// violates passivity above the band by a wide margin, and making it passive
// costs accuracy inside the band. The only evidence of the value there is
// the data's last point: its real part (a constant is real), with each
// element's delay taken out as the fit takes it out, and singular values
// above kHeldConstantBound brought down to it.
#ifndef CFIT_FIT_PASSIVE_CONSTANT_H
#define CFIT_FIT_PASSIVE_CONSTANT_H

#include <vector>

#include "data/sampled_data.h"

namespace cfit {

inline constexpr double kHeldConstantBound = 0.99;

// The held constant (N x N, row-major) from the data's last point and the
// delays (N x N, seconds; empty for none); empty without points or when the
// eigensolver fails.
std::vector<double> HeldConstant(const SampledData& data, const std::vector<double>& delays);

}  // namespace cfit

#endif  // CFIT_FIT_PASSIVE_CONSTANT_H
