#include "passivity_report.h"

#include <cmath>
#include <cstdio>

#include "common.h"
#include "passivity/passivity_certificate.h"

namespace cfit_tool {

namespace {

// The library sweeps a model up to this frequency to catch its value towards
// infinite frequency.
constexpr double kInfiniteFrequency = 1e25;

PassivityReading Reading(cFitAPI& fitter, bool model) {
  PassivityReading r;
  const int ok = model ? fitter.CheckModelPassivity(&r.measure, &r.frequency)
                       : fitter.CheckDataPassivity(&r.measure, &r.frequency);
  r.known = ok != 0 && std::isfinite(r.measure);
  if (!r.known) {
    r.failure = LibraryMessage(fitter);
    if (r.failure.empty()) r.failure = "the library gave no reason";
  }
  return r;
}

}  // namespace

// Margins are 1 - sqrt(m) for S data and 1 - m for Y or Z data.
double MeasureOfMargin(double margin, int dataType) {
  if (dataType == 1) return (1.0 - margin) * (1.0 - margin);
  return 1.0 - margin;
}

PassivityReading CheckData(cFitAPI& fitter) { return Reading(fitter, false); }

PassivityReading CheckModel(cFitAPI& fitter) { return Reading(fitter, true); }

std::string FormatMeasure(double measure) {
  char text[40];
  std::snprintf(text, sizeof text, "%.6g", measure);
  if (measure != 1.0 && std::string(text) == "1") {
    std::snprintf(text, sizeof text, "%.15g", measure);
  }
  return text;
}

std::string FormatSweepFrequency(double hertz) {
  if (hertz >= kInfiniteFrequency) return "infinite frequency";
  return FormatFrequency(hertz);
}

std::string MeasureMeaning(int dataType) {
  if (dataType == 1) return "the square of the largest singular value of S";
  return std::string("1 minus the smallest eigenvalue of the Hermitian part of ") +
         TypeLetter(dataType);
}

std::string ReadingText(const PassivityReading& reading, double threshold) {
  if (!reading.known) return "unknown (" + reading.failure + ")";
  return "largest measure " + FormatMeasure(reading.measure) + " at " +
         FormatSweepFrequency(reading.frequency) +
         (reading.measure <= threshold ? " (passive)" : " (not passive)");
}

std::vector<ViolationBand> ViolationBands(cFitAPI& fitter, bool model, int dataType,
                                          double threshold, bool* known) {
  std::vector<double> frequencies, measures;
  *known = (model ? fitter.GetModelPassivityMargins() : fitter.GetDataPassivityMargins()) != 0;
  if (!*known) return {};
  double frequency = 0.0, margin = 0.0;
  for (int more = model ? fitter.GetFirstModelMargin(&frequency, &margin)
                        : fitter.GetFirstDataMargin(&frequency, &margin);
       more != 0; more = model ? fitter.GetNextModelMargin(&frequency, &margin)
                               : fitter.GetNextDataMargin(&frequency, &margin)) {
    frequencies.push_back(frequency);
    measures.push_back(MeasureOfMargin(margin, dataType));
  }
  return BandsOf(frequencies, measures, threshold);
}

std::vector<ViolationBand> BandsOf(const std::vector<double>& frequencies,
                                   const std::vector<double>& measures, double threshold) {
  std::vector<ViolationBand> bands;
  bool inside = false;
  for (std::size_t k = 0; k < frequencies.size() && k < measures.size(); ++k) {
    const double frequency = frequencies[k];
    const double measure = measures[k];
    if (!(measure > threshold)) {
      inside = false;
      continue;
    }
    if (!inside) bands.push_back({frequency, frequency, measure, frequency});
    inside = true;
    ViolationBand& band = bands.back();
    band.to = frequency;
    if (measure > band.peak) {
      band.peak = measure;
      band.peakAt = frequency;
    }
  }
  return bands;
}

AccuracyFigures MeasureAccuracy(cFitAPI& fitter) {
  AccuracyFigures a;
  double** rms = nullptr;
  double** largest = nullptr;
  const int n = fitter.GetPortCount();
  if (n <= 0 || fitter.GetEnforcedAccuracy(&rms, &largest) == 0 || rms == nullptr ||
      largest == nullptr) {
    return a;
  }
  // A symmetric model names its elements by the lower triangle.
  const bool lower = fitter.IsSymmetric();
  double squares = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      squares += rms[i][j] * rms[i][j];
      if (lower && j > i) continue;
      if (largest[i][j] > a.largest || std::isnan(largest[i][j])) {
        a.largest = largest[i][j];
        a.i = i;
        a.j = j;
      }
    }
  }
  a.rms = std::sqrt(squares / (static_cast<double>(n) * n));
  a.known = true;
  return a;
}

