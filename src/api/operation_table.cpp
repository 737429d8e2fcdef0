#include "api/operation_table.h"

#include <cmath>

#include "passivity/passivity_measure.h"

namespace cfit {

namespace {

using E = ErrorCode;
using N = Need;
using O = Operation;

bool AllFinite(const SampledData& data) {
  for (ConstMatrixView p : data.points()) {
    for (int i = 0; i < p.order(); ++i) {
      for (int j = 0; j < p.order(); ++j) {
        if (!std::isfinite(p.At(i, j).re) || !std::isfinite(p.At(i, j).im)) return false;
      }
    }
  }
  return true;
}

// A row by the operation's name: its enumerator and its name in one.
#define ROW(name, ...) \
  OperationRow { Operation::k##name, #name, __VA_ARGS__ }
#define UNBUILT(name) \
  OperationRow { Operation::k##name, #name, {}, false }

// The checks of a conductance element of the data or of the model; the
// argument check covers a frequency that is not finite and an index outside
// 0..N-1.
const std::vector<Check> kDataConductance = {{N::kPoints, E::kNoSymmetricData},
                                             {N::kArguments, E::kNoSymmetricData},
                                             {N::kSymmetric, E::kNoSymmetricData},
                                             {N::kMeasurableType, E::kUnsupportedParameters},
                                             {N::kImpedancePerPort, E::kNoSymmetricData}};
const std::vector<Check> kModelConductance = {{N::kFit, E::kNoSymmetricFit},
                                              {N::kArguments, E::kNoSymmetricFit},
                                              {N::kSymmetric, E::kNoSymmetricFit},
                                              {N::kMeasurableType, E::kUnsupportedParameters},
                                              {N::kImpedancePerPort, E::kNoSymmetricFit}};

std::vector<OperationRow> MakeTable() {
  return {
      ROW(ReadTouchstone, {{N::kNoData, E::kReadWithData}, {N::kNoFit, E::kReadWithFit}}),
      ROW(Fit, {{N::kData, E::kNoDataToFit}, {N::kFiniteData, E::kInconsistentData}}),
      ROW(ReadPoles, {{N::kNoFit, E::kPoleReadWithFit}}),
      ROW(HasFit, {}),
      ROW(HasSampledData, {}),
      ROW(IsMixedMode, {}),
      ROW(SetMixedModeFlag, {{N::kFourPorts, {}}}),
      ROW(SetStandardModeFlag, {}),
      ROW(IsSymmetric, {}),
      ROW(CheckSymmetry, {}),
      ROW(Symmetrize, {{N::kData, E::kNoData}, {N::kNoFit, E::kWouldDestroyFit}}),
      ROW(CheckDataPassivity,
          {{N::kData, E::kNoSData}, {N::kMeasurableType, E::kUnsupportedParameters}}),
      ROW(EnforceDataPassivity,
          {{N::kData, E::kNoSData}, {N::kMeasurableType, E::kUnsupportedParameters}}),
      ROW(GetDataMutualConductanceDC, kDataConductance),
      ROW(GetDataMutualConductance, kDataConductance),
      ROW(GetLowestPointTransfer, {{N::kPoints, E::kNoSymmetricData},
                                   {N::kArguments, E::kNoSymmetricData},
                                   {N::kMeasurableType, E::kUnsupportedParameters}}),
      ROW(GetMaxElementMagnitude,
          {{N::kPoints, E::kNoSymmetricData}, {N::kArguments, E::kNoSymmetricData}}),
      ROW(WriteDataTable, {{N::kData, E::kNoData}}),
      ROW(WriteTouchstone, {{N::kData, E::kNoData}}),
      UNBUILT(CascadeWithTouchstone),
      UNBUILT(VoltageTransferFunction),
      ROW(CheckModelPassivity,
          {{N::kFit, E::kNoSFit}, {N::kMeasurableType, E::kUnsupportedParameters}}),
      ROW(EnforceModelPassivity,
          {{N::kFit, E::kNoSFit}, {N::kMeasurableType, E::kUnsupportedParameters}}),
      ROW(WritePoles, {{N::kFit, E::kNoFit}}),
      ROW(SweepModelAdaptive, {{N::kFit, E::kNoFit}}),
      ROW(SweepModelLinear, {{N::kFit, E::kNoFit}}),
      ROW(SweepModelAtDataOf, {{N::kFit, E::kNoFit}}),
      ROW(SweepModelAtList, {{N::kFit, E::kNoFit}}),
      ROW(WriteSubcircuit,
          {{N::kFit, E::kNoSFit}, {N::kTypeS, E::kNoSFit}, {N::kImpedancesForPorts, E::kNoSFit}}),
      ROW(GetModelMutualConductanceDC, kModelConductance),
      ROW(GetModelMutualConductance, kModelConductance),
      ROW(GetEnforcedAccuracy, {{N::kData, {}}, {N::kFit, {}}}),
      ROW(Init, {}),
      ROW(SetEnforcementMode, {}),
      ROW(GetFirstDataPoint, {{N::kData, E::kNoData}}),
      ROW(GetNextDataPoint, {{N::kData, {}}}),
      ROW(BeginData, {{N::kArguments, E::kInvalidArguments}}),
      ROW(AddDataPoint, {{N::kData, {}}}),
      ROW(EndData, {{N::kPoints, {}}}),
      UNBUILT(IsSeriesElement),
      UNBUILT(IsShuntElement),
      UNBUILT(IdealizeShuntElement),
      ROW(ConvertDataType, {}),
      UNBUILT(ExtractShuntElement),
      UNBUILT(ExtractSeriesElement),
      UNBUILT(MakeSeriesTwoPort),
      UNBUILT(FitSeriesElement),
      UNBUILT(ConvertToStandardMode),
      UNBUILT(ConvertToMixedMode),
      UNBUILT(JoinModalTwoPorts),
      UNBUILT(ChangeReferenceImpedances),
      // Hands N copies of its value to ChangeReferenceImpedances.
      UNBUILT(SetReferenceImpedance),
      UNBUILT(TerminatePorts),
      UNBUILT(CombinePorts),
      UNBUILT(ReorderPorts),
      ROW(GetDataType, {}),
      ROW(GetPortCount, {}),
      ROW(GetReferenceImpedances, {}),
      ROW(GetDataPassivityMargins,
          {{N::kData, E::kNoData}, {N::kMeasurableType, E::kUnsupportedParameters}}),
      ROW(GetFirstDataMargin, {}),
      ROW(GetNextDataMargin, {}),
      UNBUILT(JoinModalTwoPortModels),
      ROW(EvaluateModelElement, {{N::kFit, E::kNoFit}, {N::kArguments, E::kNoFit}}),
      ROW(GetModelPassivityMargins,
          {{N::kFit, E::kNoFit}, {N::kMeasurableType, E::kUnsupportedParameters}}),
      ROW(GetFirstModelMargin, {}),
      ROW(GetNextModelMargin, {}),
      ROW(GetElementModelInfo, {{N::kFit, E::kNoFit}, {N::kArguments, E::kNoFit}}),
      ROW(GetElementPolesResidues, {{N::kArguments, {}}}),
      ROW(DefineModel, {}),
      ROW(SetElementModel, {}),
      ROW(ConvertPulseModelToS, {}),
      ROW(SetTimeStep, {}),
      ROW(MultiplyModelByFrequency, {}),
      // The argument check is the element's indices.
      ROW(GetTimeResponse, {{N::kFit, {}}, {N::kArguments, E::kInvalidArguments}}),
      ROW(WriteTimeResponse, {{N::kFit, E::kNoFit}, {N::kArguments, E::kInvalidArguments}}),
      ROW(GetProgress, {}),
      ROW(SetCancelFlag, {}),
      ROW(GetErrorMessage, {}),
      ROW(GetFileComment, {}),
      ROW(SetOutputComment, {}),
      ROW(SetElementDcOption, {{N::kElementTable, {}}}),
      ROW(SetElementAsymptote, {{N::kDataType, {}}, {N::kElementTable, {}}}),
      UNBUILT(BuildRLCModel),
      UNBUILT(FindReactanceZeroCrossing),
      ROW(GetTouchstonePortCount, {}),
      ROW(GetPolesPortCount, {}),
      // The argument check: the fit's data type is the one expected, and S, Y
      // or Z.
      ROW(CreateSolver, {{N::kFit, E::kSolverNeedsSFit}, {N::kArguments, E::kSolverNeedsSFit}}),
  };
}

}  // namespace

std::span<const OperationRow> OperationTable() {
  // Row k describes operation k (RowOf indexes by the enumeration); the
  // api tests hold the table to that.
  static const std::vector<OperationRow> table = MakeTable();
  return table;
}

const OperationRow& RowOf(Operation operation) {
  return OperationTable()[static_cast<std::size_t>(operation)];
}

bool Meets(const FitterState& state, Need need, bool arguments) {
  const int n = state.network.portCount;
  const auto impedances =
      state.network.impedances.has_value() ? state.network.impedances->size() : 0;
  switch (need) {
    case Need::kData: return state.network.data.has_value();
    case Need::kNoData: return !state.network.data.has_value();
    case Need::kPoints: return state.HasPoints();
    case Need::kFiniteData:
      return !state.network.data.has_value() || AllFinite(*state.network.data);
    case Need::kFit: return state.HasFit();
    case Need::kNoFit: return !state.HasFit();
    case Need::kMeasurableType: return MeasurableType(state.network.dataType);
    case Need::kTypeS: return state.network.dataType == kS;
    case Need::kDataType: return state.network.dataType != kNoData;
    case Need::kSymmetric: return state.network.symmetric;
    case Need::kFourPorts: return n == 4;
    case Need::kElementTable: return state.network.elements != nullptr;
    case Need::kImpedancePerPort:
      return state.network.impedances.has_value() && impedances == static_cast<std::size_t>(n);
    case Need::kImpedancesForPorts:
      return state.network.impedances.has_value() && impedances >= static_cast<std::size_t>(n);
    case Need::kArguments: return arguments;
  }
  return false;
}

std::optional<Check> FirstUnmet(const FitterState& state, Operation operation, bool arguments) {
  for (const Check& check : RowOf(operation).checks) {
    if (!Meets(state, check.need, arguments)) return check;
  }
  return std::nullopt;
}

bool Admit(FitterState& state, Operation operation, bool arguments) {
  if (!RowOf(operation).built) return false;
  const std::optional<Check> unmet = FirstUnmet(state, operation, arguments);
  if (!unmet.has_value()) return true;
  if (unmet->code.has_value()) state.session.error.Record(*unmet->code);
  return false;
}

}  // namespace cfit
