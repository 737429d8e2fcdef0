#include "timedomain/time_response.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace cfit {

namespace {

using C = std::complex<double>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// exp(z) - 1 without the cancellation of 1 - exp(z) for small z.
C ExpMinusOne(C z) {
  const double a = std::expm1(z.real());
  const double s = std::sin(0.5 * z.imag());
  const double cosMinusOne = -2.0 * s * s;
  return {a * std::cos(z.imag()) + cosMinusOne, std::exp(z.real()) * std::sin(z.imag())};
}

// exp(z) - 1 - z, by its series where the direct form would cancel.
C ExpMinusOneMinusZ(C z) {
  if (std::abs(z) >= 0.1) return ExpMinusOne(z) - z;
  C term = 0.5 * z * z;
  C sum = term;
  for (int k = 3; k < 20 && std::abs(term) > 1e-18 * std::abs(sum); ++k) {
    term *= z / static_cast<double>(k);
    sum += term;
  }
  return sum;
}

double Impulse(const TimeDomainElement& element, double T) {
  double sum = 0.0;
  for (const TimePole& pole : element.poles)
    sum += (pole.r * -pole.p * std::exp(pole.p * T)).real();
  return sum;
}

bool UsesProportional(const ModelView& view, int i, int j) {
  return view.elements != nullptr &&
         view.elements->AsymptoteModeAt(i, j, i, j) == kConstantAndProportional;
}

}  // namespace

TimeDomainElement TimeDomainElementOf(const ModelView& view, int i, int j) {
  const Model& model = *view.model;
  const std::size_t own = model.Index(i, j);
  TimeDomainElement element;
  element.d = model.constant.empty() ? 0.0 : model.constant[own];
  element.e =
      model.proportional.empty() || !UsesProportional(view, i, j) ? 0.0 : model.proportional[own];
  // A held pole P with residue R is the section R / (1 + j f / P), which is
  // R (-p) / (s - p) with p = -2 pi P.
  auto add = [&](const PoleTerm& term, Complex residue) {
    const Complex P = term.GetPole();
    const bool real = term.IsReal();
    element.poles.push_back({C(-kTwoPi * P.re, -kTwoPi * P.im),
                             real ? C(residue.re, 0.0) : C(residue.re, residue.im), real});
  };
  if (!view.individualPoles) {
    for (const PoleTerm& term : model.commonPoles) add(term, term.GetResidue(i, j));
    return element;
  }
  const std::size_t source = (view.symmetric && i < j) ? model.Index(j, i) : own;
  if (!model.elementPoles.empty()) {
    for (const PoleTerm& term : model.elementPoles[source]) add(term, term.GetResidue00());
  }
  element.tau = model.delay.empty() ? 0.0 : model.delay[source];
  return element;
}

double StepResponse(const TimeDomainElement& element, double T) {
  if (T < 0.0) return 0.0;
  double sum = element.d;
  for (const TimePole& pole : element.poles) sum += (-pole.r * ExpMinusOne(pole.p * T)).real();
  return sum;
}

double RampResponse(const TimeDomainElement& element, double x) {
  if (x <= 0.0) return 0.0;
  double sum = element.d * x + element.e / kTwoPi;
  for (const TimePole& pole : element.poles) {
    // r (x + (1 - exp(p x)) / p) = -r x (exp(z) - 1 - z) / z with z = p x.
    const C z = pole.p * x;
    if (z == C(0.0, 0.0)) continue;
    sum += (-pole.r * x * ExpMinusOneMinusZ(z) / z).real();
  }
  return sum;
}

TimeResponsePoint EvaluateTimeResponse(const TimeDomainElement& element,
                                       const TimeResponseParameters& params, double t) {
  const double T = t - element.tau;
  TimeResponsePoint out;
  // The Dirac part: the constant in the impulse response, the proportional
  // term in the step-based ones; its time is reported as 0 when d is 0.
  const double diracTime = element.d == 0.0 ? 0.0 : element.tau;
  switch (params.kind) {
    case 0:
      out.value = T < 0.0 ? 0.0 : Impulse(element, T);
      out = {out.value, true, diracTime, element.d};
      break;
    case 1: out = {StepResponse(element, T), true, diracTime, element.e / kTwoPi}; break;
    case 2:
      out = {StepResponse(element, T) - StepResponse(element, T - params.width), true, diracTime,
             element.e / kTwoPi};
      break;
    case 3:
      if (T > 0.0) {
        const double rise = params.riseTime, width = params.width, fall = params.fallTime;
        out.value =
            (RampResponse(element, T) - RampResponse(element, T - rise)) / rise -
            (RampResponse(element, T - width) - RampResponse(element, T - width - fall)) / fall;
      }
      break;
    default: break;
  }
  out.value *= params.amplitude;
  return out;
}

Status CheckTimeResponseParameters(const TimeResponseParameters& params) {
  const double start = params.startTime, end = params.endTime, step = params.timeStep;
  // Beyond the rule of at most 1e8 steps, the grid must be finite and the
  // step must move t at every time of the span, or the loop would not end.
  const double largest = std::max(std::fabs(start), std::fabs(end));
  const bool grid = step > 0.0 && end - start > 0.0 && step * 1e8 >= end - start &&
                    std::isfinite(step) && std::isfinite(start) && std::isfinite(end) &&
                    largest + step > largest;
  if (!grid) return ErrorCode::kInvalidTimeResponse;
  if (params.kind == 2 && !(params.width > 0.0)) return ErrorCode::kBitTimeNotPositive;
  if (params.kind == 3 && !(params.riseTime > 0.0)) return ErrorCode::kInvalidTrapezoid;
  if (!(params.width > 0.0) || !(params.fallTime > 0.0) || !(params.width >= params.riseTime))
    return ErrorCode::kInvalidTrapezoid;
  return Success();
}

Status WriteTimeResponseFile(const TimeDomainElement& element, const TimeResponseParameters& params,
                             const std::string& fileName) {
  const Failure cannotWrite = Failure::OfFile(ErrorCode::kCannotWriteTimeResponse, fileName);
  std::FILE* file = std::fopen(fileName.c_str(), "w");
  if (file == nullptr) return cannotWrite;
  bool written = true;
  for (double t = params.startTime; t <= params.endTime && written; t += params.timeStep) {
    const double value = EvaluateTimeResponse(element, params, t).value;
    written = std::fprintf(file, "%16.10le %16.10le\n", t, value) > 0;
  }
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) return cannotWrite;
  return Success();
}

}  // namespace cfit