std::string AccuracyText(const AccuracyFigures& figures, char type, int ports) {
  if (!figures.known) return "unknown";
  return "rms " + FormatNumber(figures.rms) + ", largest " + FormatNumber(figures.largest) + " (" +
         ElementName(type, ports, figures.i, figures.j) + ")";
}

DataSnapshot TakeSnapshot(cFitAPI& fitter) {
  DataSnapshot s;
  const int n = fitter.GetPortCount();
  for (DataPointRecord* r = fitter.GetFirstDataPoint(); r != nullptr;
       r = fitter.GetNextDataPoint()) {
    s.frequencies.push_back(r->frequency);
    for (int i = 0; i < n; ++i) s.values.insert(s.values.end(), r->values[i], r->values[i] + 2 * n);
  }
  return s;
}

DataChange CompareWithSnapshot(cFitAPI& fitter, const DataSnapshot& before) {
  DataChange c;
  const int n = fitter.GetPortCount();
  const bool lower = fitter.IsSymmetric();
  const std::size_t width = 2 * static_cast<std::size_t>(n) * n;
  std::size_t k = 0;
  for (DataPointRecord* r = fitter.GetFirstDataPoint(); r != nullptr;
       r = fitter.GetNextDataPoint(), ++k) {
    if (k >= before.frequencies.size() || r->frequency != before.frequencies[k]) return c;
    const double* old = &before.values[k * width];
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < (lower ? i + 1 : n); ++j) {
        const double* now = &r->values[i][2 * j];
        const double* was = &old[2 * (static_cast<std::size_t>(i) * n + j)];
        const double change = std::hypot(now[0] - was[0], now[1] - was[1]);
        if (change > c.largest || std::isnan(change)) {
          c.largest = change;
          c.at = r->frequency;
          c.i = i;
          c.j = j;
        }
      }
    }
  }
  c.known = k == before.frequencies.size();
  return c;
}

namespace {

std::string BandFrequency(double hertz) {
  return std::isinf(hertz) ? std::string("infinite frequency") : FormatSweepFrequency(hertz);
}

}  // namespace

std::string CertificateText(const CertificateReading& reading, std::size_t listed) {
  if (!reading.known) return "not computed (" + reading.failure + ")\n";
  std::string text = reading.passive ? "passive" : "not passive";
  if (reading.byMagnitudeBound) {
    return text + " (exact, from a bound on the response's size over all frequencies: below 1)\n";
  }
  text += std::string(" (exact, from the ") +
          (reading.halfSize ? "negative real eigenvalues of a half-size matrix of order "
                            : "imaginary eigenvalues of a Hamiltonian matrix of order ") +
          std::to_string(reading.order);
  if (reading.delaysIgnored) text += "; of the model without its delays";
  text += ")";
  if (!reading.passive) {
    text += ", " + std::to_string(reading.bands.size()) +
            (reading.bands.size() == 1 ? " band" : " bands");
  }
  text += "\n";
  for (std::size_t k = 0; k < reading.bands.size() && k < listed; ++k) {
    const CertificateReading::Band& b = reading.bands[k];
    text += "  " + BandFrequency(b.from) + " to " + BandFrequency(b.to) + ", worst measure " +
            FormatMeasure(b.worst) + " at " + BandFrequency(b.worstAt) + "\n";
  }
  if (reading.bands.size() > listed) {
    text += "  ... and " + std::to_string(reading.bands.size() - listed) + " more\n";
  }
  return text;
}

bool CertificateTooLarge(cFitAPI& fitter) {
  return CertificateOrderOf(fitter) > cfit::kLargeCertificateOrder;
}

}  // namespace cfit_tool
