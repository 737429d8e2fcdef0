// The state of one fitter as a composition of its parts: the network, the
// model, the settings, the engine's workspace, the passivity results and the
// host session. Each part says who owns it.
#ifndef CFIT_API_FITTER_STATE_H
#define CFIT_API_FITTER_STATE_H

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "api/errors.h"
#include "cfit/cfit.h"
#include "core/network.h"
#include "data/data_point_export.h"
#include "data/sampled_data.h"
#include "fit/model.h"
#include "numeric/element_table.h"
#include "numeric/working_set.h"
#include "passivity/passivity_state.h"

namespace cfit {

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

// The engine's working storage, kept between operations so that it is
// allocated once: the least-squares working set, the right-hand sides of the
// type conversions and what the fit carries from one fit to the next.
struct Workspace {
  WorkingSet work;
  // Right-hand sides of the S/Y/Z conversions (N x N complex, row by row),
  // grown on first use and kept; their 2N x 2N system lives in `work`.
  std::vector<Complex> conversionRhs;
  FitContext fit;
};

// What belongs to the host's conversation with the fitter and nothing to the
// engine: the error slot, the progress cell and cancel byte handed to the
// host, the file and output comments, and the data point walk with the
// record it hands out, the margin lists and the accuracy matrices. Only the
// facade (src/api) touches it; engine routines
// get a RunContext and return their failures.
struct HostSession {
  ErrorSlot error;
  // Fit progress, 0 to 1; its address is handed to the host.
  double progress = 0.0;
  // The host's cancel byte, or null.
  char* cancelFlag = nullptr;
  // Header comment of the last file read, and the host's output comment
  // (not copied; the host keeps it alive).
  std::optional<std::string> fileComment;
  const char* outputComment = nullptr;
  // Point walk for GetFirstDataPoint / GetNextDataPoint.
  std::optional<std::size_t> dataCursor;
  DataPointExport exportRecord;
  // The passivity margin lists of the data and of the model with their
  // walks; the facade drops a list when what it describes changes.
  MarginList dataMargins;
  MarginList modelMargins;
  // The model's accuracy against the data, handed to the host as row arrays.
  HostMatrix accuracyRms;
  HostMatrix accuracyLargest;
};

// The whole state of one fitter. cCfit owns one. Engine routines take the
// state and reach only its engine parts (network, model, settings, workspace,
// passivity), so that a test can build a state and run one routine on it;
// the facade alone reaches the host session.
struct FitterState {
  Network network;
  std::unique_ptr<Model> model;
  Settings settings;
  Workspace workspace;
  // The model check curve and the cached conductance matrices.
  PassivityState passivity;
  HostSession session;

  // Replaces the sampled data (nullopt removes them) and ends any point walk.
  void ReplaceData(std::optional<SampledData> newData) {
    network.data = std::move(newData);
    session.dataCursor.reset();
  }
  bool HasPoints() const { return network.HasPoints(); }

  // A fitted model is present: port count or impedances set, the model's
  // constant table and the element table exist, the model has the fitter's
  // port count, and it holds at least one pole (an element's list with
  // individual poles, the common list otherwise). A model left from
  // DefineModel before a file read changed the port count is no fit.
  bool HasFit() const;

  // Copies the network's data type, reference impedances and symmetric flag
  // into the held model, so that code given only the model reads them
  // there. The facade calls it after every operation.
  void SyncModelFrame();

  // Rebuilds the element table for the current port count and data type.
  void ResetElementTable() {
    network.elements = std::make_unique<ElementTable>(network.portCount, network.dataType);
  }

  // Re-allocates the working set when it is smaller than rows x cols.
  // Returns false when the storage cannot be obtained.
  bool EnsureWorkingSet(long long rows, long long cols);
};

}  // namespace cfit

#endif  // CFIT_API_FITTER_STATE_H
