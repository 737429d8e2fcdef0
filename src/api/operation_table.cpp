#include "api/operation_table.h"

#include <cmath>

#include "passivity/passivity_measure.h"

namespace cfit {

namespace {

using E = ErrorCode;
using N = Need;
using O = Operation;

bool AllFinite(const SampledData& data) {
  for (const PortMatrix& p : data.points()) {
    for (int i = 0; i < p.order(); ++i) {
      for (int j = 0; j < p.order(); ++j) {
        if (!std::isfinite(p.At(i, j).re) || !std::isfinite(p.At(i, j).im)) return false;
      }
    }
  }
  return true;
}

OperationRow Unbuilt(Operation operation, std::string_view name) {
  return {operation, name, {}, false};
}

// The checks the passivity measure and the conductances share.
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

// clang-format off
std::vector<OperationRow> MakeTable() {
  return {
      {O::kReadTouchstone, "ReadTouchstone", {{N::kNoData, E::kReadWithData}, {N::kNoFit, E::kReadWithFit}}},
      {O::kFit, "Fit", {{N::kData, E::kNoDataToFit}, {N::kFiniteData, E::kInconsistentData}}},
      {O::kReadPoles, "ReadPoles", {{N::kNoFit, E::kPoleReadWithFit}}},
      {O::kHasFit, "HasFit", {}},
      {O::kHasSampledData, "HasSampledData", {}},
      {O::kIsMixedMode, "IsMixedMode", {}},
      {O::kSetMixedModeFlag, "SetMixedModeFlag", {{N::kFourPorts, {}}}},
      {O::kSetStandardModeFlag, "SetStandardModeFlag", {}},
      {O::kIsSymmetric, "IsSymmetric", {}},
      {O::kCheckSymmetry, "CheckSymmetry", {}},
      {O::kSymmetrize, "Symmetrize", {{N::kData, E::kNoData}, {N::kNoFit, E::kWouldDestroyFit}}},
      {O::kCheckDataPassivity, "CheckDataPassivity", {{N::kData, E::kNoSData}, {N::kMeasurableType, E::kUnsupportedParameters}}},
      {O::kEnforceDataPassivity, "EnforceDataPassivity", {{N::kData, E::kNoSData}, {N::kMeasurableType, E::kUnsupportedParameters}}},
      {O::kGetDataMutualConductanceDC, "GetDataMutualConductanceDC", kDataConductance},
      {O::kGetDataMutualConductance, "GetDataMutualConductance", kDataConductance},
      {O::kGetLowestPointTransfer, "GetLowestPointTransfer", {{N::kPoints, E::kNoSymmetricData}, {N::kArguments, E::kNoSymmetricData}, {N::kMeasurableType, E::kUnsupportedParameters}}},
      {O::kGetMaxElementMagnitude, "GetMaxElementMagnitude", {{N::kPoints, E::kNoSymmetricData}, {N::kArguments, E::kNoSymmetricData}}},
      {O::kWriteDataTable, "WriteDataTable", {{N::kData, E::kNoData}}},
      {O::kWriteTouchstone, "WriteTouchstone", {{N::kData, E::kNoData}}},
      Unbuilt(O::kCascadeWithTouchstone, "CascadeWithTouchstone"),
      Unbuilt(O::kVoltageTransferFunction, "VoltageTransferFunction"),
      {O::kCheckModelPassivity, "CheckModelPassivity", {{N::kFit, E::kNoSFit}, {N::kMeasurableType, E::kUnsupportedParameters}}},
      {O::kEnforceModelPassivity, "EnforceModelPassivity", {{N::kFit, E::kNoSFit}, {N::kMeasurableType, E::kUnsupportedParameters}}},
      {O::kWritePoles, "WritePoles", {{N::kFit, E::kNoFit}}},
      {O::kSweepModelAdaptive, "SweepModelAdaptive", {{N::kFit, E::kNoFit}}},
      {O::kSweepModelLinear, "SweepModelLinear", {{N::kFit, E::kNoFit}}},
      {O::kSweepModelAtDataOf, "SweepModelAtDataOf", {{N::kFit, E::kNoFit}}},
      {O::kSweepModelAtList, "SweepModelAtList", {{N::kFit, E::kNoFit}}},
      {O::kWriteSubcircuit, "WriteSubcircuit", {{N::kFit, E::kNoSFit}, {N::kTypeS, E::kNoSFit}, {N::kImpedancesForPorts, E::kNoSFit}}},
      {O::kGetModelMutualConductanceDC, "GetModelMutualConductanceDC", kModelConductance},
      {O::kGetModelMutualConductance, "GetModelMutualConductance", kModelConductance},
      {O::kGetEnforcedAccuracy, "GetEnforcedAccuracy", {{N::kData, {}}, {N::kFit, {}}}},
      {O::kInit, "Init", {}},
      {O::kSetEnforcementMode, "SetEnforcementMode", {}},
      {O::kGetFirstDataPoint, "GetFirstDataPoint", {{N::kData, E::kNoData}}},
      {O::kGetNextDataPoint, "GetNextDataPoint", {{N::kData, {}}}},
      {O::kBeginData, "BeginData", {{N::kArguments, E::kInvalidArguments}}},
      {O::kAddDataPoint, "AddDataPoint", {{N::kData, {}}}},
      {O::kEndData, "EndData", {{N::kPoints, {}}}},
      Unbuilt(O::kIsSeriesElement, "IsSeriesElement"),
      Unbuilt(O::kIsShuntElement, "IsShuntElement"),
      Unbuilt(O::kIdealizeShuntElement, "IdealizeShuntElement"),
      {O::kConvertDataType, "ConvertDataType", {}},
      Unbuilt(O::kExtractShuntElement, "ExtractShuntElement"),
      Unbuilt(O::kExtractSeriesElement, "ExtractSeriesElement"),
      Unbuilt(O::kMakeSeriesTwoPort, "MakeSeriesTwoPort"),
      Unbuilt(O::kFitSeriesElement, "FitSeriesElement"),
      Unbuilt(O::kConvertToStandardMode, "ConvertToStandardMode"),
      Unbuilt(O::kConvertToMixedMode, "ConvertToMixedMode"),
      Unbuilt(O::kJoinModalTwoPorts, "JoinModalTwoPorts"),
      Unbuilt(O::kChangeReferenceImpedances, "ChangeReferenceImpedances"),
      // Hands N copies of its value to ChangeReferenceImpedances.
      Unbuilt(O::kSetReferenceImpedance, "SetReferenceImpedance"),
      Unbuilt(O::kTerminatePorts, "TerminatePorts"),
      Unbuilt(O::kCombinePorts, "CombinePorts"),
      Unbuilt(O::kReorderPorts, "ReorderPorts"),
      {O::kGetDataType, "GetDataType", {}},
      {O::kGetPortCount, "GetPortCount", {}},
      {O::kGetReferenceImpedances, "GetReferenceImpedances", {}},
      {O::kGetDataPassivityMargins, "GetDataPassivityMargins", {{N::kData, E::kNoData}, {N::kMeasurableType, E::kUnsupportedParameters}}},
      {O::kGetFirstDataMargin, "GetFirstDataMargin", {}},
      {O::kGetNextDataMargin, "GetNextDataMargin", {}},
      Unbuilt(O::kJoinModalTwoPortModels, "JoinModalTwoPortModels"),
      {O::kEvaluateModelElement, "EvaluateModelElement", {{N::kFit, E::kNoFit}, {N::kArguments, E::kNoFit}}},
      {O::kGetModelPassivityMargins, "GetModelPassivityMargins", {{N::kFit, E::kNoFit}, {N::kMeasurableType, E::kUnsupportedParameters}}},
      {O::kGetFirstModelMargin, "GetFirstModelMargin", {}},
      {O::kGetNextModelMargin, "GetNextModelMargin", {}},
      {O::kGetElementModelInfo, "GetElementModelInfo", {}},
      {O::kGetElementPolesResidues, "GetElementPolesResidues", {{N::kArguments, {}}}},
      {O::kDefineModel, "DefineModel", {}},
      {O::kSetElementModel, "SetElementModel", {}},
      {O::kConvertPulseModelToS, "ConvertPulseModelToS", {}},
      {O::kSetTimeStep, "SetTimeStep", {}},
      {O::kMultiplyModelByFrequency, "MultiplyModelByFrequency", {}},
      Unbuilt(O::kGetTimeResponse, "GetTimeResponse"),
      Unbuilt(O::kWriteTimeResponse, "WriteTimeResponse"),
      {O::kGetProgress, "GetProgress", {}},
      {O::kSetCancelFlag, "SetCancelFlag", {}},
      {O::kGetErrorMessage, "GetErrorMessage", {}},
      {O::kGetFileComment, "GetFileComment", {}},
      {O::kSetOutputComment, "SetOutputComment", {}},
      {O::kSetElementDcOption, "SetElementDcOption", {{N::kElementTable, {}}}},
      {O::kSetElementAsymptote, "SetElementAsymptote", {{N::kDataType, {}}, {N::kElementTable, {}}}},
      Unbuilt(O::kBuildRLCModel, "BuildRLCModel"),
      Unbuilt(O::kFindReactanceZeroCrossing, "FindReactanceZeroCrossing"),
      {O::kGetTouchstonePortCount, "GetTouchstonePortCount", {}},
      {O::kGetPolesPortCount, "GetPolesPortCount", {}},
      Unbuilt(O::kCreateSolver, "CreateSolver"),
  };
}
// clang-format on

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
    case Need::kData: return state.network.data != nullptr;
    case Need::kNoData: return state.network.data == nullptr;
    case Need::kPoints: return state.HasPoints();
    case Need::kFiniteData: return state.network.data == nullptr || AllFinite(*state.network.data);
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
