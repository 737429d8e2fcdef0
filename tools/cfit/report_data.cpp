#include "report_data.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>

#include "common.h"

namespace cfit_tool {

namespace {

// Elements beyond the diagonal that get plots of their own in a large model.
constexpr std::size_t kWorstPlotted = 8;
// The model sweep's stand-in for infinite frequency.
constexpr double kInfinity = 1e25;
constexpr int kStepPoints = 800;

// The elements to plot: every held one up to 4 ports, otherwise the worst
// few and the diagonal; worst first when the model was compared with data.
std::vector<const ElementFit*> PlottedElements(const FitSummary& s) {
  std::vector<const ElementFit*> all;
  for (const ElementFit& e : s.elements) all.push_back(&e);
  if (s.measured) {
    std::stable_sort(all.begin(), all.end(), [](const ElementFit* a, const ElementFit* b) {
      return a->largest > b->largest;
    });
  }
  if (s.ports <= 4) return all;
  std::vector<const ElementFit*> chosen;
  for (std::size_t k = 0; k < all.size(); ++k) {
    if ((s.measured && k < kWorstPlotted) || all[k]->i == all[k]->j) chosen.push_back(all[k]);
  }
  return chosen;
}

void ReadPoles(cFitAPI& fitter, const FitSummary& s, ReportData* report) {
  std::set<std::pair<float, float>> seen;  // near-equal poles are drawn once
  for (const ElementFit& e : s.elements) {
    int count = 0;
    if (fitter.GetElementModelInfo(e.i, e.j, &count, nullptr, nullptr, nullptr) == 0 ||
        count <= 0) {
      continue;
    }
    std::vector<double> poles(2 * static_cast<std::size_t>(count));
    std::vector<double> residues(poles.size());
    if (fitter.GetElementPolesResidues(e.i, e.j, poles.data(), residues.data()) != count) continue;
    for (int k = 0; k < count; ++k) {
      // A term holds P with H = R / (1 + j f / P): its pole is s / (2 pi) = -P,
      // and a pair held once stands for the pole and its conjugate.
      const double re = -poles[2 * k];
      const double im = std::abs(poles[2 * k + 1]);
      report->poleCount += im != 0.0 ? 2 : 1;
      if (!seen.insert({static_cast<float>(re), static_cast<float>(im)}).second) continue;
      report->poles.push_back({re, im});
      if (im != 0.0) report->poles.push_back({re, -im});
    }
  }
}

// A time grid that shows the slowest pole of the diagonal settle: from 0 to
// the largest delay plus six of its time constants.
double StepEnd(cFitAPI& fitter, int ports) {
  double delay = 0.0, slowest = 0.0, fastest = 0.0;
  for (int i = 0; i < ports; ++i) {
    int count = 0;
    double tau = 0.0;
    if (fitter.GetElementModelInfo(i, i, &count, nullptr, nullptr, &tau) == 0) continue;
    delay = std::max(delay, tau);
    std::vector<double> poles(2 * static_cast<std::size_t>(std::max(count, 0)));
    std::vector<double> residues(poles.size());
    if (count <= 0 || fitter.GetElementPolesResidues(i, i, poles.data(), residues.data()) != count)
      continue;
    for (int k = 0; k < count; ++k) {
      const double damping = poles[2 * k];
      if (!(damping > 0.0)) continue;
      slowest = slowest == 0.0 ? damping : std::min(slowest, damping);
      fastest = std::max(fastest, damping);
    }
  }
  if (slowest == 0.0) return 2.0 * delay + 1e-9;
  // A very slow pole next to fast ones would leave the edge invisible; the
  // window is held to a thousand of the fastest time constants.
  slowest = std::max(slowest, fastest * 1e-3);
  return delay + 6.0 / (2.0 * std::numbers::pi * slowest);
}

// The unit step responses of the diagonal on a grid from 0 to `end`; false
// when the library cannot give one.
bool SampleSteps(cFitAPI& fitter, int ports, double end, int points, ReportData* report) {
  TimeResponseParameters params;
  params.kind = 1;
  params.startTime = 0.0;
  params.endTime = end;
  params.timeStep = end / (points - 1);
  report->stepTimes.clear();
  report->steps.clear();
  for (int k = 0; k < points; ++k) report->stepTimes.push_back(k * params.timeStep);
  for (int i = 0; i < ports; ++i) {
    StepCurve curve{i, {}};
    for (const double t : report->stepTimes) {
      double value = 0.0, diracTime = 0.0, diracWeight = 0.0;
      if (fitter.GetTimeResponse(params, t, &value, &diracTime, &diracWeight, i, i) == 0) break;
      curve.values.push_back(value);
    }
    if (curve.values.size() != report->stepTimes.size()) return false;
    report->steps.push_back(curve);
  }
  return true;
}

// The last time any response is further than 0.5 % of its swing from its
// final value.
double SettlingTime(const ReportData& report) {
  double settled = 0.0;
  for (const StepCurve& c : report.steps) {
    const double final = c.values.back();
    const auto [low, high] = std::minmax_element(c.values.begin(), c.values.end());
    const double tolerance = 0.005 * (*high - *low);
    for (std::size_t k = c.values.size(); k-- > 0;) {
      if (std::abs(c.values[k] - final) > tolerance) {
        settled = std::max(settled, report.stepTimes[std::min(k + 1, c.values.size() - 1)]);
        break;
      }
    }
  }
  return settled;
}

void ReadSteps(cFitAPI& fitter, int ports, ReportData* report) {
  // A window long enough for the slowest pole, then one cut to where the
  // responses have settled, so that the edges are not squeezed against the
  // left axis by a slow tail of small weight.
  const double end = StepEnd(fitter, ports);
  if (!SampleSteps(fitter, ports, end, 4 * kStepPoints, report)) return;
  const double settled = SettlingTime(*report);
  const double cut = settled > 0.0 ? std::min(end, 1.5 * settled) : end;
  if (!SampleSteps(fitter, ports, cut, kStepPoints, report)) report->steps.clear();
}

}  // namespace

MeasureCurve ReadMeasureCurve(cFitAPI& fitter, bool model, const std::string& label) {
  MeasureCurve c;
  c.label = label;
  c.known = (model ? fitter.GetModelPassivityMargins() : fitter.GetDataPassivityMargins()) != 0;
  if (!c.known) return c;
  const int type = fitter.GetDataType();
  double frequency = 0.0, margin = 0.0;
  for (int more = model ? fitter.GetFirstModelMargin(&frequency, &margin)
                        : fitter.GetFirstDataMargin(&frequency, &margin);
       more != 0; more = model ? fitter.GetNextModelMargin(&frequency, &margin)
                               : fitter.GetNextDataMargin(&frequency, &margin)) {
    const double measure = MeasureOfMargin(margin, type);
    if (frequency >= kInfinity) {
      c.atInfinity = measure;
      continue;
    }
    c.frequencies.push_back(frequency);
    c.measures.push_back(measure);
  }
  c.bands = BandsOf(c.frequencies, c.measures, 1.0);
  return c;
}

void ReadModelPictures(cFitAPI& fitter, const FitSummary& summary,
                       const std::vector<double>& frequencies, ReportData* report) {
  report->summary = summary;
  report->dataType = fitter.GetDataType();
  report->hasData = summary.measured;
  for (const ElementFit* e : PlottedElements(summary)) {
    ElementCurves c;
    c.i = e->i;
    c.j = e->j;
    c.frequencies = frequencies;
    for (const double f : frequencies) {
      double v[2] = {NAN, NAN};
      fitter.EvaluateModelElement(e->i, e->j, f, v);
      c.model.emplace_back(v[0], v[1]);
    }
    report->elements.push_back(std::move(c));
  }
  if (summary.measured) {
    for (DataPointRecord* r = fitter.GetFirstDataPoint(); r != nullptr;
         r = fitter.GetNextDataPoint()) {
      for (ElementCurves& c : report->elements) {
        c.data.emplace_back(r->values[c.i][2 * c.j], r->values[c.i][2 * c.j + 1]);
      }
    }
  }
  ReadPoles(fitter, summary, report);
  ReadSteps(fitter, summary.ports, report);
}

std::vector<std::size_t> DecimationIndices(const std::vector<double>& x,
                                           const std::vector<const std::vector<double>*>& ys,
                                           std::size_t budget) {
  std::vector<std::size_t> keep;
  const std::size_t n = x.size();
  const std::size_t perBucket = 2 + 2 * ys.size();
  if (n <= budget || budget < perBucket) {
    for (std::size_t k = 0; k < n; ++k) keep.push_back(k);
    return keep;
  }
  const std::size_t buckets = budget / perBucket;
  for (std::size_t b = 0; b < buckets; ++b) {
    const std::size_t from = b * n / buckets;
    const std::size_t to = (b + 1) * n / buckets;  // exclusive
    if (from >= to) continue;
    std::vector<std::size_t> picks = {from, to - 1};
    for (const std::vector<double>* y : ys) {
      std::size_t low = from, high = from;
      for (std::size_t k = from; k < to; ++k) {
        // NaN gaps are kept as they are: a comparison with NaN is false.
        if ((*y)[k] < (*y)[low] || std::isnan((*y)[low])) low = k;
        if ((*y)[k] > (*y)[high] || std::isnan((*y)[high])) high = k;
      }
      picks.push_back(low);
      picks.push_back(high);
    }
    std::sort(picks.begin(), picks.end());
    picks.erase(std::unique(picks.begin(), picks.end()), picks.end());
    keep.insert(keep.end(), picks.begin(), picks.end());
  }
  return keep;
}

}  // namespace cfit_tool
