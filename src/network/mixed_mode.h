// Mixed-mode conversion of a 4-port that holds two port pairs: standard mode
// (four single-ended ports) to mixed mode (differential and common mode of
// each pair, stored in the order d1, d2, c1, c2) and back, for the sampled
// data and for a model with poles per element.
#ifndef CFIT_NETWORK_MIXED_MODE_H
#define CFIT_NETWORK_MIXED_MODE_H

#include <optional>

#include "api/fitter_state.h"
#include "core/result.h"
#include "data/sampled_data.h"
#include "fit/model.h"

namespace cfit {

// The two pairs, ports counted from 0: pair 1 is (a, b), pair 2 is (c, d),
// a and c the positive terminals.
struct PortPairs {
  int a = 0, b = 1, c = 2, d = 3;
};

enum class ModeDirection { kToMixed, kToStandard };

// The pairs for port numbers counted from 1; nullopt unless they are a
// permutation of 1..4.
std::optional<PortPairs> ModePorts(int a, int b, int c, int d);

// The coefficient of old element (k, l) in new element (i, j): +1/2, -1/2 or
// 0. With M the orthogonal matrix whose rows d1 = (e_a - e_b)/sqrt 2,
// d2 = (e_c - e_d)/sqrt 2, c1 = (e_a + e_b)/sqrt 2, c2 = (e_c + e_d)/sqrt 2
// take physical ports to modes, mixed = M X M^T and standard = M^T X M.
double ModeCoefficient(const PortPairs& pairs, ModeDirection direction, int i, int j, int k, int l);

// Every point of a 4-port set transformed in place.
void ConvertDataMode(SampledData& data, const PortPairs& pairs, ModeDirection direction);

// The model transformed element by element: every new element is the sum of
// the old elements scaled by their coefficients, poles met twice merged and
// residues that cancel exactly removed (AccumulateScaledElement). With the
// symmetric flag an old element whose pole list is empty takes the list of
// its mirror, and a conversion to mixed mode builds the elements on and below
// the diagonal, then copies their constants and proportional terms above it.
// Delays stay 0. Fails with 41 for common poles and 43 for a delay that is
// not 0.
Result<Model> ConvertModelMode(const Model& model, bool symmetric, const PortPairs& pairs,
                               ModeDirection direction);

// Converts the held data (if any), then the fitted model (if any), and sets
// the mode flag whatever the model's result. The caller has checked the
// port count, the reference impedances and the pairs. A model refused (41,
// 43) is kept as it was, after the data were converted.
Status ConvertMode(FitterState& state, const PortPairs& pairs, ModeDirection direction);

}  // namespace cfit

#endif  // CFIT_NETWORK_MIXED_MODE_H
