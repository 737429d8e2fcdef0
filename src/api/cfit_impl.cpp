#include "api/cfit_impl.h"

#include <algorithm>
#include <new>
#include <vector>

#include "api/file_operations.h"
#include "data/data_loading.h"
#include "data/data_queries.h"
#include "fit/fit_driver.h"
#include "fit/model_evaluation.h"
#include "fit/sweeps.h"
#include "network/model_access.h"
#include "network/type_conversion.h"
#include "passivity/enforcement.h"
#include "passivity/mutual_conductance.h"
#include "passivity/passivity_checks.h"

namespace cfit {

template <class R, class F>
R cCfit::Guarded(R failure, std::optional<ErrorCode> internalCode, F&& body) noexcept {
  try {
    return body();
  } catch (const InternalFault&) {
    if (internalCode.has_value()) state_.error.Record(*internalCode);
    return failure;
  } catch (...) {
    return failure;
  }
}

// ---------------------------------------------------------------------------
// Life cycle and settings

bool cCfit::Init(cFitParams* params) {
  const cFitParams p = params != nullptr ? *params : cFitParams{};
  state_.work.Release();
  const long long twoN = 2LL * state_.portCount;
  const long long rows = std::max(2LL * p.maxFrequencyPoints + 2, twoN);
  const long long cols = std::max(2LL * p.maxColumns + 2, twoN);
  if (rows < 1 || cols < 1) return false;
  if (!state_.work.Allocate(rows, cols)) return false;

  Settings& s = state_.settings;
  s.individualPoles = p.individualPoles;
  s.extractDelays = p.extractDelays;
  s.passivity = p.passivity;
  s.reducePoints = p.reducePoints;
  s.poleRatioBound = p.poleRatioBound;
  // The setting replaces a bound a reactive top raised.
  state_.fit.poleRatioBound.reset();
  s.symmetryTolerance = p.symmetryTolerance;
  s.addZeroHzPoint = p.addZeroHzPoint;
  s.prepareSData = p.prepareSData;
  s.upperBandFrequency = p.upperBandFrequency;
  s.lowerBandFrequency = p.lowerBandFrequency;
  s.callerBand = p.callerBand;
  s.extendedFit = p.extendedFit;
  s.enforcementMode = p.passivity ? 1 : 0;
  return true;
}

bool cCfit::HasFit() { return state_.HasFit(); }
bool cCfit::HasSampledData() { return state_.data != nullptr; }
bool cCfit::IsMixedMode() { return state_.mixedMode; }

int cCfit::SetMixedModeFlag() {
  if (state_.portCount != 4) return 0;
  state_.mixedMode = true;
  return 1;
}

int cCfit::SetStandardModeFlag() {
  state_.mixedMode = false;
  return 1;
}

bool cCfit::IsSymmetric() { return state_.symmetric; }

int cCfit::SetEnforcementMode(int mode) {
  state_.settings.enforcementMode = mode;
  return mode;
}

void cCfit::SetTimeStep(double seconds) { state_.settings.timeStep = seconds; }

int cCfit::GetDataType() { return state_.dataType; }
int cCfit::GetPortCount() { return state_.portCount; }

const double* cCfit::GetReferenceImpedances() {
  return state_.impedances.has_value() ? state_.impedances->data() : nullptr;
}

int cCfit::SetReferenceImpedance(double impedance) {
  return Guarded(0, std::nullopt, [&] {
    const std::vector<double> values(static_cast<std::size_t>(std::max(state_.portCount, 0)),
                                     impedance);
    return ChangeReferenceImpedances(values.data());
  });
}

const double* cCfit::GetProgress() { return &state_.progress; }

char* cCfit::SetCancelFlag(char* flag) {
  state_.cancelFlag = flag;
  return flag;
}

const char* cCfit::GetErrorMessage() { return state_.error.message(); }

const char* cCfit::GetFileComment() {
  return state_.fileComment.has_value() ? state_.fileComment->c_str() : nullptr;
}

const char* cCfit::SetOutputComment(const char* text) {
  state_.outputComment = text;
  return text;
}

// An index at or beyond N names no element: refused with 45 (a negative one
// addresses every element).
int cCfit::SetElementDcOption(int flag, int i, int j, double value) {
  if (state_.elements == nullptr) return 0;
  if (flag != 0 && flag != 1) return 0;
  if (i >= state_.elements->port_count() || j >= state_.elements->port_count()) {
    return state_.error.Record(ErrorCode::kInvalidArguments);
  }
  const bool symmetric = CheckSymmetry(nullptr, nullptr);
  state_.elements->SetDcOption(flag, i, j, value, symmetric);
  return 1;
}

int cCfit::SetElementAsymptote(int mode, int i, int j, double value) {
  if (state_.dataType == kNoData) return 0;
  if (state_.elements == nullptr) return 0;
  bool allowed = false;
  switch (state_.dataType) {
    case kS: allowed = mode == 0 || mode == 1; break;
    case kY:
    case kZ: allowed = mode >= 0 && mode <= 2; break;
    case kPulse: allowed = mode == 0; break;
    case kABCD: return 1;
    default: break;
  }
  if (!allowed) return 0;
  if (i >= state_.elements->port_count() || j >= state_.elements->port_count()) {
    return state_.error.Record(ErrorCode::kInvalidArguments);
  }
  const bool symmetric = CheckSymmetry(nullptr, nullptr);
  state_.elements->SetAsymptote(mode, i, j, value, symmetric);
  return 1;
}

// ---------------------------------------------------------------------------
// Sampled data

bool cCfit::CheckSymmetry(double* relative, double* absolute) {
  return cfit::CheckSymmetry(state_, relative, absolute);
}

int cCfit::Symmetrize() { return cfit::Symmetrize(state_); }

int cCfit::GetMaxElementMagnitude(int i, int j, double* magnitude, double* frequency) {
  return cfit::GetMaxElementMagnitude(state_, i, j, magnitude, frequency);
}

int cCfit::GetLowestPointTransfer(int i, int j, double* magnitude) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::GetLowestPointTransfer(state_, i, j, magnitude); });
}

