// Host queries and in-place operations on the sampled data.
#ifndef CFIT_DATA_DATA_QUERIES_H
#define CFIT_DATA_DATA_QUERIES_H

#include "api/fitter_state.h"

namespace cfit {

// Writes the stored relative and absolute asymmetry through each non-null
// pointer and returns relative < symmetry tolerance. Without data: true,
// nothing written.
bool CheckSymmetry(const FitterState& state, double* relative, double* absolute);

// Replaces each element pair by its mean (needs data, error 6; no fit,
// error 22) and sets the symmetric flag.
int Symmetrize(FitterState& state);

// Largest |m(i, j)| over the points, i != j, and its frequency (the first of
// a tie). On bad indices or no data: magnitude 0, frequency -1, error 20.
int GetMaxElementMagnitude(FitterState& state, int i, int j, double* magnitude, double* frequency);

// |S(i, j)| at the lowest frequency, i != j; Y and Z data convert a copy of
// the first point to S.
int GetLowestPointTransfer(FitterState& state, int i, int j, double* magnitude);

// Point walk through the exported record.
DataPointRecord* GetFirstDataPoint(FitterState& state);
DataPointRecord* GetNextDataPoint(FitterState& state);

}  // namespace cfit

#endif  // CFIT_DATA_DATA_QUERIES_H
