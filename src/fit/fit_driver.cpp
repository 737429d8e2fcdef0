#include "fit/fit_driver.h"

#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "fit/delay.h"
#include "fit/pole_identification.h"
#include "fit/residues.h"
#include "io/run_log.h"

namespace cfit {

namespace {

// Elements whose largest value is at least this are fitted on the plain
// sampled data in an extended fit.
constexpr double kExtendThreshold = 0.6;

// Progress is read by another thread while a fit runs.
void SetProgress(FitterState& state, double value) {
  std::atomic_ref<double>(state.progress).store(value, std::memory_order_relaxed);
}

bool Cancelled(const FitterState& state) {
  return state.cancelFlag != nullptr &&
         std::atomic_ref<char>(*state.cancelFlag).load(std::memory_order_relaxed) != 0;
}

// A fresh model of N x N zero tables.
void ClearModel(FitterState& state) {
  auto model = std::make_unique<FittedModel>();
  const int n = state.portCount;
  const std::size_t nn = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  model->n = n;
  model->elementPoles.assign(nn, PoleList{});
  model->constant.assign(nn, 0.0);
  model->proportional.assign(nn, 0.0);
  model->delay.assign(nn, 0.0);
  model->rmsError.assign(nn, 0.0);
  model->maxError.assign(nn, 0.0);
  state.model = std::move(model);
  state.fit.working.clear();
}

// Holds the data set the fitter had before the fit changed it (the point
// limit, the extended data) and puts it back on every way out.
class DataRestorer {
 public:
  explicit DataRestorer(FitterState& state) : state_(state) {}
  ~DataRestorer() { Restore(); }
  DataRestorer(const DataRestorer&) = delete;
  DataRestorer& operator=(const DataRestorer&) = delete;

  // Replaces the fitter's data for the fit, keeping the original.
  void Replace(std::unique_ptr<SampledData> replacement) {
    auto previous = std::exchange(state_.data, std::move(replacement));
    if (original_ == nullptr) original_ = std::move(previous);
  }
  void Restore() {
    if (original_ != nullptr) state_.data = std::move(original_);
  }

 private:
  FitterState& state_;
  std::unique_ptr<SampledData> original_;
};

// Extended fit: fallback indexing and row weighting for the duration.
class ExtendedFitScope {
 public:
  ExtendedFitScope(FitterState& state, bool on) : state_(state), fallback_(on) {
    state_.fit.rowWeighting = on;
  }
  ~ExtendedFitScope() { state_.fit.rowWeighting = false; }
  ExtendedFitScope(const ExtendedFitScope&) = delete;
  ExtendedFitScope& operator=(const ExtendedFitScope&) = delete;

 private:
  FitterState& state_;
  ScopedFallbackIndexing fallback_;
};

// Writes element (i, j)'s values into the extended set: the sampled values at
// the sampled frequencies, and a first-order roll-off from the last value
// above the band.
void PrepareExtendedElement(const SampledData& plain, SampledData& extended, int i, int j) {
  const auto& source = plain.points();
  auto& target = extended.points();
  const double fFirst = source.front().frequency();
  const double fLast = source.back().frequency();
  const Complex vLast = source.back().At(i, j);
  const double w = fLast + 6.0 * (fLast - fFirst);
  for (std::size_t k = 0; k < target.size(); ++k) {
    PortMatrix& p = target[k];
    if (k < source.size()) {
      p.At(0, 0) = source[k].At(i, j);
    } else {
      p.At(0, 0) = vLast / (Complex(1.0, 0.0) + Complex(0.0, (p.frequency() - fLast) / w));
    }
  }
}

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

double LargestMagnitude(const SampledData& data, int i, int j) {
  double largest = 0.0;
  for (const PortMatrix& p : data.points()) largest = std::max(largest, Abs(p.At(i, j)));
  return largest;
}

double ModelEntry(const FitterState& state, const std::vector<double>& table, int i, int j) {
  return table[state.model->Index(i, j)];
}

// Swaps two data sets for the lifetime of the object.
class DataSwap {
 public:
  DataSwap(std::unique_ptr<SampledData>& a, std::unique_ptr<SampledData>& b) : a_(a), b_(b) {
    std::swap(a_, b_);
  }
  ~DataSwap() { std::swap(a_, b_); }
  DataSwap(const DataSwap&) = delete;
  DataSwap& operator=(const DataSwap&) = delete;