DataPointRecord* cCfit::GetFirstDataPoint() {
  return Guarded<DataPointRecord*>(nullptr, std::nullopt,
                                   [&] { return cfit::GetFirstDataPoint(state_); });
}

DataPointRecord* cCfit::GetNextDataPoint() { return cfit::GetNextDataPoint(state_); }

void cCfit::BeginData(int portCount, int dataType, const double* impedances) {
  Guarded(0, std::nullopt, [&] {
    cfit::BeginData(state_, portCount, dataType, impedances);
    return 0;
  });
}

bool cCfit::AddDataPoint(const DataPointRecord* point) {
  return Guarded(false, std::nullopt, [&] { return cfit::AddDataPoint(state_, point); });
}

bool cCfit::EndData() {
  return Guarded(false, std::nullopt, [&] { return cfit::EndData(state_); });
}

// ---------------------------------------------------------------------------
// Touchstone files

int cCfit::ReadTouchstone(const char* fileName) {
  return Guarded(0, std::nullopt, [&] { return cfit::ReadTouchstone(state_, fileName); });
}

int cCfit::GetTouchstonePortCount(const char* fileName) {
  return Guarded(0, std::nullopt, [&] { return cfit::GetTouchstonePortCount(state_, fileName); });
}

int cCfit::WriteTouchstone(const char* fileName, int format) {
  return Guarded(0, std::nullopt, [&] { return cfit::WriteTouchstone(state_, fileName, format); });
}

int cCfit::WriteDataTable(const char* fileName, int i, int j, bool header, bool negate,
                          double offset) {
  return Guarded(0, std::nullopt, [&] {
    return cfit::WriteDataTable(state_, fileName, i, j, header, negate, offset);
  });
}

// ---------------------------------------------------------------------------
// Fitting, model evaluation and sweeps

int cCfit::Fit() {
  return Guarded(0, ErrorCode::kFitFailed, [&] {
    return cfit::Fit(state_, RunContext(runlog::Stream(), &state_.progress, state_.cancelFlag));
  });
}

int cCfit::EvaluateModelElement(int i, int j, double frequency, double* value) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::EvaluateModelElement(state_, i, j, frequency, value); });
}

