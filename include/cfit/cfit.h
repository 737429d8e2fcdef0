// cfit: rational macromodels of sampled N-port network parameters.
//
// This is the whole host interface of libcfit. A host obtains a fitter with
// cFitAPI::Create, drives it through the virtual operations below and deletes
// it through the virtual destructor. Every operation reports success by its
// result (1, true or a non-null pointer) and failure by 0, false or null; the
// first recorded error message is available from GetErrorMessage.
//
// Complex values that cross this interface are two consecutive doubles,
// real part first. Element indices are 0-based (i row, j column); files and
// netlists number ports from 1. Pointers handed out by a fitter stay owned by
// it; pointers handed in (output comment, cancel byte) stay the host's.
#ifndef CFIT_CFIT_H
#define CFIT_CFIT_H

#include <cstdint>

#if defined(_WIN32)
#if defined(CFIT_BUILDING_LIBRARY)
#define CFIT_EXPORT __declspec(dllexport)
#else
#define CFIT_EXPORT __declspec(dllimport)
#endif
#else
#define CFIT_EXPORT __attribute__((visibility("default")))
#endif

// Construction record of a fitter. The defaults are those used when
// cFitAPI::Create is given a null pointer.
struct cFitParams {
  int32_t maxFrequencyPoints = 5001;  // sampled points a fit may use
  int32_t maxColumns = 200;           // bounds the poles a fit may add
  bool individualPoles = true;        // false: one pole set common to all elements
  bool extractDelays = true;          // extract a pure delay per element
  bool passivity = false;             // passivity-aware pole adding; default enforcement mode
  bool reducePoints = false;          // drop points that change by at most 1e-5 after a read
  double poleRatioBound = 400.0;      // bound used when poles are relocated and added
  double symmetryTolerance = 0.005;   // relative asymmetry below which data count as symmetric
  bool addZeroHzPoint = false;        // make the data start with a real 0 Hz point
  bool prepareSData = false;          // constrain S data at DC to an ideal N-way junction
  double upperBandFrequency = 2e10;   // upper end of the caller's pole band
  double lowerBandFrequency = 0.0;    // lower end of the caller's pole band
  bool callerBand = false;            // keep the band above instead of the data's band
  bool extendedFit = false;           // extend the band with down-weighted added points
};

// One sampled point as the host reads and writes it: values[i] points to
// row i, 2N doubles, element (i, j) at [2j] (real) and [2j+1] (imaginary).
struct DataPointRecord {
  double frequency;
  double** values;
};

// Waveform request for the time response of one fitted element. Times in
// seconds.
struct TimeResponseParameters {
  int32_t kind = 1;         // 0 impulse, 1 step, 2 bit pulse, 3 trapezoidal pulse
  double amplitude = 1.0;   // factor applied to every response value
  double width = 5e-10;     // bit time (kind 2); pulse width (kind 3)
  double riseTime = 1e-11;  // rise time of the trapezoid
  double fallTime = 1e-11;  // fall time of the trapezoid
  double timeStep = 1e-12;  // output grid step
  double startTime = 0.0;   // first output time
  double endTime = 1e-7;    // last output time, included
};

// Recursive-convolution solver made from a fitted S model by
// cFitAPI::CreateSolver. Owned by the host, which deletes it; the fitter it
// was made from must outlive it.
class cCPSolver {
 public:
  virtual int FreeElements() = 0;
  virtual int BuildElements(int p1, int p2, int p3, int p4) = 0;
  virtual int GetDCMatrix(double** matrix) = 0;
  virtual int Start(const double* u, double dt) = 0;
  virtual int Advance(double t, const double* u, double** G, double* H) = 0;
  virtual int StartFixedStep(const double* u, double dt, double** G, double* H) = 0;
  virtual int Step(const double* u, double* H) = 0;
  virtual int GetElementResponse(int i, int j, double frequency, double* value) = 0;
  virtual ~cCPSolver() {}
};

// The fitter. One object models one network; it serves one thread at a time.
class cFitAPI {
 public:
  // Makes a fitter with the given record (null: the defaults). Returns null
  // when its working storage cannot be sized or obtained.
  CFIT_EXPORT static cFitAPI* Create(cFitParams* params = nullptr);

