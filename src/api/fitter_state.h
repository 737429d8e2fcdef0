// The shared state of one fitter. cCfit owns one FitterState; the subsystem
// routines take the parts they need by reference, so a test can build a
// state and run one routine on it.
#ifndef CFIT_API_FITTER_STATE_H
#define CFIT_API_FITTER_STATE_H

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "api/errors.h"
#include "cfit/cfit.h"
#include "data/data_point_export.h"
#include "data/sampled_data.h"
#include "fit/fitted_model.h"
#include "numeric/element_table.h"
#include "numeric/working_set.h"
#include "passivity/passivity_state.h"

namespace cfit {

// Data type codes shared by data and model.
enum DataType : int {
  kNoData = 0,
  kS = 1,
  kY = 2,
  kZ = 3,
  kABCD = 4,  // 2-port chain matrix, produced only from S
  kPulse = 5  // the pulse model, letter P in files
};

// Largest port count a host may hand to BeginData or DefineModel: N x N
// tables of this order still fit comfortably in memory.
inline constexpr int kMaxPortCount = 4096;

// Options copied from cFitParams (fields 3 to 14) and the fitter's own
// settings. The values here are the construction defaults; Init overwrites
// the copied fields.
struct Settings {
  bool individualPoles = true;
  bool extractDelays = false;
  bool passivity = false;
  bool reducePoints = false;
  double poleRatioBound = 400.0;
  double symmetryTolerance = 0.005;
  bool addZeroHzPoint = false;
  bool prepareSData = false;
  double upperBandFrequency = 1e11;
  double lowerBandFrequency = 0.0;
  bool callerBand = false;
  bool extendedFit = false;
  // Used by pole adding.
  double upperFrequencyBound = 1e11;
  double internalRatio = 100.0;
  // Read by passivity enforcement; Init sets it from the passivity option.
  int enforcementMode = 0;
  // Seconds; 0 = none.
  double timeStep = 0.0;
};

// What the fitting engine keeps between the fits of one fitter. The working
// pole list lives for one fit. The quality limit given to starting poles
// only grows (up to the pole ratio bound); once a reactive top has raised
// the pole ratio bound, the raised bound holds for the life of the fitter
// (before that, the setting applies).
struct FitContext {
  PoleList working;
  double workingQLimit = 100.0;
  std::optional<double> poleRatioBound;
  // Least squares with column pivoting (default) or plain Householder QR.
  bool pivoting = true;
};

struct FitterState {
  int portCount = 0;
  int dataType = kNoData;
  // Per-port reference impedances in ohms; absent until data or a model are
  // loaded.
  std::optional<std::vector<double>> impedances;

  std::unique_ptr<SampledData> data;
  std::unique_ptr<FittedModel> model;
  std::unique_ptr<ElementTable> elements;

  bool symmetric = true;
  bool mixedMode = false;
  Settings settings;

  // Fit progress, 0 to 1; its address is handed to the host.
  double progress = 0.0;
  // The host's cancel byte, or null.
  char* cancelFlag = nullptr;

  ErrorSlot error;
  // Header comment of the last file read, and the host's output comment
  // (not copied; the host keeps it alive).
  std::optional<std::string> fileComment;
  const char* outputComment = nullptr;

  WorkingSet work;
  // Right-hand sides of the S/Y/Z conversions (N x N complex, row by row),
  // grown on first use and kept; their 2N x 2N system lives in `work`.
  std::vector<Complex> conversionRhs;
  FitContext fit;

  // Passivity curves, margin lists, conductance and accuracy matrices.
  PassivityState passivity;

  // Point walk for GetFirstDataPoint / GetNextDataPoint.
  std::optional<std::size_t> dataCursor;
  DataPointExport exportRecord;

  // Replaces the sampled data (null removes them) and ends any point walk.
  void ReplaceData(std::unique_ptr<SampledData> newData) {
    data = std::move(newData);
    dataCursor.reset();
  }
  bool HasPoints() const { return data != nullptr && !data->empty(); }

  // A fitted model is present: port count or impedances set, the model's
  // constant table and the element table exist, the model has the fitter's
  // port count, and it holds at least one pole (an element's list with
  // individual poles, the common list otherwise). A model left from
  // DefineModel before a file read changed the port count is no fit.
  bool HasFit() const;

  // Rebuilds the element table for the current port count and data type.
  void ResetElementTable() { elements = std::make_unique<ElementTable>(portCount, dataType); }

  // Re-allocates the working set when it is smaller than rows x cols.
  // Returns false when the storage cannot be obtained.
  bool EnsureWorkingSet(long long rows, long long cols);
};

}  // namespace cfit

#endif  // CFIT_API_FITTER_STATE_H
