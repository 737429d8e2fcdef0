#include "api/cfit_impl.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "api/file_operations.h"
#include "api/operation_table.h"
#include "data/data_loading.h"
#include "data/data_queries.h"
#include "fit/fit_driver.h"
#include "fit/model_evaluation.h"
#include "fit/sweeps.h"
#include "network/impedance_scaling.h"
#include "network/model_access.h"
#include "network/type_conversion.h"
#include "passivity/enforcement.h"
#include "passivity/mutual_conductance.h"
#include "passivity/passivity_checks.h"
#include "passivity/passivity_measure.h"
#include "timedomain/port_solver.h"
#include "timedomain/time_response.h"

namespace cfit {

namespace {

// 1 for success; otherwise the failure recorded in the error slot and 0.
int Recorded(ErrorSlot& slot, const Status& status) {
  return status.ok() ? 1 : slot.Record(status.failure());
}

void Put(double* out, double value) {
  if (out != nullptr) *out = value;
}

// The element (i, j) of the data is one the data queries and conductances
// read: data present with the fitter's port count, both indices in 0..N-1.
bool DataElement(const FitterState& state, int i, int j) {
  const int n = state.network.portCount;
  return state.HasPoints() && state.network.data->port_count() == n && i >= 0 && j >= 0 && i < n &&
         j < n;
}

// Both indices name an element of the fitted model.
bool ModelElement(const FitterState& state, int i, int j) {
  const int n = state.model != nullptr ? state.model->n : 0;
  return i >= 0 && j >= 0 && i < n && j < n;
}

// ... and lie inside the fitter's port count too.
bool HeldElement(const FitterState& state, int i, int j) {
  return ModelElement(state, i, j) && i < state.network.portCount && j < state.network.portCount;
}

}  // namespace

template <class R, class F>
R cCfit::Guarded(R failure, std::optional<ErrorCode> internalCode, F&& body) noexcept {
  // The model describes itself in the network's terms before the operation
  // reads it and after it has changed either.
  state_.SyncModelFrame();
  struct Resync {
    FitterState& state;
    ~Resync() { state.SyncModelFrame(); }
  } resync{state_};
  try {
    return body();
  } catch (const InternalFault&) {
    if (internalCode.has_value()) state_.session.error.Record(*internalCode);
    return failure;
  } catch (...) {
    return failure;
  }
}

// ---------------------------------------------------------------------------
// Life cycle and settings

bool cCfit::Init(cFitParams* params) {
  const cFitParams p = params != nullptr ? *params : cFitParams{};
  state_.workspace.work.Release();
  const long long twoN = 2LL * state_.network.portCount;
  const long long rows = std::max(2LL * p.maxFrequencyPoints + 2, twoN);
  const long long cols = std::max(2LL * p.maxColumns + 2, twoN);
  if (rows < 1 || cols < 1) return false;
  if (!state_.workspace.work.Allocate(rows, cols)) return false;

  Settings& s = state_.settings;
  s.individualPoles = p.individualPoles;
  s.extractDelays = p.extractDelays;
  s.passivity = p.passivity;
  s.reducePoints = p.reducePoints;
  s.poleRatioBound = p.poleRatioBound;
  // The setting replaces a bound a reactive top raised.
  state_.workspace.fit.poleRatioBound.reset();
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
bool cCfit::HasSampledData() { return state_.network.data.has_value(); }
bool cCfit::IsMixedMode() { return state_.network.mixedMode; }

int cCfit::SetMixedModeFlag() {
  if (!Admit(state_, Operation::kSetMixedModeFlag)) return 0;
  state_.network.mixedMode = true;
  return 1;
}

int cCfit::SetStandardModeFlag() {
  state_.network.mixedMode = false;
  return 1;
}

bool cCfit::IsSymmetric() { return state_.network.symmetric; }

int cCfit::SetEnforcementMode(int mode) {
  state_.settings.enforcementMode = mode;
  return mode;
}

void cCfit::SetTimeStep(double seconds) { state_.settings.timeStep = seconds; }

int cCfit::GetDataType() { return state_.network.dataType; }
int cCfit::GetPortCount() { return state_.network.portCount; }

const double* cCfit::GetReferenceImpedances() {
  return state_.network.impedances.has_value() ? state_.network.impedances->data() : nullptr;
}

int cCfit::SetReferenceImpedance(double impedance) {
  return Guarded(0, std::nullopt, [&] {
    const std::vector<double> values(
        static_cast<std::size_t>(std::max(state_.network.portCount, 0)), impedance);
    return ChangeReferenceImpedances(values.data());
  });
}

const double* cCfit::GetProgress() { return &state_.session.progress; }

char* cCfit::SetCancelFlag(char* flag) {
  state_.session.cancelFlag = flag;
  return flag;
}

const char* cCfit::GetErrorMessage() { return state_.session.error.message(); }

const char* cCfit::GetFileComment() {
  return state_.session.fileComment.has_value() ? state_.session.fileComment->c_str() : nullptr;
}

const char* cCfit::SetOutputComment(const char* text) {
  state_.session.outputComment = text;
  return text;
}

// An index at or beyond N names no element: refused with 45 (a negative one
// addresses every element).
int cCfit::SetElementDcOption(int flag, int i, int j, double value) {
  if (!Admit(state_, Operation::kSetElementDcOption)) return 0;
  if (flag != 0 && flag != 1) return 0;
  if (i >= state_.network.elements->port_count() || j >= state_.network.elements->port_count()) {
    return state_.session.error.Record(ErrorCode::kInvalidArguments);
  }
  const bool symmetric = CheckSymmetry(nullptr, nullptr);
  state_.network.elements->SetDcOption(flag, i, j, value, symmetric);
  return 1;
}

int cCfit::SetElementAsymptote(int mode, int i, int j, double value) {
  if (!Admit(state_, Operation::kSetElementAsymptote)) return 0;
  bool allowed = false;
  switch (state_.network.dataType) {
    case kS: allowed = mode == 0 || mode == 1; break;
    case kY:
    case kZ: allowed = mode >= 0 && mode <= 2; break;
    case kPulse: allowed = mode == 0; break;
    case kABCD: return 1;
    default: break;
  }
  if (!allowed) return 0;
  if (i >= state_.network.elements->port_count() || j >= state_.network.elements->port_count()) {
    return state_.session.error.Record(ErrorCode::kInvalidArguments);
  }
  const bool symmetric = CheckSymmetry(nullptr, nullptr);
  state_.network.elements->SetAsymptote(mode, i, j, value, symmetric);
  return 1;
}

// ---------------------------------------------------------------------------
// Sampled data

// Without data: true, nothing written.
bool cCfit::CheckSymmetry(double* relative, double* absolute) {
  if (!state_.network.data.has_value()) return true;
  Put(relative, state_.network.data->relative_asymmetry());
  Put(absolute, state_.network.data->absolute_asymmetry());
  return state_.network.data->relative_asymmetry() < state_.settings.symmetryTolerance;
}

int cCfit::Symmetrize() {
  if (!Admit(state_, Operation::kSymmetrize)) return 0;
  state_.network.data->Symmetrize();
  state_.network.symmetric = true;
  return 1;
}

// On bad indices or no data: magnitude 0, frequency -1, error 20.
int cCfit::GetMaxElementMagnitude(int i, int j, double* magnitude, double* frequency) {
  if (!Admit(state_, Operation::kGetMaxElementMagnitude, DataElement(state_, i, j) && i != j)) {
    Put(magnitude, 0.0);
    Put(frequency, -1.0);
    return 0;
  }
  const ElementPeak peak = MaxElementMagnitude(*state_.network.data, i, j);
  Put(magnitude, peak.magnitude);
  Put(frequency, peak.frequency);
  return 1;
}

// The magnitude is 0 unless the call succeeds.
int cCfit::GetLowestPointTransfer(int i, int j, double* magnitude) {
  return Guarded(0, std::nullopt, [&] {
    Put(magnitude, 0.0);
    if (!Admit(state_, Operation::kGetLowestPointTransfer, DataElement(state_, i, j) && i != j))
      return 0;
    const int type = state_.network.dataType;
    ConversionWorkspace ws;
    const double* z0 = nullptr;
    if (type != kS) {
      const int n = state_.network.portCount;
      if (!ValidReferenceImpedances(state_, n))
        return state_.session.error.Record(ErrorCode::kInvalidImpedance);
      if (!BindConversionWorkspace(state_, n, ws))
        return state_.session.error.Record(ErrorCode::kSizeExceedsWorkspace);
      z0 = state_.network.impedances->data();
    }
    Put(magnitude, LowestPointTransfer(*state_.network.data, type, i, j, z0, &ws, RunContext()));
    return 1;
  });
}

DataPointRecord* cCfit::GetFirstDataPoint() {
  return Guarded<DataPointRecord*>(nullptr, std::nullopt, [&]() -> DataPointRecord* {
    if (!Admit(state_, Operation::kGetFirstDataPoint)) return nullptr;
    state_.session.exportRecord.Rebuild(state_.network.data->port_count());
    if (state_.network.data->empty()) {
      state_.session.dataCursor.reset();
      return nullptr;
    }
    state_.session.dataCursor = 0;
    return state_.session.exportRecord.Fill(state_.network.data->front());
  });
}

DataPointRecord* cCfit::GetNextDataPoint() {
  if (!Admit(state_, Operation::kGetNextDataPoint) || !state_.session.dataCursor.has_value())
    return nullptr;
  const std::optional<SampledData>& data = state_.network.data;
  const std::size_t next = *state_.session.dataCursor + 1;
  if (next >= data->points().size()) {
    state_.session.dataCursor.reset();
    return nullptr;
  }
  state_.session.dataCursor = next;
  return state_.session.exportRecord.Fill(data->points()[next]);
}

void cCfit::BeginData(int portCount, int dataType, const double* impedances) {
  Guarded(0, std::nullopt, [&] {
    // A port count no network has would size the tables by it: refused
    // before anything changes, so that the fitter keeps what it holds.
    const bool size = portCount >= 1 && portCount <= kMaxPortCount;
    if (Admit(state_, Operation::kBeginData, size)) {
      cfit::BeginData(state_, portCount, dataType, impedances);
      state_.session.dataMargins = MarginList{};
    }
    return 0;
  });
}

bool cCfit::AddDataPoint(const DataPointRecord* point) {
  return Guarded(false, std::nullopt, [&] {
    return Admit(state_, Operation::kAddDataPoint) && cfit::AddDataPoint(state_, point);
  });
}

bool cCfit::EndData() {
  return Guarded(false, std::nullopt,
                 [&] { return Admit(state_, Operation::kEndData) && cfit::EndData(state_); });
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
    if (!Admit(state_, Operation::kFit)) return 0;
    const FitReport report = cfit::Fit(
        state_, RunContext(runlog::Stream(), &state_.session.progress, state_.session.cancelFlag));
    if (report.firstFailure.has_value()) state_.session.error.Record(*report.firstFailure);
    return report.ok ? 1 : 0;
  });
}

