// The host operations of cFitAPI as one table: each operation by name, the
// state conditions it checks in the order it checks them (each with the error
// it records, or none for a silent refusal), and whether it is built.
//
// A facade method starts from its row: Admit evaluates the row on the
// fitter's state and records the first unmet condition. Argument checks that
// fall between state checks are a row entry too (Need::kArguments), whose
// outcome the method computes beforehand without side effects. Building an
// operation that is not built yet means filling in its row and writing its
// engine function.
#ifndef CFIT_API_OPERATION_TABLE_H
#define CFIT_API_OPERATION_TABLE_H

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "api/fitter_state.h"
#include "core/error_code.h"

namespace cfit {

// The cFitAPI operations in the interface's order.
enum class Operation {
  kReadTouchstone,
  kFit,
  kReadPoles,
  kHasFit,
  kHasSampledData,
  kIsMixedMode,
  kSetMixedModeFlag,
  kSetStandardModeFlag,
  kIsSymmetric,
  kCheckSymmetry,
  kSymmetrize,
  kCheckDataPassivity,
  kEnforceDataPassivity,
  kGetDataMutualConductanceDC,
  kGetDataMutualConductance,
  kGetLowestPointTransfer,
  kGetMaxElementMagnitude,
  kWriteDataTable,
  kWriteTouchstone,
  kCascadeWithTouchstone,
  kVoltageTransferFunction,
  kCheckModelPassivity,
  kEnforceModelPassivity,
  kWritePoles,
  kSweepModelAdaptive,
  kSweepModelLinear,
  kSweepModelAtDataOf,
  kSweepModelAtList,
  kWriteSubcircuit,
  kGetModelMutualConductanceDC,
  kGetModelMutualConductance,
  kGetEnforcedAccuracy,
  kInit,
  kSetEnforcementMode,
  kGetFirstDataPoint,
  kGetNextDataPoint,
  kBeginData,
  kAddDataPoint,
  kEndData,
  kIsSeriesElement,
  kIsShuntElement,
  kIdealizeShuntElement,
  kConvertDataType,
  kExtractShuntElement,
  kExtractSeriesElement,
  kMakeSeriesTwoPort,
  kFitSeriesElement,
  kConvertToStandardMode,
  kConvertToMixedMode,
  kJoinModalTwoPorts,
  kChangeReferenceImpedances,
  kSetReferenceImpedance,
  kTerminatePorts,
  kCombinePorts,
  kReorderPorts,
  kGetDataType,
  kGetPortCount,
  kGetReferenceImpedances,
  kGetDataPassivityMargins,
  kGetFirstDataMargin,
  kGetNextDataMargin,
  kJoinModalTwoPortModels,
  kEvaluateModelElement,
  kGetModelPassivityMargins,
  kGetFirstModelMargin,
  kGetNextModelMargin,
  kGetElementModelInfo,
  kGetElementPolesResidues,
  kDefineModel,
  kSetElementModel,
  kConvertPulseModelToS,
  kSetTimeStep,
  kMultiplyModelByFrequency,
  kGetTimeResponse,
  kWriteTimeResponse,
  kGetProgress,
  kSetCancelFlag,
  kGetErrorMessage,
  kGetFileComment,
  kSetOutputComment,
  kSetElementDcOption,
  kSetElementAsymptote,
  kBuildRLCModel,
  kFindReactanceZeroCrossing,
  kGetTouchstonePortCount,
  kGetPolesPortCount,
  kCreateSolver,
  kCount
};

// A condition on the fitter's state.
enum class Need {
  kData,                // a sampled data set exists (it may be empty)
  kNoData,              // no sampled data set
  kPoints,              // the data set holds at least one point
  kFiniteData,          // every sampled value is a finite number (true without data)
  kFit,                 // a fitted model is present
  kNoFit,               // no fitted model
  kMeasurableType,      // data type S, Y or Z: the passivity measure knows it
  kTypeS,               // data type S
  kDataType,            // a data type is set
  kSymmetric,           // the symmetric flag is set
  kOnePort,             // N = 1
  kTwoPorts,            // N = 2
  kFourPorts,           // N = 4
  kTwoOrFourPorts,      // N = 2 or N = 4
  kIndividualPoles,     // the model holds its poles per element
  kNoDelays,            // no element of the model has a delay
  kTypeSOrY,            // data type S or Y
  kTypeSOrZ,            // data type S or Z
  kElementTable,        // the element option table exists
  kImpedancePerPort,    // exactly N reference impedances
  kImpedancesForPorts,  // at least N reference impedances
  kEqualImpedances,     // at least N reference impedances, the first N all equal
  kArguments,           // the method's own argument check passed
};

struct Check {
  Need need;
  // Recorded when the condition is unmet; none refuses silently.
  std::optional<ErrorCode> code;
};

struct OperationRow {
  Operation operation;
  std::string_view name;
  std::vector<Check> checks;
  // False for operations whose engine is not there yet: the facade fails
  // them without recording anything.
  bool built = true;
};

// Every operation of the interface, in the interface's order.
std::span<const OperationRow> OperationTable();
const OperationRow& RowOf(Operation operation);

// Whether `need` holds on `state`; kArguments holds when `arguments` is true.
bool Meets(const FitterState& state, Need need, bool arguments);

// The first of the row's checks that the state does not meet, or none.
std::optional<Check> FirstUnmet(const FitterState& state, Operation operation,
                                bool arguments = true);

// Evaluates the row of `operation`: true when every check holds; otherwise
// the first unmet check's code (if any) is recorded in the state's error slot
// and the result is false.
bool Admit(FitterState& state, Operation operation, bool arguments = true);

}  // namespace cfit

#endif  // CFIT_API_OPERATION_TABLE_H