 private:
  std::unique_ptr<SampledData>& a_;
  std::unique_ptr<SampledData>& b_;
};

// Fits one element of an individual fit, on the extended set when one is
// given and the element is small. The element's original values are saved
// before the delay is removed and put back exactly afterwards.
bool FitElement(FitterState& state, int i, int j, std::unique_ptr<SampledData>& extended) {
  state.fit.row = i;
  state.fit.column = j;
  runlog::Write("\n*** Matrix component (", i + 1, ",", j + 1, ") is being fitted ***\n");

  const bool useExtended =
      extended != nullptr && LargestMagnitude(*state.data, i, j) < kExtendThreshold;
  if (useExtended) PrepareExtendedElement(*state.data, *extended, i, j);
  std::optional<DataSwap> swap;
  if (useExtended) swap.emplace(state.data, extended);
  SampledData* fitted = state.data.get();

  std::vector<Complex> saved;
  double tau = 0.0;
  if (state.settings.extractDelays) {
    saved.reserve(fitted->points().size());
    for (const PortMatrix& p : fitted->points()) saved.push_back(p.Get(i, j));
    tau = EstimateDelay(state, i, j);
    ApplyDelay(state, i, j, tau, true);
  }

  const double step = state.fit.progressStep;
  const double start = state.progress;
  bool ok = PlaceStartingPoles(state) && SolveSigmaSystem(state);
  if (ok) SetProgress(state, start + step);
  ok = ok && FindCPols(state);
  const bool residues = ok && IdentifyResidues(state);
  if (residues) SetProgress(state, start + 2.0 * step);
  runlog::Write("\nmean error(", i + 1, ",", j + 1,
                ")=", ModelEntry(state, state.model->rmsError, i, j), "\n", "tol  error(", i + 1,
                ",", j + 1, ")=", ModelEntry(state, state.model->maxError, i, j), "\n");
  if (residues) CommitPoles(state);

  if (state.settings.extractDelays) {
    // Put the element's values back as they were (the backward rotation,
    // without its rounding).
    std::size_t k = 0;
    for (PortMatrix& p : fitted->points()) {
      p.Set(i, j, saved[k]);
      if (state.symmetric) p.Set(j, i, saved[k]);
      ++k;
    }
    runlog::Write("extracted delay(", i + 1, ",", j + 1, ") = ", tau, "\n");
  }
  runlog::Stream().flush();
  state.fit.working.clear();
  return residues;
}

bool FitCommonPoles(FitterState& state) {
  state.fit.progressStep = 0.5;
  bool ok = PlaceStartingPoles(state) && SolveSigmaSystem(state);
  if (ok) SetProgress(state, 0.5);
  ok = ok && FindCPols(state);
  const bool residues = ok && IdentifyResidues(state);
  if (residues) SetProgress(state, 1.0);
  const int n = state.portCount;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      runlog::Write("mean error(", i + 1, ",", j + 1,
                    ")=", ModelEntry(state, state.model->rmsError, i, j), "\n");
    }
  }
  if (residues) CommitPoles(state);
  state.fit.working.clear();
  runlog::WriteFlushed(runlog::Timestamp(), "\n");
  return residues;
}

}  // namespace

