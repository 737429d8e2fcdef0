// cCfit: the fitter object behind cFitAPI.
//
// A thin facade over FitterState: each operation starts from its row of the
// operation table (its state checks in order, see operation_table.h), then
// calls one engine routine, copies the results out to the host's pointers
// and records a failure. No exception
// leaves an operation: internal faults become the operation's recorded
// internal error, and allocation failures a failed result.
#ifndef CFIT_API_CFIT_IMPL_H
#define CFIT_API_CFIT_IMPL_H

#include <optional>

#include "api/fitter_state.h"
#include "api/operation_table.h"
#include "cfit/cfit.h"
#include "core/result.h"
#include "fit/sweeps.h"
#include "network/mixed_mode.h"
#include "network/series_shunt_element.h"

namespace cfit {

class cCfit final : public cFitAPI {
 public:
  cCfit() = default;
  ~cCfit() override = default;
  cCfit(const cCfit&) = delete;
  cCfit& operator=(const cCfit&) = delete;

  // The shared state, for the subsystem routines and white-box tests.
  FitterState& state() { return state_; }
  const FitterState& state() const { return state_; }

  int ReadTouchstone(const char* fileName) override;
  int Fit() override;
  int ReadPoles(const char* fileName) override;
  bool HasFit() override;
  bool HasSampledData() override;
  bool IsMixedMode() override;
  int SetMixedModeFlag() override;
  int SetStandardModeFlag() override;
  bool IsSymmetric() override;
  bool CheckSymmetry(double* relative, double* absolute) override;
  int Symmetrize() override;
  int CheckDataPassivity(double* largestMeasure, double* frequency) override;
  int EnforceDataPassivity(double threshold) override;
  int GetDataMutualConductanceDC(int i, int j, double* value) override;
  int GetDataMutualConductance(int i, int j, double frequency, double* re, double* im) override;
  int GetLowestPointTransfer(int i, int j, double* magnitude) override;
  int GetMaxElementMagnitude(int i, int j, double* magnitude, double* frequency) override;
  int WriteDataTable(const char* fileName, int i, int j, bool header, bool negate,
                     double offset) override;
  int WriteTouchstone(const char* fileName, int format) override;
  int CascadeWithTouchstone(const char* fileName) override;
  int VoltageTransferFunction(double sourceResistance, double loadConductance,
                              int portOrder) override;
  int CheckModelPassivity(double* largestMeasure, double* frequency) override;
  int EnforceModelPassivity(double threshold) override;
  int WritePoles(const char* fileName) override;
  int SweepModelAdaptive(double tolerance, double stopFrequency) override;
  int SweepModelLinear(double step, double start, double stop) override;
  int SweepModelAtDataOf(cFitAPI* other) override;
  int SweepModelAtList(int count, const double* frequencies) override;
  int WriteSubcircuit(const char* fileName) override;
  int GetModelMutualConductanceDC(int i, int j, double* value) override;
  int GetModelMutualConductance(int i, int j, double frequency, double* re, double* im) override;
  int GetEnforcedAccuracy(double*** rms, double*** largest) override;
  bool Init(cFitParams* params) override;
  int SetEnforcementMode(int mode) override;
  DataPointRecord* GetFirstDataPoint() override;
  DataPointRecord* GetNextDataPoint() override;
  void BeginData(int portCount, int dataType, const double* impedances) override;
  bool AddDataPoint(const DataPointRecord* point) override;
  bool EndData() override;
  bool IsSeriesElement() override;
  bool IsShuntElement() override;
  int IdealizeShuntElement() override;
  int ConvertDataType(int target) override;
  int ExtractShuntElement(int type) override;
  int ExtractSeriesElement(int type) override;
  int MakeSeriesTwoPort() override;
  bool FitSeriesElement() override;
  int ConvertToStandardMode(int a, int b, int c, int d) override;
  int ConvertToMixedMode(int a, int b, int c, int d) override;
  int JoinModalTwoPorts(const char* touchstonePath) override;
  int ChangeReferenceImpedances(const double* impedances) override;
  int SetReferenceImpedance(double impedance) override;
  int TerminatePorts(const int* codes) override;
  int CombinePorts(const unsigned char* join, int position) override;
  int ReorderPorts(const int* permutation) override;
  int GetDataType() override;
  int GetPortCount() override;
  const double* GetReferenceImpedances() override;
  int GetDataPassivityMargins() override;
  int GetFirstDataMargin(double* frequency, double* margin) override;
  int GetNextDataMargin(double* frequency, double* margin) override;
  int JoinModalTwoPortModels(const char* poleFilePath) override;
  int EvaluateModelElement(int i, int j, double frequency, double* value) override;
  int GetModelPassivityMargins() override;
  int GetFirstModelMargin(double* frequency, double* margin) override;
  int GetNextModelMargin(double* frequency, double* margin) override;
  int GetElementModelInfo(int i, int j, int* poleCount, double* constant, double* proportional,
                          double* delay) override;
  int GetElementPolesResidues(int i, int j, double* poles, double* residues) override;
  int DefineModel(int portCount, int dataType, const double* referenceImpedances,
                  bool symmetric) override;
  int SetElementModel(int i, int j, int poleCount, double constant, double proportional,
                      double delay, const double* poles, const double* residues) override;
  int ConvertPulseModelToS(double pulseWidth, double scale, double delay) override;
  void SetTimeStep(double seconds) override;
  int MultiplyModelByFrequency(double closingPole, double factor) override;
  int GetTimeResponse(const TimeResponseParameters& params, double t, double* value,
                      double* impulseTime, double* impulseWeight, int i, int j) override;
  int WriteTimeResponse(const TimeResponseParameters& params, const char* fileName, int i,
                        int j) override;
  const double* GetProgress() override;
  char* SetCancelFlag(char* flag) override;
  const char* GetErrorMessage() override;
  const char* GetFileComment() override;
  const char* SetOutputComment(const char* text) override;
  int SetElementDcOption(int flag, int i, int j, double value) override;
  int SetElementAsymptote(int mode, int i, int j, double value) override;
  int BuildRLCModel(double R, double L, double C, int type) override;
  int FindReactanceZeroCrossing(double* value) override;
  int GetTouchstonePortCount(const char* fileName) override;
  int GetPolesPortCount(const char* fileName) override;
  cCPSolver* CreateSolver(int expectedDataType) override;

 private:
  // Runs `body`; an internal fault records `internalCode` (when given) and
  // yields `failure`, as does any other exception.
  template <class R, class F>
  R Guarded(R failure, std::optional<ErrorCode> internalCode, F&& body) noexcept;

  // Puts a finished sweep in place of the held data, or records its failure.
  int TakeSweep(Result<SweptData> swept);
  // Drops the margin lists of data and model.
  void DropMargins();
  // Element (i, j) of the data's or the model's conductance matrix, after
  // the checks of `operation`'s row (a refusal is recorded there).
  Result<Complex> Conductance(Operation operation, bool model, int i, int j, double frequency,
                              bool dc);
  // The element extraction of `operation`'s row for the given shape.
  int Extract(Operation operation, ElementShape shape, int type);

  // Both mode conversions: the row's checks (the pairs are the argument),
  // then the conversion of data and model.
  int ConvertMode(Operation operation, ModeDirection direction, int a, int b, int c, int d);

  FitterState state_;
};

}  // namespace cfit

#endif  // CFIT_API_CFIT_IMPL_H