// Without a fitted model or with an index outside 0..N-1: error 8; at a
// frequency that is not finite: error 45; both parts -1e99 on failure.
int cCfit::EvaluateModelElement(int i, int j, double frequency, double* value) {
  return Guarded(0, std::nullopt, [&] {
    const auto failed = [&] {
      if (value != nullptr) value[0] = value[1] = -1e99;
      return 0;
    };
    if (!Admit(state_, Operation::kEvaluateModelElement, ModelElement(state_, i, j)))
      return failed();
    const Result<Complex> h = ModelElementValue(ViewOf(state_), i, j, frequency);
    if (!h.ok()) {
      state_.session.error.Record(h.failure());
      return failed();
    }
    if (value != nullptr) {
      value[0] = h->re;
      value[1] = h->im;
    }
    return 1;
  });
}

// Each sweep needs a fitted model (error 8) before its arguments are looked
// at; the held data are replaced only by a finished sweep.
int cCfit::SweepModelAdaptive(double tolerance, double stopFrequency) {
  return Guarded(0, std::nullopt, [&] {
    if (!Admit(state_, Operation::kSweepModelAdaptive)) return 0;
    const double stop = stopFrequency == 0.0 ? state_.settings.upperBandFrequency : stopFrequency;
    return TakeSweep(SweepAdaptive(ViewOf(state_), state_.network.dataType, tolerance, stop,
                                   state_.settings.addZeroHzPoint));
  });
}

