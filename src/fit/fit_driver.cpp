#include "fit/fit_driver.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "fit/delay.h"
#include "fit/pole_identification.h"
#include "io/run_log.h"

namespace cfit {

namespace {

// An element whose values stay below this is small enough that its roll-off
// above the band is poorly determined by the samples; an extended fit gives
// it added points that continue its last value with a first-order roll-off.
constexpr double kExtendThreshold = 0.6;

// Notes the failure's code (if any) as the fit's first failure unless one
// is noted already.
template <class T>
bool Check(FitReport& report, const Result<T>& result) {
  if (!result.ok() && result.failure().code.has_value() && !report.firstFailure.has_value()) {
    report.firstFailure = *result.failure().code;
  }
  return result.ok();
}

// A fresh model of N x N zero tables with the given pole shape.
void ClearModel(FitterState& state, PoleShape shape) {
  auto model = std::make_unique<Model>();
  const int n = state.network.portCount;
  const std::size_t nn = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  model->n = n;
  model->shape = shape;
  model->elementPoles.assign(nn, PoleList{});
  model->constant.assign(nn, 0.0);
  model->proportional.assign(nn, 0.0);
  model->delay.assign(nn, 0.0);
  model->rmsError.assign(nn, 0.0);
  model->maxError.assign(nn, 0.0);
  state.model = std::move(model);
  state.workspace.fit.working.clear();
}

// The pole limits of one fit, taken from the fitter and handed back on every
// way out of the fit.
class CarriedLimits {
 public:
  explicit CarriedLimits(FitterState& state)
      : context_(state.workspace.fit), setting_(state.settings.poleRatioBound) {
    limits.workingQLimit = context_.workingQLimit;
    limits.poleRatioBound = context_.poleRatioBound.value_or(setting_);
  }
  ~CarriedLimits() {
    context_.workingQLimit = limits.workingQLimit;
    if (limits.poleRatioBound != setting_) context_.poleRatioBound = limits.poleRatioBound;
  }
  CarriedLimits(const CarriedLimits&) = delete;
  CarriedLimits& operator=(const CarriedLimits&) = delete;

  PoleLimits limits;

