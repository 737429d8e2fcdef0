// What the HTML fit report shows, read from a fitter through the library's
// operations: the run, the accuracy summary, data and model of chosen
// elements, the passivity curves, the poles and the step responses.
#ifndef CFIT_TOOLS_CFIT_REPORT_DATA_H
#define CFIT_TOOLS_CFIT_REPORT_DATA_H

#include <cfit/cfit.h>

#include <complex>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "passivity_report.h"
#include "summary.h"

namespace cfit_tool {

// Data and model of one matrix element at the sampled points (no data when
// the report is of a model alone; then `frequencies` is a grid of its own).
struct ElementCurves {
  int i = 0, j = 0;
  std::vector<double> frequencies;
  std::vector<std::complex<double>> data;
  std::vector<std::complex<double>> model;
};

// A passivity measure over frequency, with the bands where it exceeds 1.
struct MeasureCurve {
  std::string label;
  bool known = false;
  std::vector<double> frequencies;
  std::vector<double> measures;
  double atInfinity = -1.0;  // the model sweep's value towards infinite frequency
  std::vector<ViolationBand> bands;
};

struct StepCurve {
  int i = 0;
  std::vector<double> values;
};

// The poles of the model's elements, as s / (2 pi) in hertz (stable poles
// have a negative real part), with duplicates of common poles removed.
struct PolePoint {
  double re = 0.0, im = 0.0;
};

struct ReportData {
  std::string title;                                     // the input's file name
  std::vector<std::pair<std::string, std::string>> run;  // label, value
  int dataType = 1;                                      // the library's code: 1 S, 2 Y, 3 Z
  bool hasData = false;
  FitSummary summary;  // with `measured` false when there are no data
  double bandLow = 0.0, bandHigh = 0.0;
  std::vector<ElementCurves> elements;  // the plotted ones, worst first
  std::vector<MeasureCurve> passivity;
  std::vector<PolePoint> poles;
  std::size_t poleCount = 0;  // before duplicates were removed
  std::vector<double> stepTimes;
  std::vector<StepCurve> steps;
};

// The measure curve of the model (`model` true) or of the data, from the
// library's margin lists.
MeasureCurve ReadMeasureCurve(cFitAPI& fitter, bool model, const std::string& label);

// Fills the summary, the curves, the poles and the step responses from the
// fitter, which holds a model and, when `summary.measured`, its data; the
// caller fills the run and the passivity curves. `frequencies` are the points
// the curves are taken at.
void ReadModelPictures(cFitAPI& fitter, const FitSummary& summary,
                       const std::vector<double>& frequencies, ReportData* report);

// Indices of the points to keep when drawing the series `ys` over `x` with
// about `budget` points: all when there are no more, otherwise per bucket of
// consecutive points its first and last point and the smallest and largest
// value of every series, so that peaks and notches survive.
std::vector<std::size_t> DecimationIndices(const std::vector<double>& x,
                                           const std::vector<const std::vector<double>*>& ys,
                                           std::size_t budget);

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_REPORT_DATA_H