int cCfit::SweepModelAdaptive(double tolerance, double stopFrequency) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::SweepModelAdaptive(state_, tolerance, stopFrequency); });
}

int cCfit::SweepModelLinear(double step, double start, double stop) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::SweepModelLinear(state_, step, start, stop); });
}

int cCfit::SweepModelAtDataOf(cFitAPI* other) {
  return Guarded(0, std::nullopt, [&] {
    if (!state_.HasFit()) return state_.error.Record(ErrorCode::kNoFit);
    std::vector<double> frequencies;
    if (auto* fitter = dynamic_cast<cCfit*>(other)) {
      if (fitter->state_.data != nullptr) {
        for (const PortMatrix& p : fitter->state_.data->points()) {
          frequencies.push_back(p.frequency());
        }
      }
    } else if (other != nullptr) {
      // Another implementation of the interface: walk its points.
      for (DataPointRecord* r = other->GetFirstDataPoint(); r != nullptr;
           r = other->GetNextDataPoint()) {
        frequencies.push_back(r->frequency);
      }
    }
    if (frequencies.empty()) return state_.error.Record(ErrorCode::kInvalidArguments);
    return cfit::SweepModelAtList(state_, frequencies);
  });
}

int cCfit::SweepModelAtList(int count, const double* frequencies) {
  return Guarded(0, std::nullopt, [&] {
    if (!state_.HasFit()) return state_.error.Record(ErrorCode::kNoFit);
    if (frequencies == nullptr || count < 0)
      return state_.error.Record(ErrorCode::kInvalidArguments);
    return cfit::SweepModelAtList(state_, std::vector<double>(frequencies, frequencies + count));
  });
}

// ---------------------------------------------------------------------------
// Pole file, netlist, type conversion and model access

int cCfit::ReadPoles(const char* fileName) {
  return Guarded(0, std::nullopt, [&] { return cfit::ReadPoles(state_, fileName); });
}

int cCfit::WritePoles(const char* fileName) {
  return Guarded(0, std::nullopt, [&] { return cfit::WritePoles(state_, fileName); });
}

int cCfit::GetPolesPortCount(const char* fileName) {
  return Guarded(0, std::nullopt, [&] { return cfit::GetPolesPortCount(state_, fileName); });
}

int cCfit::WriteSubcircuit(const char* fileName) {
  return Guarded(0, std::nullopt, [&] { return cfit::WriteSubcircuit(state_, fileName); });
}

int cCfit::ConvertDataType(int target) {
  return Guarded(0, std::nullopt, [&] { return cfit::ConvertDataType(state_, target); });
}

int cCfit::GetElementModelInfo(int i, int j, int* poleCount, double* constant, double* proportional,
                               double* delay) {
  return Guarded(0, std::nullopt, [&] {
    return cfit::GetElementModelInfo(state_, i, j, poleCount, constant, proportional, delay);
  });
}

int cCfit::GetElementPolesResidues(int i, int j, double* poles, double* residues) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::GetElementPolesResidues(state_, i, j, poles, residues); });
}

int cCfit::DefineModel(int portCount, int dataType, const double* referenceImpedances,
                       bool symmetric) {
  return Guarded(0, std::nullopt, [&] {
    return cfit::DefineModel(state_, portCount, dataType, referenceImpedances, symmetric);
  });
}

int cCfit::ConvertPulseModelToS(double pulseWidth, double scale, double delay) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::ConvertPulseModelToS(state_, pulseWidth, scale, delay); });
}

int cCfit::MultiplyModelByFrequency(double closingPole, double factor) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::MultiplyModelByFrequency(state_, closingPole, factor); });
}

int cCfit::SetElementModel(int i, int j, int poleCount, double constant, double proportional,
                           double delay, const double* poles, const double* residues) {
  return Guarded(0, std::nullopt, [&] {
    return cfit::SetElementModel(state_, i, j, poleCount, constant, proportional, delay, poles,
                                 residues);
  });
}

// ---------------------------------------------------------------------------
// Passivity assessment

int cCfit::CheckDataPassivity(double* largestMeasure, double* frequency) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::CheckDataPassivity(state_, largestMeasure, frequency); });
}

int cCfit::CheckModelPassivity(double* largestMeasure, double* frequency) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::CheckModelPassivity(state_, largestMeasure, frequency); });
}