 private:
  FitContext& context_;
  double setting_;
};

double LargestElementMagnitude(ConstPointRange points, int i, int j) {
  double largest = 0.0;
  for (ConstMatrixView p : points) largest = std::max(largest, Abs(p.At(i, j)));
  return largest;
}

FitSeries ElementSeries(ConstPointRange points, int i, int j) {
  FitSeries series;
  series.frequency.reserve(points.size());
  series.value.reserve(points.size());
  for (ConstMatrixView p : points) {
    series.frequency.push_back(p.frequency());
    series.value.push_back(p.At(i, j));
  }
  series.sampled = series.size();
  return series;
}

// Element (i, j) on the extended band: its values at the sampled
// frequencies, and above the band a first-order roll-off from its last
// value.
FitSeries ExtendedElementSeries(const FitSeries& band, ConstPointRange points, int i, int j) {
  FitSeries series = band;
  if (points.empty()) return series;
  const double fFirst = points.front().frequency();
  const double fLast = points.back().frequency();
  const Complex vLast = points.back().At(i, j);
  const double w = fLast + 6.0 * (fLast - fFirst);
  for (int k = 0; k < series.size(); ++k) {
    if (k < static_cast<int>(points.size())) {
      series.value[k] = points[k].At(i, j);
    } else {
      series.value[k] =
          vLast / (Complex(1.0, 0.0) + Complex(0.0, (series.frequency[k] - fLast) / w));
    }
  }
  return series;
}

// Options every fit of this fitter shares.
FitOptions CommonOptions(const FitterState& state) {
  const Settings& s = state.settings;
  FitOptions o;
  o.passivity = s.passivity;
  o.dataType = state.network.dataType;
  o.timeStep = s.timeStep;
  o.pivoting = state.workspace.fit.pivoting;
  o.extendedFit = s.extendedFit;
  o.callerBand = s.callerBand;
  o.lowerBandFrequency = s.lowerBandFrequency;
  o.upperBandFrequency = s.upperBandFrequency;
  return o;
}

// The element table's entries of (i, j): asymptote mode, DC constraint, fixed
// constant and DC value (unset entries as the table reports them).
struct ElementEntries {
  int asymptoteMode = kConstant;
  bool dcConstrained = false;
  double fixedConstant = 0.0;
  double dcValue = kUnset;
};

ElementEntries EntriesOf(const FitterState& state, int i, int j) {
  ElementEntries e;
  if (state.network.elements == nullptr) return e;
  const ElementTable& t = *state.network.elements;
  e.asymptoteMode = t.AsymptoteModeAt(i, j, i, j);
  e.dcConstrained = t.DcFlagAt(i, j, i, j) == 0;
  const double constant = t.ConstantValueAt(i, j, i, j);
  e.fixedConstant = constant == kUnset ? 0.0 : constant;
  e.dcValue = t.DcValueAt(i, j, i, j);
  return e;
}

// The value a DC-constrained quantity must take at 0 Hz: the table's entry
// when set, else the real part of a 0 Hz sample, else 0.
double DcValue(double tableEntry, const std::vector<double>& frequency,
               std::span<const Complex> value) {
  if (tableEntry != kUnset) return tableEntry;
  if (!frequency.empty() && frequency[0] == 0.0) return value[0].re;
  return 0.0;
}

// Writes the residue fit of (i, j) into the model's tables, mirrored to
// (j, i) for a symmetric matrix. Constants and proportional terms add to
// the entries (zero in a fresh model).
void StoreFit(Model& model, bool symmetric, int i, int j, const ResidueFit& fit) {
  auto store = [&](std::vector<double>& table, double value, bool add) {
    auto put = [&](int r, int c) {
      double& slot = table[model.Index(r, c)];
      slot = add ? slot + value : value;
    };
    put(i, j);
    if (symmetric && i != j) put(j, i);
  };
  store(model.constant, fit.constant, true);
  store(model.proportional, fit.proportional, true);
  store(model.rmsError, fit.rmsError, false);
  store(model.maxError, fit.maxError, false);
}

double ModelEntry(const FitterState& state, const std::vector<double>& table, int i, int j) {
  return table[state.model->Index(i, j)];
}

// Fits element (i, j) of an individual fit, on the extended band when one
// is given and the element is small.
bool FitElement(FitterState& state, ConstPointRange points, int i, int j,
                const FitSeries* extendedBand, double step, PoleLimits& limits, FitReport& report,
                const RunContext& run, const PoleRelocation* relocate) {
  run.Write("\n*** Matrix component (", i + 1, ",", j + 1, ") is being fitted ***\n");
  Model& model = *state.model;
  const bool extended =
      extendedBand != nullptr && LargestElementMagnitude(points, i, j) < kExtendThreshold;
  FitSeries series =
      extended ? ExtendedElementSeries(*extendedBand, points, i, j) : ElementSeries(points, i, j);

  double tau = 0.0;
  if (state.settings.extractDelays) {
    const Result<double> estimate = EstimateDelay(series);
    if (Check(report, estimate)) {
      tau = *estimate;
      model.delay[model.Index(i, j)] = tau;
      if (state.network.symmetric) model.delay[model.Index(j, i)] = tau;
    }
    ApplyDelay(series, tau, true);
  }

  const ElementEntries entries = EntriesOf(state, i, j);
  FitOptions options = CommonOptions(state);
  options.asymptoteMode = entries.asymptoteMode;
  options.dcConstrained = entries.dcConstrained;
  options.delayRemoved = tau != 0.0;
  options.progressStep = step;
  options.keepSmallTerms = relocate != nullptr;
  ResidueTarget target;
  target.value = series.value;
  target.fixedConstant = entries.fixedConstant;
  target.dcValue = DcValue(entries.dcValue, series.frequency, series.value);

  // Until the residues are known, the element's maximum error holds the
  // largest modulus of what is fitted.
  if (series.size() >= 2) model.maxError[model.Index(i, j)] = LargestMagnitude(series.value);
  PoleList& working = state.workspace.fit.working;
  const Result<ResidueFit> fit = FitElementSeries(series, options, target, state.workspace.work,
                                                  limits, working, run, relocate);
  if (Check(report, fit)) StoreFit(model, state.network.symmetric, i, j, *fit);
  run.Write("\nmean error(", i + 1, ",", j + 1, ")=", ModelEntry(state, model.rmsError, i, j), "\n",
            "tol  error(", i + 1, ",", j + 1, ")=", ModelEntry(state, model.maxError, i, j), "\n");
  if (fit.ok()) {
    CommitPoles(working, model.elementPoles[model.Index(i, j)], limits.workingQLimit, options);
  }
  if (state.settings.extractDelays) {
    // Putting the delay back writes the element of a symmetric matrix to
    // both places, so the sampled data end exactly symmetric there (unless
    // the fit worked on a shortened or extended copy of them).
    const bool whole = points.size() == state.network.data->points().size();
    if (state.network.symmetric && i != j && whole && !extended) {
      for (MatrixView p : state.network.data->MutablePoints()) p.At(j, i) = p.At(i, j);
    }
    run.Write("extracted delay(", i + 1, ",", j + 1, ") = ", tau, "\n");
  }
  run.log().flush();
  working.clear();
  return fit.ok();
}

bool FitCommonPoles(FitterState& state, ConstPointRange points, PoleLimits& limits,
                    FitReport& report, const RunContext& run, const PoleRelocation* relocate) {
  const int n = state.network.portCount;
  Model& model = *state.model;
  FitOptions options = CommonOptions(state);
  if (state.network.elements != nullptr) {
    options.asymptoteMode = state.network.elements->AsymptoteModeAt(0, 0);
    options.dcConstrained = state.network.elements->DcFlagAt(0, 0) == 0;
  }
  options.residueOrder = n;
  options.progressStep = 0.5;
  options.keepSmallTerms = relocate != nullptr;

  // The quantity whose poles are common to all elements: the alternating
  // sum of the elements.
  FitSeries series;
  for (ConstMatrixView p : points) {
    Complex sum;
    for (int i = 0; i < p.order(); ++i) {
      for (int j = 0; j < p.order(); ++j) {
        if ((i + j) % 2 == 0) {
          sum += p.At(i, j);
        } else {
          sum -= p.At(i, j);
        }
      }
    }
    series.frequency.push_back(p.frequency());
    series.value.push_back(sum);
  }
  series.sampled = series.size();

  // Every element's values at the series' frequencies, element after
  // element in one block (the frequencies are the series' own), and the
  // first value of its maximum error.
  const std::size_t count = points.size();
  std::vector<Complex> values(static_cast<std::size_t>(n) * static_cast<std::size_t>(n) * count);
  std::vector<ResidueTarget> targets;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const std::span<Complex> element(values.data() + model.Index(i, j) * count, count);
      for (std::size_t k = 0; k < count; ++k) element[k] = points[k].At(i, j);
      if (series.size() >= 2) model.maxError[model.Index(i, j)] = LargestMagnitude(element);
      if (state.network.symmetric && j > i) continue;
      const ElementEntries entries = EntriesOf(state, i, j);
      ResidueTarget target;
      target.value = element;
      target.row = i;
      target.column = j;
      target.mirror = state.network.symmetric && i != j;
      target.fixedConstant = entries.fixedConstant;
      target.dcValue = DcValue(entries.dcValue, series.frequency, target.value);
      targets.push_back(target);
    }
  }

