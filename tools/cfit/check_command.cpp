// cfit check: is a pole file's model (or a Touchstone file's data) passive?
// The answer is the exit status, with the largest violation and the bands of
// frequency where the passivity measure exceeds its limit on standard output.
#include <cctype>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "log_file.h"
#include "passivity_report.h"

namespace cfit_tool {

namespace fs = std::filesystem;

namespace {

// Bands listed in full before the rest are only counted.
constexpr std::size_t kListedBands = 10;

std::string BandText(const ViolationBand& band) {
  if (band.from == band.to) {
    return "at " + FormatSweepFrequency(band.from) + ", measure " + FormatMeasure(band.peak);
  }
  return FormatSweepFrequency(band.from) + " to " + FormatSweepFrequency(band.to) + ", peak " +
         FormatMeasure(band.peak) + " at " + FormatSweepFrequency(band.peakAt);
}

}  // namespace

const CommandDef& CheckDef() {
  static const CommandDef def = WithCommonOptions(
      {"check",
       "FILE",
       "tell whether a pole file's model (or a Touchstone file's data) is passive",
       "Reads FILE, a pole file (.pls) or a Touchstone file, and reports the passivity of "
       "its model (swept adaptively from 0 Hz to beyond its highest pole, and towards "
       "infinite frequency) or of its sampled data (at every point): the largest passivity "
       "measure and its frequency, and the bands of frequency where the measure exceeds "
       "the limit, each with its peak. For a pole file it also gives the exact "
       "certificate: the bands where the model is not passive, found as the imaginary "
       "eigenvalues of a Hamiltonian matrix of its state-space realisation (or of a "
       "matrix of half that order for a reciprocal model; so no "
       "violation between samples is missed), each with its worst measure; a violation "
       "the certificate finds above the limit makes the model not passive even where the "
       "sweep missed it.\n"
       "\n"
       "The measure is the square of the largest singular value for S parameters, and 1 "
       "minus the smallest eigenvalue of the Hermitian part for Y or Z parameters; a "
       "network is passive where it is at most 1 (--threshold changes that limit). The "
       "kind of file is taken from its extension as in 'cfit info'; --as overrides it.\n"
       "\n"
       "Exit status: 0 passive; 1 not passive (a message on standard error says so) or "
       "the file could not be read or measured; 2 a mistake in the command line.\n"
       "\n"
       "Example:\n"
       "  cfit fit --passive -o out board.s4p && cfit check out/board.pls",
       {
           {"as", 0, "KIND", "Read FILE as 'touchstone' or 'poles' whatever its extension."},
           {"threshold", 0, "X",
            "Largest measure that still counts as passive (default 1); a little above 1 "
            "tolerates the rounding of measured or exported data."},
       }},
      "Keep the library's run log in FILE (by default it is discarded).");
  return def;
}

int RunCheckCommand(const Arguments& a) {
  const fs::path path = a.SingleOperand("the file to check (FILE)");
  const bool poles = ReadsAsPoleFile(a, path);
  const double threshold = a.Number("threshold", 0.0, 1e6).value_or(1.0);
  const std::string logPath = a.Text("log").value_or(std::string());
  RequireFile(path);
  RefuseOverwrite({path}, {logPath});

  std::ostringstream report;
  PassivityReading reading;
  std::vector<ViolationBand> bands;
  bool bandsKnown = false;
  int dataType = 0;
  CertificateReading certificate;
  {
    LogFile log(logPath, a.Has("verbose"));
    // Data are measured as the file holds them, without symmetrising.
    cFitParams params;
    params.symmetryTolerance = 0.0;
    Fitter fitter = CreateFitter(params);
    if (poles) {
      ReadPoleFile(*fitter, path.string());
    } else if (fitter->ReadTouchstone(path.string().c_str()) == 0) {
      FailWithLibraryMessage(*fitter, "cannot read " + path.string(), path.string());
    }
    dataType = fitter->GetDataType();
    reading = poles ? CheckModel(*fitter) : CheckData(*fitter);
    if (!reading.known) {
      throw Failure("cannot measure the passivity of " + path.string() + ": " + reading.failure);
    }
    bands = ViolationBands(*fitter, poles, dataType, threshold, &bandsKnown);
    if (poles && CertificateTooLarge(*fitter)) {
      certificate.failure = "its test matrix would be of order " +
                            std::to_string(CertificateOrderOf(*fitter)) +
                            ", which takes minutes; a common-pole fit keeps it small";
    } else if (poles) {
      certificate = CertifyFitterModel(*fitter);
    }
    report << "file:        " << path.string() << "\n"
           << "checked:     " << (poles ? "the model, swept adaptively" : "the sampled data")
           << " (" << fitter->GetPortCount() << "-port " << TypeLetter(dataType) << ")\n";
  }
  // The exact certificate overrules the sweep where it finds a violation
  // above the threshold that the sweep's samples missed.
  bool certifiedViolation = false;
  for (const CertificateReading::Band& b : certificate.bands) {
    certifiedViolation = certifiedViolation || b.worst > threshold;
  }
  const bool passive = reading.measure <= threshold && !certifiedViolation;
  report << "measure:     " << MeasureMeaning(dataType) << "; passive where at most "
         << FormatMeasure(threshold) << "\n"
         << "largest:     " << FormatMeasure(reading.measure) << " at "
         << FormatSweepFrequency(reading.frequency) << "\n"
         << "passivity:   " << (passive ? "passive" : "not passive") << "\n";
  if (!passive && bandsKnown && !bands.empty()) {
    report << "violations:  " << bands.size() << (bands.size() == 1 ? " band" : " bands") << "\n";
    for (std::size_t k = 0; k < bands.size() && k < kListedBands; ++k) {
      report << "  " << BandText(bands[k]) << "\n";
    }
    if (bands.size() > kListedBands) {
      report << "  ... and " << bands.size() - kListedBands << " more\n";
    }
  }
  if (poles) report << "certificate: " << CertificateText(certificate, kListedBands);
  std::cout << report.str();
  if (passive) return kExitOk;
  if (reading.measure <= threshold) {
    std::cerr << "cfit: " << path.string()
              << " is not passive: the exact certificate finds a measure above "
              << FormatMeasure(threshold) << " that the sampled sweep missed\n";
    return kExitFailure;
  }
  std::cerr << "cfit: " << path.string() << " is not passive: largest measure "
            << FormatMeasure(reading.measure) << " at " << FormatSweepFrequency(reading.frequency)
            << " exceeds " << FormatMeasure(threshold) << "\n";
  return kExitFailure;
}

}  // namespace cfit_tool
