// Reading fitted elements, caller-defined models, and two model rewrites.
#ifndef CFIT_NETWORK_MODEL_ACCESS_H
#define CFIT_NETWORK_MODEL_ACCESS_H

#include "api/fitter_state.h"

namespace cfit {

int GetElementModelInfo(FitterState& state, int i, int j, int* poleCount, double* constant,
                        double* proportional, double* delay);
int GetElementPolesResidues(FitterState& state, int i, int j, double* poles, double* residues);
int DefineModel(FitterState& state, int portCount, int dataType, const double* referenceImpedances,
                bool symmetric);
int SetElementModel(FitterState& state, int i, int j, int poleCount, double constant,
                    double proportional, double delay, const double* poles, const double* residues);
int ConvertPulseModelToS(FitterState& state, double pulseWidth, double scale, double delay);
int MultiplyModelByFrequency(FitterState& state, double closingPole, double factor);

}  // namespace cfit

#endif  // CFIT_NETWORK_MODEL_ACCESS_H
