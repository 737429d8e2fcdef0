// The accuracy summary printed after a fit: per matrix element the pole
// count, the delay, and the RMS and largest deviation of the model from the
// sampled data, with the worst element named.
#ifndef CFIT_TOOLS_CFIT_SUMMARY_H
#define CFIT_TOOLS_CFIT_SUMMARY_H

#include <cfit/cfit.h>

#include <cstddef>
#include <string>
#include <vector>

namespace cfit_tool {

struct ElementFit {
  int i = 0, j = 0;  // 0-based
  int poles = -1;    // -1 when the library cannot tell
  double delay = 0.0;
  bool hasDelay = false;   // false when the library cannot tell
  double rms = 0.0;        // RMS of |model - data| over the sampled points
  double largest = 0.0;    // largest |model - data|
  double largestAt = 0.0;  // frequency of the largest deviation
};

struct FitSummary {
  int ports = 0;
  char type = '?';
  bool symmetric = false;
  std::size_t points = 0;
  double firstFrequency = 0.0, lastFrequency = 0.0;
  bool measured = false;             // the model could be evaluated at every point
  std::vector<ElementFit> elements;  // lower triangle only when symmetric
};

// Compares the fitter's model with its sampled data (which must both be
// present); call it before a sweep replaces the data.
FitSummary MeasureFit(cFitAPI& fitter);

// The element with the largest deviation (null when nothing was measured).
const ElementFit* WorstElement(const FitSummary& summary);

// The summary as text. With more than 16 elements and `allElements` false
// only the ten worst are listed.
std::string SummaryText(const FitSummary& summary, bool allElements);

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_SUMMARY_H
