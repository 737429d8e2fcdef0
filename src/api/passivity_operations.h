// Passivity operations for engine hosts (the cfit program, the Python
// package) holding a fitter made by cFitAPI::Create: the exact certificate of
// the fitter's model (passivity/passivity_certificate.h) and its enforcement
// by residue perturbation (passivity/residue_perturbation.h), in plain
// records a host can print or hand on.
#ifndef CFIT_API_PASSIVITY_OPERATIONS_H
#define CFIT_API_PASSIVITY_OPERATIONS_H

#include <string>
#include <vector>

#include "fit/iterated_fit.h"

class cFitAPI;

namespace cfit {

// The certificate of the fitter's model: passive, or the bands where it is
// not, each with its worst point.
struct FitterCertificate {
  bool known = false;
  std::string failure;  // why it could not be computed
  bool passive = false;
  int order = 0;          // order of the test matrix
  bool halfSize = false;  // the half-size matrix of a symmetric model, else the Hamiltonian
  bool delaysIgnored = false;
  // Passive by a bound on the response's size (no Hamiltonian; delays
  // included).
  bool byMagnitudeBound = false;
  struct Band {
    double from = 0.0, to = 0.0;        // hertz; `to` infinite for a band to infinity
    double worst = 0.0, worstAt = 0.0;  // the library's measure and its frequency
  };
  std::vector<Band> bands;
};

// Not known ("no model") for a fitter without a model or of another make.
FitterCertificate CertifyFitterModel(cFitAPI& fitter);

// What the enforcement by residue perturbation did; `passive` tells whether
// the certificate ends passive, `failure` why not.
struct PerturbationOutcome {
  bool passive = false;
  int steps = 0;
  double relativeChange = 0.0;  // relative RMS change of the response over `frequencies`
  // Relative RMS deviations from the data: of the model as fitted, of its
  // perturbation and of the perturbation with damped poles added beyond the
  // band (NaN where not passive or not tried); the poles added to each list
  // of the model kept (0: none).
  double fittedError = 0.0;
  double perturbedError = 0.0;
  double augmentedError = 0.0;
  int addedPoles = 0;
  // The model kept was fitted again with its poles near the band; the
  // deviation from the data of that fit (NaN when it was not tried).
  bool refitted = false;
  bool refitHeld = false;  // that fit held its constant passive (else: poles near the band)
  double refitError = 0.0;
  bool gaveUp = false;  // the enforcement gave up early (see below); the model is as it was
  std::string failure;
};

// Enforces passivity of the fitter's model in place by residue perturbation,
// weighing the change at `frequencies` (hertz, the data's sample points);
// when that costs more than twice the fit's deviation from the data, damped
// poles are added beyond the band and the more accurate passive model kept
// (passivity/accurate_enforcement.h). Without `refit`, on failure the
// model may keep the changes of the last step.
//
// With `refit` (the settings the fitter's model was fitted with by
// FitIterated), an S model that does not end passive, or ends more than
// twice its fit's deviation plus 1e-4 from the data, is fitted again and
// enforced again: first with its constant held passive
// (IterationSettings::preferHeldConstant) when the free fit was kept though
// its constant has a singular value above 1, then with its poles near the
// band (IterationSettings::polesNearBand), until one comes that close; the
// passive model closest to the data is kept (`refitted` and `refitHeld`
// say which). A caller's own pole band is left alone. Each enforcement
// but the last resort gives up early when its cutting-plane bound shows it
// cannot come that close (within kGiveUpRoom); should no refit come that
// close, the first fit is enforced to its end after all. When nothing ends
// passive, the model is the fit as it was.
PerturbationOutcome EnforceByPerturbation(cFitAPI& fitter, const std::vector<double>& frequencies,
                                          const IterationSettings* refit = nullptr);
inline constexpr double kRefitTolerance = 2.0;
inline constexpr double kRefitMargin = 1e-4;
inline constexpr double kGiveUpRoom = 1.5;

// The order of the Hamiltonian the certificate of the fitter's model needs
// (0 without a model); above kLargeCertificateOrder it takes minutes.
int CertificateOrderOf(cFitAPI& fitter);

}  // namespace cfit

#endif  // CFIT_API_PASSIVITY_OPERATIONS_H
