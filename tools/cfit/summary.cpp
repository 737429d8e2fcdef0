#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common.h"

namespace cfit_tool {

FitSummary MeasureFit(cFitAPI& fitter) {
  FitSummary s;
  s.ports = fitter.GetPortCount();
  s.type = TypeLetter(fitter.GetDataType());
  s.symmetric = fitter.IsSymmetric();
  for (int i = 0; i < s.ports; ++i) {
    for (int j = 0; j < s.ports; ++j) {
      if (s.symmetric && j > i) continue;
      ElementFit e;
      e.i = i;
      e.j = j;
      int count = 0;
      double constant = 0.0, proportional = 0.0, delay = 0.0;
      if (fitter.GetElementModelInfo(i, j, &count, &constant, &proportional, &delay) != 0) {
        e.poles = count;
        e.delay = delay;
        e.hasDelay = true;
      }
      s.elements.push_back(e);
    }
  }

  std::vector<double> squares(s.elements.size(), 0.0);
  s.measured = true;
  for (DataPointRecord* r = fitter.GetFirstDataPoint(); r != nullptr && s.measured;
       r = fitter.GetNextDataPoint()) {
    if (s.points == 0) s.firstFrequency = r->frequency;
    s.lastFrequency = r->frequency;
    ++s.points;
    for (std::size_t k = 0; k < s.elements.size(); ++k) {
      ElementFit& e = s.elements[k];
      double model[2];
      if (fitter.EvaluateModelElement(e.i, e.j, r->frequency, model) == 0) {
        s.measured = false;
        break;
      }
      const double* data = &r->values[e.i][2 * e.j];
      const double deviation = std::hypot(model[0] - data[0], model[1] - data[1]);
      squares[k] += deviation * deviation;
      if (!(deviation <= e.largest)) {  // also keeps a NaN deviation visible
        e.largest = deviation;
        e.largestAt = r->frequency;
      }
    }
  }
  if (s.points == 0) s.measured = false;
  for (std::size_t k = 0; k < s.elements.size() && s.measured; ++k) {
    s.elements[k].rms = std::sqrt(squares[k] / static_cast<double>(s.points));
  }
  return s;
}

const ElementFit* WorstElement(const FitSummary& summary) {
  if (!summary.measured || summary.elements.empty()) return nullptr;
  const ElementFit* worst = &summary.elements.front();
  for (const ElementFit& e : summary.elements) {
    if (e.largest > worst->largest || std::isnan(e.largest)) worst = &e;
  }
  return worst;
}

std::string SummaryText(const FitSummary& s, bool allElements) {
  std::string out;
  char line[160];
  std::snprintf(line, sizeof line, "%d-port %c model, %zu points from %s to %s%s\n", s.ports,
                s.type, s.points, FormatFrequency(s.firstFrequency).c_str(),
                FormatFrequency(s.lastFrequency).c_str(),
                s.symmetric && s.ports > 1 ? "; symmetric, lower triangle shown" : "");
  out += line;

  std::vector<const ElementFit*> shown;
  for (const ElementFit& e : s.elements) shown.push_back(&e);
  const bool cut = !allElements && shown.size() > 16 && s.measured;
  if (cut) {
    std::stable_sort(shown.begin(), shown.end(), [](const ElementFit* a, const ElementFit* b) {
      return a->largest > b->largest;
    });
    shown.resize(10);
  }

  std::snprintf(line, sizeof line, "  %-9s %6s  %-12s %-10s %-10s %s\n", "element", "poles",
                "delay", "rms error", "max error", "at");
  out += line;
  for (const ElementFit* e : shown) {
    const std::string poles = e->poles >= 0 ? std::to_string(e->poles) : "-";
    const std::string delay = e->hasDelay ? FormatTime(e->delay) : "-";
    const std::string rms = s.measured ? FormatNumber(e->rms) : "-";
    const std::string largest = s.measured ? FormatNumber(e->largest) : "-";
    const std::string at = s.measured ? FormatFrequency(e->largestAt) : "-";
    std::snprintf(line, sizeof line, "  %-9s %6s  %-12s %-10s %-10s %s\n",
                  ElementName(s.type, s.ports, e->i, e->j).c_str(), poles.c_str(), delay.c_str(),
                  rms.c_str(), largest.c_str(), at.c_str());
    out += line;
  }
  if (cut) {
    out += "  (the 10 worst of " + std::to_string(s.elements.size()) +
           " elements; --all-elements lists every one, the log file has them all)\n";
  }
  if (const ElementFit* worst = WorstElement(s)) {
    out += "worst element: " + ElementName(s.type, s.ports, worst->i, worst->j) + ", max error " +
           FormatNumber(worst->largest) + " at " + FormatFrequency(worst->largestAt) + " (rms " +
           FormatNumber(worst->rms) + ")\n";
  } else {
    out += "the model could not be compared with the data\n";
  }
  return out;
}

}  // namespace cfit_tool