  PoleList& working = state.workspace.fit.working;
  bool ok = Check(report, PlaceStartingPoles(series, options, state.workspace.work.max_cols(),
                                             limits, working, run));
  if (relocate != nullptr) {
    ok = ok && Check(report, (*relocate)(series, targets, options, limits, state.workspace.work,
                                         working, run));
    if (ok) run.SetProgress(0.5);
  } else {
    ok = ok && Check(report, SolveSigmaSystem(series, options, state.workspace.work, working, run));
    if (ok) run.SetProgress(0.5);
    ok =
        ok && Check(report, FindCPols(series, options, limits, state.workspace.work, working, run));
  }
  Result<std::vector<ResidueFit>> fits = Failure::Silent();
  if (ok) {
    fits = IdentifyResidues(series, targets, options, state.workspace.work, working, run);
    Check(report, fits);
  }
  if (fits.ok()) {
    for (std::size_t t = 0; t < targets.size(); ++t) {
      StoreFit(model, state.network.symmetric, targets[t].row, targets[t].column, (*fits)[t]);
    }
    run.SetProgress(1.0);
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      run.Write("mean error(", i + 1, ",", j + 1, ")=", ModelEntry(state, model.rmsError, i, j),
                "\n");
    }
  }
  if (fits.ok()) CommitPoles(working, model.commonPoles, limits.workingQLimit, options);
  working.clear();
  run.WriteFlushed(runlog::Timestamp(), "\n");
  return fits.ok();
}

}  // namespace

Result<ResidueFit> FitElementSeries(const FitSeries& series, const FitOptions& options,
                                    const ResidueTarget& target, WorkingSet& work,
                                    PoleLimits& limits, PoleList& poles, const RunContext& run,
                                    const PoleRelocation* relocate) {
  const double start = run.progress();
  if (Status s = PlaceStartingPoles(series, options, work.max_cols(), limits, poles, run); !s) {
    return s.failure();
  }
  if (relocate != nullptr) {
    const Status s = (*relocate)(series, std::span<const ResidueTarget>(&target, 1), options,
                                 limits, work, poles, run);
    if (!s) return s.failure();
    run.SetProgress(start + options.progressStep);
  } else {
    if (Status s = SolveSigmaSystem(series, options, work, poles, run); !s) return s.failure();
    run.SetProgress(start + options.progressStep);
    if (Status s = FindCPols(series, options, limits, work, poles, run); !s) return s.failure();
  }
  Result<std::vector<ResidueFit>> fits = IdentifyResidues(
      series, std::span<const ResidueTarget>(&target, 1), options, work, poles, run);
  if (!fits) return fits.failure();
  run.SetProgress(start + 2.0 * options.progressStep);
  return fits->front();
}

