#include "data/data_queries.h"

#include "network/impedance_scaling.h"
#include "network/type_conversion.h"

namespace cfit {

namespace {

// Error 20's condition: data present, i != j, both indices in 0..N-1.
bool ValidOffDiagonal(const FitterState& state, int i, int j) {
  const int n = state.portCount;
  return state.HasPoints() && state.data->port_count() == n && i != j && i >= 0 && j >= 0 &&
         i < n && j < n;
}

}  // namespace

bool CheckSymmetry(const FitterState& state, double* relative, double* absolute) {
  if (state.data == nullptr) return true;
  if (relative != nullptr) *relative = state.data->relative_asymmetry();
  if (absolute != nullptr) *absolute = state.data->absolute_asymmetry();
  return state.data->relative_asymmetry() < state.settings.symmetryTolerance;
}

int Symmetrize(FitterState& state) {
  if (state.data == nullptr) return state.error.Record(ErrorCode::kNoData);
  if (state.HasFit()) return state.error.Record(ErrorCode::kWouldDestroyFit);
  state.data->Symmetrize();
  state.symmetric = true;
  return 1;
}

int GetMaxElementMagnitude(FitterState& state, int i, int j, double* magnitude, double* frequency) {
  if (!ValidOffDiagonal(state, i, j)) {
    if (magnitude != nullptr) *magnitude = 0.0;
    if (frequency != nullptr) *frequency = -1.0;
    return state.error.Record(ErrorCode::kNoSymmetricData);
  }
  double best = 0.0;
  double where = 0.0;
  for (const PortMatrix& point : state.data->points()) {
    const double m = Abs(point.At(i, j));
    if (m > best) {
      best = m;
      where = point.frequency();
    }
  }
  if (magnitude != nullptr) *magnitude = best;
  if (frequency != nullptr) *frequency = where;
  return 1;
}

int GetLowestPointTransfer(FitterState& state, int i, int j, double* magnitude) {
  if (magnitude != nullptr) *magnitude = 0.0;
  if (!ValidOffDiagonal(state, i, j)) return state.error.Record(ErrorCode::kNoSymmetricData);
  switch (state.dataType) {
    case kS:
      if (magnitude != nullptr) *magnitude = Abs(state.data->front().At(i, j));
      return 1;
    case kY:
    case kZ: {
      // A copy of the first point, brought to S by the steps of the data
      // type conversion; the held data stay as they are.
      const int n = state.portCount;
      if (!ValidReferenceImpedances(state, n))
        return state.error.Record(ErrorCode::kInvalidImpedance);
      ConversionWorkspace ws;
      if (!BindConversionWorkspace(state, n, ws))
        return state.error.Record(ErrorCode::kSizeExceedsWorkspace);
      PortMatrix copy = state.data->front();
      if (!ConvertMatrix(ws, state.dataType, kS, state.impedances->data(), copy.Row(0))) {
        LogSingularPoints(1, 1, copy.frequency());
      }
      if (magnitude != nullptr) *magnitude = Abs(copy.At(i, j));
      return 1;
    }
    default: return state.error.Record(ErrorCode::kUnsupportedParameters);
  }
}

DataPointRecord* GetFirstDataPoint(FitterState& state) {
  if (state.data == nullptr) {
    state.error.Record(ErrorCode::kNoData);
    return nullptr;
  }
  state.exportRecord.Rebuild(state.data->port_count());
  if (state.data->empty()) {
    state.dataCursor.reset();
    return nullptr;
  }
  state.dataCursor = 0;
  return state.exportRecord.Fill(state.data->front());
}

DataPointRecord* GetNextDataPoint(FitterState& state) {
  if (state.data == nullptr || !state.dataCursor.has_value()) return nullptr;
  const std::size_t next = *state.dataCursor + 1;
  if (next >= state.data->points().size()) {
    state.dataCursor.reset();
    return nullptr;
  }
  state.dataCursor = next;
  return state.exportRecord.Fill(state.data->points()[next]);
}

}  // namespace cfit