int cCfit::GetDataPassivityMargins() {
  return Guarded(0, std::nullopt, [&] { return cfit::GetDataPassivityMargins(state_); });
}

int cCfit::GetFirstDataMargin(double* frequency, double* margin) {
  return GetFirstMargin(state_.passivity.dataMargins, frequency, margin);
}

int cCfit::GetNextDataMargin(double* frequency, double* margin) {
  return GetNextMargin(state_.passivity.dataMargins, frequency, margin);
}

int cCfit::GetModelPassivityMargins() {
  return Guarded(0, std::nullopt, [&] { return cfit::GetModelPassivityMargins(state_); });
}

int cCfit::GetFirstModelMargin(double* frequency, double* margin) {
  return GetFirstMargin(state_.passivity.modelMargins, frequency, margin);
}

int cCfit::GetNextModelMargin(double* frequency, double* margin) {
  return GetNextMargin(state_.passivity.modelMargins, frequency, margin);
}

int cCfit::GetDataMutualConductanceDC(int i, int j, double* value) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::GetDataMutualConductanceDC(state_, i, j, value); });
}

int cCfit::GetDataMutualConductance(int i, int j, double frequency, double* re, double* im) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::GetDataMutualConductance(state_, i, j, frequency, re, im); });
}

int cCfit::GetModelMutualConductanceDC(int i, int j, double* value) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::GetModelMutualConductanceDC(state_, i, j, value); });
}

int cCfit::GetModelMutualConductance(int i, int j, double frequency, double* re, double* im) {
  return Guarded(0, std::nullopt,
                 [&] { return cfit::GetModelMutualConductance(state_, i, j, frequency, re, im); });
}

int cCfit::EnforceDataPassivity(double threshold) {
  return Guarded(0, ErrorCode::kDataEnforcementFailed,
                 [&] { return cfit::EnforceDataPassivity(state_, threshold); });
}

int cCfit::EnforceModelPassivity(double threshold) {
  return Guarded(0, ErrorCode::kModelEnforcementFailed,
                 [&] { return cfit::EnforceModelPassivity(state_, threshold); });
}

int cCfit::GetEnforcedAccuracy(double*** rms, double*** largest) {
  return Guarded(0, std::nullopt, [&] { return cfit::GetEnforcedAccuracy(state_, rms, largest); });
}

// ---------------------------------------------------------------------------
// Operations whose subsystems are not built yet. Each fails without
// recording anything, so that no host mistakes them for working ones.

int cCfit::CascadeWithTouchstone(const char*) { return 0; }
int cCfit::VoltageTransferFunction(double, double, int) { return 0; }
bool cCfit::IsSeriesElement() { return false; }
bool cCfit::IsShuntElement() { return false; }
int cCfit::IdealizeShuntElement() { return 0; }
int cCfit::ExtractShuntElement(int) { return 0; }
int cCfit::ExtractSeriesElement(int) { return 0; }
int cCfit::MakeSeriesTwoPort() { return 0; }
bool cCfit::FitSeriesElement() { return false; }
int cCfit::ConvertToStandardMode(int, int, int, int) { return 0; }
int cCfit::ConvertToMixedMode(int, int, int, int) { return 0; }
int cCfit::JoinModalTwoPorts(const char*) { return 0; }
int cCfit::ChangeReferenceImpedances(const double*) { return 0; }
int cCfit::TerminatePorts(const int*) { return 0; }
int cCfit::CombinePorts(const unsigned char*, int) { return 0; }
int cCfit::ReorderPorts(const int*) { return 0; }
int cCfit::JoinModalTwoPortModels(const char*) { return 0; }
int cCfit::GetTimeResponse(const TimeResponseParameters&, double, double*, double*, double*, int,
                           int) {
  return 0;
}
int cCfit::WriteTimeResponse(const TimeResponseParameters&, const char*, int, int) { return 0; }
int cCfit::BuildRLCModel(double, double, double, int) { return 0; }
int cCfit::FindReactanceZeroCrossing(double*) { return 0; }
cCPSolver* cCfit::CreateSolver(int) { return nullptr; }

}  // namespace cfit