  virtual ~cFitAPI() {}
  virtual int ReadTouchstone(const char* fileName) = 0;
  virtual int Fit() = 0;
  virtual int ReadPoles(const char* fileName) = 0;
  virtual bool HasFit() = 0;
  virtual bool HasSampledData() = 0;
  virtual bool IsMixedMode() = 0;
  virtual int SetMixedModeFlag() = 0;
  virtual int SetStandardModeFlag() = 0;
  virtual bool IsSymmetric() = 0;
  virtual bool CheckSymmetry(double* relative, double* absolute) = 0;
  virtual int Symmetrize() = 0;
  virtual int CheckDataPassivity(double* largestMeasure, double* frequency) = 0;
  virtual int EnforceDataPassivity(double threshold) = 0;
  virtual int GetDataMutualConductanceDC(int i, int j, double* value) = 0;
  virtual int GetDataMutualConductance(int i, int j, double frequency, double* re, double* im) = 0;
  virtual int GetLowestPointTransfer(int i, int j, double* magnitude) = 0;
  virtual int GetMaxElementMagnitude(int i, int j, double* magnitude, double* frequency) = 0;
  virtual int WriteDataTable(const char* fileName, int i, int j, bool header, bool negate,
                             double offset) = 0;
  virtual int WriteTouchstone(const char* fileName, int format) = 0;
  virtual int CascadeWithTouchstone(const char* fileName) = 0;
  virtual int VoltageTransferFunction(double sourceResistance, double loadConductance,
                                      int portOrder) = 0;
  virtual int CheckModelPassivity(double* largestMeasure, double* frequency) = 0;
  virtual int EnforceModelPassivity(double threshold) = 0;
  virtual int WritePoles(const char* fileName) = 0;
  virtual int SweepModelAdaptive(double tolerance, double stopFrequency) = 0;
  virtual int SweepModelLinear(double step, double start, double stop) = 0;
  virtual int SweepModelAtDataOf(cFitAPI* other) = 0;
  virtual int SweepModelAtList(int count, const double* frequencies) = 0;
  virtual int WriteSubcircuit(const char* fileName) = 0;
  virtual int GetModelMutualConductanceDC(int i, int j, double* value) = 0;
  virtual int GetModelMutualConductance(int i, int j, double frequency, double* re, double* im) = 0;
  virtual int GetEnforcedAccuracy(double*** rms, double*** largest) = 0;
  virtual bool Init(cFitParams* params) = 0;
  virtual int SetEnforcementMode(int mode) = 0;
  virtual DataPointRecord* GetFirstDataPoint() = 0;
  virtual DataPointRecord* GetNextDataPoint() = 0;
  virtual void BeginData(int portCount, int dataType, const double* impedances) = 0;
  virtual bool AddDataPoint(const DataPointRecord* point) = 0;
  virtual bool EndData() = 0;
  virtual bool IsSeriesElement() = 0;
  virtual bool IsShuntElement() = 0;
  virtual int IdealizeShuntElement() = 0;
  virtual int ConvertDataType(int target) = 0;
  virtual int ExtractShuntElement(int type) = 0;
  virtual int ExtractSeriesElement(int type) = 0;
  virtual int MakeSeriesTwoPort() = 0;
  virtual bool FitSeriesElement() = 0;
  virtual int ConvertToStandardMode(int a, int b, int c, int d) = 0;
  virtual int ConvertToMixedMode(int a, int b, int c, int d) = 0;
  virtual int JoinModalTwoPorts(const char* touchstonePath) = 0;
  virtual int ChangeReferenceImpedances(const double* impedances) = 0;
  virtual int SetReferenceImpedance(double impedance) = 0;
  virtual int TerminatePorts(const int* codes) = 0;
  virtual int CombinePorts(const unsigned char* join, int position) = 0;
  virtual int ReorderPorts(const int* permutation) = 0;
  virtual int GetDataType() = 0;
  virtual int GetPortCount() = 0;
  virtual const double* GetReferenceImpedances() = 0;
  virtual int GetDataPassivityMargins() = 0;
  virtual int GetFirstDataMargin(double* frequency, double* margin) = 0;
  virtual int GetNextDataMargin(double* frequency, double* margin) = 0;
  virtual int JoinModalTwoPortModels(const char* poleFilePath) = 0;
  virtual int EvaluateModelElement(int i, int j, double frequency, double* value) = 0;
  virtual int GetModelPassivityMargins() = 0;
  virtual int GetFirstModelMargin(double* frequency, double* margin) = 0;
  virtual int GetNextModelMargin(double* frequency, double* margin) = 0;
  virtual int GetElementModelInfo(int i, int j, int* poleCount, double* constant,
                                  double* proportional, double* delay) = 0;
  virtual int GetElementPolesResidues(int i, int j, double* poles, double* residues) = 0;
  virtual int DefineModel(int portCount, int dataType, const double* referenceImpedances,
                          bool symmetric) = 0;
  virtual int SetElementModel(int i, int j, int poleCount, double constant, double proportional,
                              double delay, const double* poles, const double* residues) = 0;
  virtual int ConvertPulseModelToS(double pulseWidth, double scale, double delay) = 0;
  virtual void SetTimeStep(double seconds) = 0;
  virtual int MultiplyModelByFrequency(double closingPole, double factor) = 0;
  virtual int GetTimeResponse(const TimeResponseParameters& params, double t, double* value,
                              double* impulseTime, double* impulseWeight, int i, int j) = 0;
  virtual int WriteTimeResponse(const TimeResponseParameters& params, const char* fileName, int i,
                                int j) = 0;
  virtual const double* GetProgress() = 0;
  virtual char* SetCancelFlag(char* flag) = 0;
  virtual const char* GetErrorMessage() = 0;
  virtual const char* GetFileComment() = 0;
  virtual const char* SetOutputComment(const char* text) = 0;
  virtual int SetElementDcOption(int flag, int i, int j, double value) = 0;
  virtual int SetElementAsymptote(int mode, int i, int j, double value) = 0;
  virtual int BuildRLCModel(double R, double L, double C, int type) = 0;
  virtual int FindReactanceZeroCrossing(double* value) = 0;
  virtual int GetTouchstonePortCount(const char* fileName) = 0;
  virtual int GetPolesPortCount(const char* fileName) = 0;
  virtual cCPSolver* CreateSolver(int expectedDataType) = 0;
};

#endif  // CFIT_CFIT_H