FitSeries ExtendBand(ConstPointRange points) {
  FitSeries extended;
  for (ConstMatrixView p : points) extended.frequency.push_back(p.frequency());
  const int npts = static_cast<int>(points.size());
  extended.sampled = npts;
  if (npts >= 2) {
    const double fFirst = points.front().frequency();
    const double fLast = points.back().frequency();
    const double fPrev = points[npts - 2].frequency();
    const double reach = fLast + 10.0 * (fLast - fFirst);
    // Continue at the last sampling step when that takes few enough points;
    // otherwise spread half as many points as were sampled geometrically.
    const double k = std::floor(10.0 * (fLast - fFirst) / (fLast - fPrev));
    if (2.0 * k <= npts) {
      for (int m = 1; m <= static_cast<int>(k); ++m) {
        extended.frequency.push_back(fLast + m * (fLast - fPrev));
      }
    } else {
      const int count = npts / 2;
      const double x = reach / fLast;
      for (int m = 1; m <= count; ++m) {
        extended.frequency.push_back(fLast * std::pow(x, static_cast<double>(m) / count));
      }
    }
  }
  extended.value.assign(extended.frequency.size(), Complex());
  return extended;
}

FitReport FitAll(FitterState& state, const RunContext& run, const PoleRelocation* relocate) {
  FitReport report;
  const bool individual = state.settings.individualPoles;
  ClearModel(state, individual ? PoleShape::kIndividual : PoleShape::kCommon);
  CarriedLimits carried(state);

  // Point limit: fit on the first points the working set can hold.
  ConstPointRange points(state.network.data->points());
  const long long maxRows = state.workspace.work.max_rows();
  if (maxRows < 2LL * state.network.data->point_count() + 2) {
    run.Write("\n*** Touchstone file contains more points than allowed by parameter setting ***\n",
              "\n*** Extra points will be ignored during fitting ***\n");
    const long long kept = std::clamp<long long>(maxRows / 2 - 1, 0, points.size());
    points = points.first(static_cast<std::size_t>(kept));
  }
  run.SetProgress(0.0);

  bool ok = true;
  if (!individual) {
    ok = FitCommonPoles(state, points, carried.limits, report, run, relocate);
  } else {
    std::unique_ptr<FitSeries> extendedBand;
    if (state.settings.extendedFit) extendedBand = std::make_unique<FitSeries>(ExtendBand(points));
    const int n = state.network.portCount;
    const long long count = state.network.symmetric ? 1LL * n * (n + 1) / 2 : 1LL * n * n;
    // Every element advances the progress by two steps.
    const double step = count > 0 ? 0.5 / static_cast<double>(count) : 0.0;
    for (int i = 0; i < n && ok; ++i) {
      if (run.Cancelled()) return report;
      for (int j = 0; j < n && ok; ++j) {
        if (state.network.symmetric && j > i) break;
        ok = FitElement(state, points, i, j, extendedBand.get(), step, carried.limits, report, run,
                        relocate);
      }
    }
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        run.Write("mean(", i + 1, ",", j + 1, ")=", ModelEntry(state, state.model->rmsError, i, j),
                  "\n");
      }
    }
  }
  run.SetProgress(0.0);
  if (!ok && !report.firstFailure.has_value()) report.firstFailure = ErrorCode::kFitFailed;
  report.ok = ok;
  return report;
}

FitReport Fit(FitterState& state, const RunContext& run, const PoleRelocation* relocate) {
  if (state.settings.prepareSData && state.network.dataType == kS &&
      state.network.elements != nullptr) {
    // An ideal N-way junction at DC: (2 - N) / N on the diagonal, 2 / N off it.
    const int n = state.network.portCount;
    const bool symmetric =
        state.network.data->relative_asymmetry() < state.settings.symmetryTolerance;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const double value = i == j ? (2.0 - n) / n : 2.0 / n;
        state.network.elements->SetDcOption(0, i, j, value, symmetric);
      }
    }
  }
  run.WriteFlushed(" Fitting start: ", runlog::Timestamp(), "\n");
  const FitReport report = FitAll(state, run, relocate);
  run.WriteFlushed(" Fitting   end: ", runlog::Timestamp(), "\n");
  return report;
}

}  // namespace cfit