SampledData ExtendBand(const SampledData& data) {
  SampledData extended(1);
  const auto& points = data.points();
  for (const PortMatrix& p : points) {
    PortMatrix q(1);
    q.set_frequency(p.frequency());
    extended.Append(std::move(q));
  }
  const int npts = static_cast<int>(points.size());
  if (npts < 2) return extended;
  const double fFirst = points.front().frequency();
  const double fLast = points.back().frequency();
  const double fPrev = points[npts - 2].frequency();
  const double reach = fLast + 10.0 * (fLast - fFirst);
  const double k = std::floor(10.0 * (fLast - fFirst) / (fLast - fPrev));
  auto add = [&](double f) {
    PortMatrix q(1);
    q.set_frequency(f);
    extended.Append(std::move(q), true);
  };
  if (2.0 * k <= npts) {
    for (int m = 1; m <= static_cast<int>(k); ++m) add(fLast + m * (fLast - fPrev));
  } else {
    const int count = npts / 2;
    const double x = reach / fLast;
    for (int m = 1; m <= count; ++m) add(fLast * std::pow(x, static_cast<double>(m) / count));
  }
  return extended;
}

bool FitAll(FitterState& state) {
  ClearModel(state);
  DataRestorer restorer(state);

  // Point limit: fit on the first points the working set can hold.
  const long long maxRows = state.work.max_rows();
  if (maxRows < 2LL * state.data->point_count() + 2) {
    runlog::Write(
        "\n*** Touchstone file contains more points than allowed by parameter setting ***\n",
        "\n*** Extra points will be ignored during fitting ***\n");
    restorer.Replace(
        std::make_unique<SampledData>(state.data->CopyFirst(static_cast<int>(maxRows / 2 - 1))));
  }
  SetProgress(state, 0.0);

  bool ok = true;
  if (!state.settings.individualPoles) {
    ok = FitCommonPoles(state);
  } else {
    const bool extendedFit = state.settings.extendedFit;
    ExtendedFitScope scope(state, extendedFit);
    std::unique_ptr<SampledData> extended;
    if (extendedFit) extended = std::make_unique<SampledData>(ExtendBand(*state.data));
    const int n = state.portCount;
    const long long count = state.symmetric ? 1LL * n * (n + 1) / 2 : 1LL * n * n;
    state.fit.progressStep = count > 0 ? 0.5 / static_cast<double>(count) : 0.0;
    for (int i = 0; i < n && ok; ++i) {
      if (Cancelled(state)) return false;
      for (int j = 0; j < n && ok; ++j) {
        if (state.symmetric && j > i) break;
        ok = FitElement(state, i, j, extended);
      }
    }
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        runlog::Write("mean(", i + 1, ",", j + 1,
                      ")=", ModelEntry(state, state.model->rmsError, i, j), "\n");
      }
    }
  }
  SetProgress(state, 0.0);
  if (!ok) {
    state.error.Record(ErrorCode::kFitFailed);
    return false;
  }
  return true;
}

int Fit(FitterState& state) {
  if (state.data == nullptr) return state.error.Record(ErrorCode::kNoDataToFit);
  // Values that are not numbers (a type conversion leaves them where a
  // matrix has no image) would fill the model with them; the model held so
  // far stays.
  if (!AllFinite(*state.data)) return state.error.Record(ErrorCode::kInconsistentData);
  if (state.settings.prepareSData && state.dataType == kS && state.elements != nullptr) {
    // An ideal N-way junction at DC: (2 - N) / N on the diagonal, 2 / N off it.
    const int n = state.portCount;
    const bool symmetric = state.data->relative_asymmetry() < state.settings.symmetryTolerance;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const double value = i == j ? (2.0 - n) / n : 2.0 / n;
        state.elements->SetDcOption(0, i, j, value, symmetric);
      }
    }
  }
  runlog::WriteFlushed(" Fitting start: ", runlog::Timestamp(), "\n");
  const bool ok = FitAll(state);
  runlog::WriteFlushed(" Fitting   end: ", runlog::Timestamp(), "\n");
  return ok ? 1 : 0;
}

}  // namespace cfit
