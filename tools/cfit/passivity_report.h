// Passivity read-outs shared by fit, info and check: the largest passivity
// measure of data or model, the stretches of frequency where it exceeds a
// threshold, the accuracy matrices around an enforcement and the text the
// commands print for them.
#ifndef CFIT_TOOLS_CFIT_PASSIVITY_REPORT_H
#define CFIT_TOOLS_CFIT_PASSIVITY_REPORT_H

#include <cfit/cfit.h>

#include <string>
#include <vector>

#include "api/passivity_operations.h"

namespace cfit_tool {

// The library's largest passivity measure and where it occurs. The measure is
// the square of the largest singular value for S, and 1 minus the smallest
// eigenvalue of the Hermitian part for Y or Z (floored at 0); the network is
// passive where it is at most 1.
struct PassivityReading {
  bool known = false;  // false when the library could not measure
  double measure = 0.0;
  double frequency = 0.0;
  std::string failure;  // the library's message when not known
};

PassivityReading CheckData(cFitAPI& fitter);
PassivityReading CheckModel(cFitAPI& fitter);

// A measure with enough digits that a value just above or below 1 does not
// print as "1".
std::string FormatMeasure(double measure);

// A frequency for a passivity report; the library's stand-in for infinite
// frequency (1e25 Hz) reads "infinite frequency".
std::string FormatSweepFrequency(double hertz);

// What the measure is for a data type, for help and reports.
std::string MeasureMeaning(int dataType);

// "largest measure 1.03541 at 0 Hz (not passive)", judged against `threshold`.
std::string ReadingText(const PassivityReading& reading, double threshold);

// A stretch of the swept frequencies where the measure exceeds the threshold:
// from its first to its last violating point, with its peak.
struct ViolationBand {
  double from = 0.0, to = 0.0;
  double peak = 0.0, peakAt = 0.0;
};

// The bands of the model margin list (`model` true) or of the data margin
// list, which the call rebuilds; margins are turned back into measures for
// `dataType` and compared with `threshold`. `known` is cleared when the
// library cannot build the list.
std::vector<ViolationBand> ViolationBands(cFitAPI& fitter, bool model, int dataType,
                                          double threshold, bool* known);

// The same for a measure curve given point by point.
std::vector<ViolationBand> BandsOf(const std::vector<double>& frequencies,
                                   const std::vector<double>& measures, double threshold);

// The measure a margin of the library's lists stands for.
double MeasureOfMargin(double margin, int dataType);

// The model's deviation from the data as the library measures it
// (GetEnforcedAccuracy), reduced to an overall RMS over every element and
// point and the element with the largest deviation.
struct AccuracyFigures {
  bool known = false;
  double rms = 0.0;      // RMS over all N x N elements and points
  double largest = 0.0;  // largest deviation of any element
  int i = 0, j = 0;      // the element where it occurs, 0-based
};

AccuracyFigures MeasureAccuracy(cFitAPI& fitter);

// "rms 5.41e-04, largest 1.2e-03 (S21)".
std::string AccuracyText(const AccuracyFigures& figures, char type, int ports);

// The sampled values of every element at every point, in order, for
// measuring how much an operation changed them.
struct DataSnapshot {
  std::vector<double> frequencies;
  std::vector<double> values;  // per point N x N pairs (real, imaginary)
};

DataSnapshot TakeSnapshot(cFitAPI& fitter);

// Largest change of any element (the lower triangle of symmetric data)
// between a snapshot and the fitter's data now.
struct DataChange {
  bool known = false;  // false when the points no longer line up
  double largest = 0.0;
  double at = 0.0;
  int i = 0, j = 0;
};

DataChange CompareWithSnapshot(cFitAPI& fitter, const DataSnapshot& before);

// The exact certificate of the fitter's model and its enforcement by
// residue perturbation, from the engine (api/passivity_operations.h).
using CertificateReading = cfit::FitterCertificate;
using cfit::CertificateOrderOf;
using cfit::CertifyFitterModel;
using cfit::EnforceByPerturbation;
using cfit::PerturbationOutcome;

// "passive (exact: ...)" or "not passive, 2 bands: ..." on one line, then
// one line per band (up to `listed`) indented by two spaces.
std::string CertificateText(const CertificateReading& reading, std::size_t listed);

// Whether the certificate of the fitter's model is beyond what runs in
// seconds.
bool CertificateTooLarge(cFitAPI& fitter);

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_PASSIVITY_REPORT_H