int cCfit::SweepModelLinear(double step, double start, double stop) {
  return Guarded(0, std::nullopt, [&] {
    if (!Admit(state_, Operation::kSweepModelLinear)) return 0;
    return TakeSweep(SweepLinear(ViewOf(state_), step, start, stop));
  });
}

int cCfit::TakeSweep(Result<SweptData> swept) {
  if (!swept.ok()) return state_.session.error.Record(swept.failure());
  state_.ReplaceData(std::move(swept).value());
  return 1;
}

int cCfit::SweepModelAtDataOf(cFitAPI* other) {
  return Guarded(0, std::nullopt, [&] {
    if (!Admit(state_, Operation::kSweepModelAtDataOf)) return 0;
    std::vector<double> frequencies;
    if (auto* fitter = dynamic_cast<cCfit*>(other)) {
      if (fitter->state_.network.data.has_value()) {
        for (ConstMatrixView p : fitter->state_.network.data->points()) {
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
    if (frequencies.empty()) return state_.session.error.Record(ErrorCode::kInvalidArguments);
    return TakeSweep(SweepAtList(ViewOf(state_), frequencies));
  });
}

int cCfit::SweepModelAtList(int count, const double* frequencies) {
  return Guarded(0, std::nullopt, [&] {
    if (!Admit(state_, Operation::kSweepModelAtList)) return 0;
    if (frequencies == nullptr || count < 0)
      return state_.session.error.Record(ErrorCode::kInvalidArguments);
    return TakeSweep(
        SweepAtList(ViewOf(state_), std::vector<double>(frequencies, frequencies + count)));
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
  return Guarded(0, std::nullopt, [&] {
    // The data's margin list goes once the types are found convertible.
    const int from = state_.network.dataType;
    if (target != from && ConvertibleTypes(from, target, state_.network.portCount).ok()) {
      state_.session.dataMargins = MarginList{};
    }
    return Recorded(state_.session.error, cfit::ConvertDataType(state_, target, RunContext()));
  });
}

int cCfit::GetElementModelInfo(int i, int j, int* poleCount, double* constant, double* proportional,
                               double* delay) {
  return Guarded(0, std::nullopt, [&] {
    if (!Admit(state_, Operation::kGetElementModelInfo, HeldElement(state_, i, j))) return 0;
    const ElementModelInfo info = ElementInfo(*state_.model, i, j);
    if (poleCount != nullptr) *poleCount = info.poleCount;
    Put(constant, info.constant);
    Put(proportional, info.proportional);
    Put(delay, info.delay);
    return 1;
  });
}

// Term k goes to poles[2k], poles[2k + 1] and residues[2k], residues[2k + 1];
// the host sizes the arrays by GetElementModelInfo's count.
int cCfit::GetElementPolesResidues(int i, int j, double* poles, double* residues) {
  return Guarded(0, std::nullopt, [&] {
    if (!Admit(state_, Operation::kGetElementPolesResidues,
               poles != nullptr && residues != nullptr))
      return 0;
    int k = 0;
    if (!state_.HasFit() || !HeldElement(state_, i, j)) return 0;
    for (const ElementTerm& term : ElementTerms(*state_.model, i, j)) {
      poles[2 * k] = term.pole.re;
      poles[2 * k + 1] = term.pole.im;
      residues[2 * k] = term.residue.re;
      residues[2 * k + 1] = term.residue.im;
      ++k;
    }
    return k;
  });
}

int cCfit::DefineModel(int portCount, int dataType, const double* referenceImpedances,
                       bool symmetric) {
  return Guarded(0, std::nullopt, [&] {
    const Status defined =
        cfit::DefineModel(state_, portCount, dataType, referenceImpedances, symmetric);
    // The new model replaces the data, and with them their margin list.
    if (defined.ok()) state_.session.dataMargins = MarginList{};
    return Recorded(state_.session.error, defined);
  });
}

int cCfit::ConvertPulseModelToS(double pulseWidth, double scale, double delay) {
  return Guarded(0, std::nullopt, [&] {
    if (!state_.HasFit() || !HeldElement(state_, 0, 0) || state_.network.portCount != 1) {
      return state_.session.error.Record(ErrorCode::kNoFit);
    }
    const Result<int> count = cfit::ConvertPulseModelToS(*state_.model, pulseWidth, scale, delay);
    if (!count.ok()) return state_.session.error.Record(count.failure());
    state_.network.dataType = state_.model->dataType;
    return *count;
  });
}

int cCfit::MultiplyModelByFrequency(double closingPole, double factor) {
  return Guarded(0, std::nullopt, [&] {
    if (!state_.HasFit() || !HeldElement(state_, 0, 0) || state_.network.portCount != 1) return 0;
    return cfit::MultiplyModelByFrequency(*state_.model, closingPole, factor);
  });
}

int cCfit::SetElementModel(int i, int j, int poleCount, double constant, double proportional,
                           double delay, const double* poles, const double* residues) {
  return Guarded(0, std::nullopt, [&] {
    if (!HeldElement(state_, i, j)) return 0;
    const ElementStore stored = cfit::SetElementModel(*state_.model, i, j, poleCount, constant,
                                                      proportional, delay, poles, residues);
    // The next fit's shape follows the model the host is defining.
    if (stored != ElementStore::kRefused) state_.settings.individualPoles = true;
    return stored == ElementStore::kStored ? 1 : 0;
  });
}

// ---------------------------------------------------------------------------
// Passivity assessment. A refusal writes 0 through both result pointers.

int cCfit::CheckDataPassivity(double* largestMeasure, double* frequency) {
  return Guarded(0, std::nullopt, [&] {
    Result<MeasurePeak> peak = Failure::Silent();
    if (Admit(state_, Operation::kCheckDataPassivity)) {
      peak = LargestDataMeasure(*state_.network.data, state_.network.dataType,
                                state_.network.symmetric, RunContext());
    }
    const MeasurePeak shown = peak.ok() ? *peak : MeasurePeak{};
    Put(largestMeasure, shown.measure);
    Put(frequency, shown.frequency);
    return peak.ok() ? 1 : state_.session.error.Record(peak.failure());
  });
}

int cCfit::CheckModelPassivity(double* largestMeasure, double* frequency) {
  return Guarded(0, std::nullopt, [&] {
    Result<MeasurePeak> peak = Failure::Silent();
    if (Admit(state_, Operation::kCheckModelPassivity)) {
      peak = LargestModelMeasure(ViewOf(state_), state_.network.dataType,
                                 state_.passivity.checkCurve, RunContext());
    }
    const MeasurePeak shown = peak.ok() ? *peak : MeasurePeak{};
    Put(largestMeasure, shown.measure);
    Put(frequency, shown.frequency);
    return peak.ok() ? 1 : state_.session.error.Record(peak.failure());
  });
}

// The previous list is dropped first, whatever the outcome.
int cCfit::GetDataPassivityMargins() {
  return Guarded(0, std::nullopt, [&] {
    MarginList& list = state_.session.dataMargins;
    list = MarginList{};
    if (!Admit(state_, Operation::kGetDataPassivityMargins)) return 0;
    Result<PassivityCurve> margins =
        DataMargins(*state_.network.data, state_.network.dataType, state_.network.symmetric);
    if (!margins.ok()) return state_.session.error.Record(margins.failure());
    list.points = std::move(margins).value();
    return 1;
  });
}

int cCfit::GetModelPassivityMargins() {
  return Guarded(0, std::nullopt, [&] {
    MarginList& list = state_.session.modelMargins;
    list = MarginList{};
    if (!Admit(state_, Operation::kGetModelPassivityMargins)) return 0;
    Result<PassivityCurve> margins =
        ModelMargins(ViewOf(state_), state_.network.dataType, RunContext());
    if (!margins.ok()) return state_.session.error.Record(margins.failure());
    list.points = std::move(margins).value();
    return 1;
  });
}

namespace {

// A margin walk step for the host: 0, recording nothing, without a point.
int PutMargin(const PassivityPoint* point, double* frequency, double* margin) {
  if (point == nullptr) return 0;
  Put(frequency, point->frequency);
  Put(margin, point->measure);
  return 1;
}

}  // namespace

int cCfit::GetFirstDataMargin(double* frequency, double* margin) {
  return PutMargin(FirstMargin(state_.session.dataMargins), frequency, margin);
}

int cCfit::GetNextDataMargin(double* frequency, double* margin) {
  return PutMargin(NextMargin(state_.session.dataMargins), frequency, margin);
}

int cCfit::GetFirstModelMargin(double* frequency, double* margin) {
  return PutMargin(FirstMargin(state_.session.modelMargins), frequency, margin);
}

int cCfit::GetNextModelMargin(double* frequency, double* margin) {
  return PutMargin(NextMargin(state_.session.modelMargins), frequency, margin);
}

// The conductances need a symmetric source (data: error 20, model: 19, also
// for a missing source, a bad index or missing impedances) of a measurable
// type (1003); a frequency that is not finite is refused first. The value is
// written (0 on failure) whatever the outcome.
Result<Complex> cCfit::Conductance(Operation operation, bool model, int i, int j, double frequency,
                                   bool dc) {
  const int n = state_.network.portCount;
  const bool element = model ? i >= 0 && j >= 0 && i < n && j < n : DataElement(state_, i, j);
  if (!Admit(state_, operation, std::isfinite(frequency) && element)) return Failure::Silent();
  PassivityState& p = state_.passivity;
  ConductanceCache& cache = dc ? p.dcConductance : p.conductance;
  if (model)
    return ModelConductance(ViewOf(state_), *state_.network.impedances, i, j, frequency, dc, cache);
  return DataConductance(*state_.network.data, *state_.network.impedances, i, j, frequency, dc,
                         cache, RunContext());
}

int cCfit::GetDataMutualConductanceDC(int i, int j, double* value) {
  return Guarded(0, std::nullopt, [&] {
    const Result<Complex> g =
        Conductance(Operation::kGetDataMutualConductanceDC, false, i, j, 0.0, true);
    Put(value, g.ok() ? g->re : 0.0);
    return g.ok() ? 1 : state_.session.error.Record(g.failure());
  });
}

int cCfit::GetDataMutualConductance(int i, int j, double frequency, double* re, double* im) {
  return Guarded(0, std::nullopt, [&] {
    const Result<Complex> g =
        Conductance(Operation::kGetDataMutualConductance, false, i, j, frequency, false);
    Put(re, g.ok() ? g->re : 0.0);
    Put(im, g.ok() ? g->im : 0.0);
    return g.ok() ? 1 : state_.session.error.Record(g.failure());
  });
}

int cCfit::GetModelMutualConductanceDC(int i, int j, double* value) {
  return Guarded(0, std::nullopt, [&] {
    const Result<Complex> g =
        Conductance(Operation::kGetModelMutualConductanceDC, true, i, j, 0.0, true);
    Put(value, g.ok() ? g->re : 0.0);
    return g.ok() ? 1 : state_.session.error.Record(g.failure());
  });
}

int cCfit::GetModelMutualConductance(int i, int j, double frequency, double* re, double* im) {
  return Guarded(0, std::nullopt, [&] {
    const Result<Complex> g =
        Conductance(Operation::kGetModelMutualConductance, true, i, j, frequency, false);
    Put(re, g.ok() ? g->re : 0.0);
    Put(im, g.ok() ? g->im : 0.0);
    return g.ok() ? 1 : state_.session.error.Record(g.failure());
  });
}

int cCfit::EnforceDataPassivity(double threshold) {
  return Guarded(0, ErrorCode::kDataEnforcementFailed, [&] {
    if (!Admit(state_, Operation::kEnforceDataPassivity)) return 0;
    state_.session.dataMargins = MarginList{};
    return Recorded(state_.session.error,
                    cfit::EnforceDataPassivity(state_, threshold, RunContext()));
  });
}

// The banner comes before the checks: a refused call shows it too.
int cCfit::EnforceModelPassivity(double threshold) {
  return Guarded(0, ErrorCode::kModelEnforcementFailed, [&] {
    const RunContext context;
    context.Banner(" ************* Passivity enforcement ******\n");
    if (!Admit(state_, Operation::kEnforceModelPassivity)) return 0;
    // The model's margin list goes once the enforcement has the room to
    // run (2N rows and columns of the working set).
    const long long twoN = 2LL * state_.model->n;
    const WorkingSet& work = state_.workspace.work;
    if (twoN <= work.max_rows() && twoN <= work.max_cols()) state_.session.modelMargins = {};
    return Recorded(state_.session.error, cfit::EnforceModelPassivity(state_, threshold, context));
  });
}

// The matrices go to the host's pointers, or as a report to the log when
// either pointer is missing. 0 without recording anything when data or model
// are missing or of different port counts.
int cCfit::GetEnforcedAccuracy(double*** rms, double*** largest) {
  return Guarded(0, std::nullopt, [&] {
    if (!Admit(state_, Operation::kGetEnforcedAccuracy)) return 0;
    if (state_.network.data->port_count() != state_.model->n) return 0;
    HostSession& s = state_.session;
    ComputeEnforcedAccuracy(ViewOf(state_), *state_.network.data, s.accuracyRms, s.accuracyLargest);
    if (rms == nullptr || largest == nullptr) {
      LogEnforcedAccuracy(s.accuracyRms, s.accuracyLargest, RunContext());
      return 1;
    }
    *rms = s.accuracyRms.rows.data();
    *largest = s.accuracyLargest.rows.data();
    return 1;
  });
}

// ---------------------------------------------------------------------------
// Operations whose engines are not built yet (their rows say so). Each fails
// without recording anything, so that no host mistakes them for working ones.

namespace {

// Every operation whose row is marked unbuilt fails here.
int Unbuilt(Operation) { return 0; }

}  // namespace

int cCfit::CascadeWithTouchstone(const char*) { return Unbuilt(Operation::kCascadeWithTouchstone); }
int cCfit::VoltageTransferFunction(double, double, int) {
  return Unbuilt(Operation::kVoltageTransferFunction);
}
bool cCfit::IsSeriesElement() { return Unbuilt(Operation::kIsSeriesElement); }
bool cCfit::IsShuntElement() { return Unbuilt(Operation::kIsShuntElement); }
int cCfit::IdealizeShuntElement() { return Unbuilt(Operation::kIdealizeShuntElement); }
int cCfit::ExtractShuntElement(int) { return Unbuilt(Operation::kExtractShuntElement); }
int cCfit::ExtractSeriesElement(int) { return Unbuilt(Operation::kExtractSeriesElement); }
int cCfit::MakeSeriesTwoPort() { return Unbuilt(Operation::kMakeSeriesTwoPort); }
bool cCfit::FitSeriesElement() { return Unbuilt(Operation::kFitSeriesElement); }
int cCfit::ConvertToStandardMode(int, int, int, int) {
  return Unbuilt(Operation::kConvertToStandardMode);
}
int cCfit::ConvertToMixedMode(int, int, int, int) {
  return Unbuilt(Operation::kConvertToMixedMode);
}
int cCfit::JoinModalTwoPorts(const char*) { return Unbuilt(Operation::kJoinModalTwoPorts); }
int cCfit::ChangeReferenceImpedances(const double*) {
  return Unbuilt(Operation::kChangeReferenceImpedances);
}
int cCfit::TerminatePorts(const int*) { return Unbuilt(Operation::kTerminatePorts); }
int cCfit::CombinePorts(const unsigned char*, int) { return Unbuilt(Operation::kCombinePorts); }
int cCfit::ReorderPorts(const int*) { return Unbuilt(Operation::kReorderPorts); }
int cCfit::JoinModalTwoPortModels(const char*) {
  return Unbuilt(Operation::kJoinModalTwoPortModels);
}
int cCfit::GetTimeResponse(const TimeResponseParameters& params, double t, double* value,
                           double* impulseTime, double* impulseWeight, int i, int j) {
  return Guarded(0, std::nullopt, [&] {
    if (!Admit(state_, Operation::kGetTimeResponse, ModelElement(state_, i, j))) return 0;
    const TimeResponsePoint point =
        EvaluateTimeResponse(TimeDomainElementOf(ViewOf(state_), i, j), params, t);
    Put(value, point.value);
    if (point.dirac) {
      Put(impulseTime, point.diracTime);
      Put(impulseWeight, point.diracWeight);
    }
    return 1;
  });
}

int cCfit::WriteTimeResponse(const TimeResponseParameters& params, const char* fileName, int i,
                             int j) {
  return Guarded(0, std::nullopt, [&] {
    if (!Admit(state_, Operation::kWriteTimeResponse, ModelElement(state_, i, j))) return 0;
    const Status checked = CheckTimeResponseParameters(params);
    if (!checked.ok()) return state_.session.error.Record(checked.failure());
    const std::string name = fileName != nullptr ? fileName : "";
    return Recorded(state_.session.error,
                    WriteTimeResponseFile(TimeDomainElementOf(ViewOf(state_), i, j), params, name));
  });
}

int cCfit::BuildRLCModel(double, double, double, int) { return Unbuilt(Operation::kBuildRLCModel); }
int cCfit::FindReactanceZeroCrossing(double*) {
  return Unbuilt(Operation::kFindReactanceZeroCrossing);
}
cCPSolver* cCfit::CreateSolver(int expectedDataType) {
  return Guarded<cCPSolver*>(nullptr, std::nullopt, [&]() -> cCPSolver* {
    const int type = state_.network.dataType;
    const bool solvable = type == expectedDataType && (type == kS || type == kY || type == kZ);
    if (!Admit(state_, Operation::kCreateSolver, solvable)) return nullptr;
    return new cCPSolverImp(state_);
  });
}

}  // namespace cfit
