#include "data/data_loading.h"

#include <cmath>
#include <memory>
#include <utility>

#include "io/run_log.h"

namespace cfit {

namespace {

// Tolerance of the point reduction after a file read.
constexpr double kReductionTolerance = 1e-5;

// Sets the symmetric flag from the asymmetry statistics.
bool SymmetricWithinTolerance(const FitterState& state) {
  return state.settings.symmetryTolerance > state.network.data->relative_asymmetry();
}

}  // namespace

void BeginData(FitterState& state, int portCount, int dataType, const double* impedances) {
  // A port count no network has would size the tables by it: refused before
  // anything changes, so that the fitter keeps what it holds.
  if (portCount < 1 || portCount > kMaxPortCount) return;
  const int n = portCount;
  // Build everything first so that an allocation failure changes nothing.
  std::vector<double> newImpedances(static_cast<std::size_t>(n), 50.0);
  if (impedances != nullptr) newImpedances.assign(impedances, impedances + n);
  auto table = std::make_unique<ElementTable>(n, dataType);
  SampledData set(n);

  state.network.portCount = n;
  state.network.impedances = std::move(newImpedances);
  state.network.dataType = dataType;
  state.network.elements = std::move(table);
  state.ReplaceData(std::move(set));
}

bool AddDataPoint(FitterState& state, const DataPointRecord* record) {
  if (!state.network.data.has_value() || record == nullptr) return false;
  if (!std::isfinite(record->frequency)) return false;
  PortMatrix point;
  if (!PointFromRecord(*record, state.network.data->port_count(), &point)) return false;
  // A value that is not a finite number is no measurement.
  for (int i = 0; i < point.order(); ++i) {
    for (int j = 0; j < point.order(); ++j) {
      if (!std::isfinite(point.At(i, j).re) || !std::isfinite(point.At(i, j).im)) return false;
    }
  }
  return state.network.data->Append(point);
}

void SetBandFromData(FitterState& state) {
  if (!state.HasPoints()) return;
  Settings& s = state.settings;
  if (!(s.callerBand && s.lowerBandFrequency >= 0.0)) {
    s.lowerBandFrequency = state.network.data->front().frequency();
  }
  if (!(s.callerBand && s.upperBandFrequency > 0.0)) {
    s.upperBandFrequency = state.network.data->back().frequency();
  }
}

bool EndData(FitterState& state) {
  if (!state.HasPoints()) return false;
  SetBandFromData(state);
  const long long rowsNeeded = 2LL * state.network.data->point_count() + 2;
  if (rowsNeeded > state.workspace.work.max_rows()) {
    runlog::Write("\n*** Insufficient memory...",
                  " Number of points allowed should be increased ***\n");
  }
  if (state.settings.addZeroHzPoint) AddZeroHzPoint(*state.network.data);
  state.network.data->ComputeAsymmetry();
  state.network.symmetric = SymmetricWithinTolerance(state);
  return state.network.symmetric;
}

bool StoreReadPoints(FitterState& state, PointBlock points, const RunContext& context) {
  state.ReplaceData(SampledData::Adopt(state.network.portCount, std::move(points)));
  if (state.network.data->empty()) return false;
  context.Write("\n", state.network.data->point_count(),
                " data points were read from touchstone file\n");
  if (state.settings.addZeroHzPoint) AddZeroHzPoint(*state.network.data);
  if (state.settings.reducePoints) {
    SampledData reduced = ReducedCopy(*state.network.data, kReductionTolerance);
    if (reduced.point_count() != state.network.data->point_count()) {
      context.Write("Number of points were reduced to ", reduced.point_count(), "\n");
    }
    state.ReplaceData(std::move(reduced));
  }
  state.network.data->ComputeAsymmetry();
  if (SymmetricWithinTolerance(state)) {
    state.network.data->Symmetrize();
    state.network.symmetric = true;
  } else {
    state.network.symmetric = false;
  }
  return true;
}

}  // namespace cfit
