#include "network/model_access.h"

namespace cfit {

// Not built yet: each fails without recording anything.
int GetElementModelInfo(FitterState&, int, int, int*, double*, double*, double*) { return 0; }
int GetElementPolesResidues(FitterState&, int, int, double*, double*) { return 0; }
int DefineModel(FitterState&, int, int, const double*, bool) { return 0; }
int SetElementModel(FitterState&, int, int, int, double, double, double, const double*,
                    const double*) {
  return 0;
}
int ConvertPulseModelToS(FitterState&, double, double, double) { return 0; }
int MultiplyModelByFrequency(FitterState&, double, double) { return 0; }

}  // namespace cfit
