#include "passivity/accurate_enforcement.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <utility>

#include "fit/model_evaluation.h"
#include "passivity/passivity_certificate.h"
#include "passivity/pole_augmentation.h"

namespace cfit {

namespace {

// Real poles added far above the band where the constant violates: at 2 to
// 256 times its top.
constexpr int kFarPoles = 8;

}  // namespace

double RelativeDeviation(const Model& model, const ElementTable* elements,
                         const SampledData& data) {
  const int n = model.n;
  if (data.port_count() != n) return std::numeric_limits<double>::quiet_NaN();
  const ModelView view{&model, elements, model.individual(), model.symmetric};
  double diff = 0.0, norm = 0.0;
  for (ConstMatrixView p : data.points()) {
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const Complex d = p.At(i, j);
        const Complex m = EvaluateElement(view, i, j, p.frequency());
        diff += (m.re - d.re) * (m.re - d.re) + (m.im - d.im) * (m.im - d.im);
        norm += d.re * d.re + d.im * d.im;
      }
    }
  }
  return norm > 0.0 ? std::sqrt(diff / norm) : std::sqrt(diff);
}

Result<AccurateEnforcement> EnforceKeepingAccuracy(Model& model, const ElementTable* elements,
                                                   const SampledData& data,
                                                   const std::vector<double>& frequencies,
                                                   const PerturbationOptions& options,
                                                   const RunContext& context, double tolerance) {
  AccurateEnforcement out;
  const double none = std::numeric_limits<double>::quiet_NaN();
  out.perturbedError = out.augmentedError = none;
  const Model fitted = model;
  out.fittedError = RelativeDeviation(model, elements, data);
  Result<PerturbationReport> first =
      EnforceByResiduePerturbation(model, elements, frequencies, options, context);
  if (first) {
    out.report = *first;
    if (!first->gaveUp) {
      out.perturbedError = RelativeDeviation(model, elements, data);
      if (!(out.perturbedError > tolerance * out.fittedError)) return out;
    }
  } else if (first.failure().code) {
    return first.failure();  // not a data type the perturbation takes
  }

  // The violations of the fitted model beyond the data band get damped
  // poles, and the fitted model with them is perturbed instead.
  const auto cert = CertifyModel(fitted, elements);
  const auto finish = [&]() -> Result<AccurateEnforcement> {
    if (first) return out;
    return first.failure();
  };
  if (!cert || cert->passive || data.empty()) return finish();
  double low = 0.0;
  for (ConstMatrixView p : data.points()) {
    if (p.frequency() > 0.0) {
      low = p.frequency();
      break;
    }
  }
  // Three pairs of rising damping per place first; when that still costs
  // more than the tolerance, one pair of middle damping (fewer unknowns,
  // whose steps the perturbation's step control cuts less often); then,
  // where the constant violates, the three pairs with real poles far above
  // the band.
  static constexpr double kOnePair[] = {0.5};
  const bool constantViolates =
      std::any_of(cert->bands.begin(), cert->bands.end(),
                  [](const CertifiedBand& b) { return std::isinf(b.to); });
  std::vector<std::pair<std::span<const double>, int>> sets = {{kAddedPairDampings, 0},
                                                               {kOnePair, 0}};
  if (constantViolates) sets.push_back({kAddedPairDampings, kFarPoles});
  double best = out.perturbedError;
  for (const auto& [dampings, far] : sets) {
    Model augmented = fitted;
    const std::vector<Complex> added =
        AddPolesForBands(augmented, cert->bands, low, data.back().frequency(), dampings, far);
    // The certificate's cost grows as the cube of its order: poles that
    // would take it beyond the order certified in seconds are not added.
    if (added.empty() || CertificateOrder(augmented, elements) > kLargeCertificateOrder) break;
    context.log() << "Residue perturbation: again with " << added.size()
                  << " damped poles added where the model violates beyond the data band\n";
    Result<PerturbationReport> second =
        EnforceByResiduePerturbation(augmented, elements, frequencies, options, context);
    if (second && !second->gaveUp) {
      const double error = RelativeDeviation(augmented, elements, data);
      if (!(error >= best)) {
        best = out.augmentedError = error;
        model = std::move(augmented);
        out.report = *second;
        out.addedPoles = static_cast<int>(added.size());
      }
    }
    if (out.addedPoles > 0 && !(out.augmentedError > tolerance * out.fittedError)) break;
  }
  if (out.addedPoles > 0) return out;
  return finish();
}

}  // namespace cfit
