#include "timedomain/solver_element.h"

#include <cmath>
#include <numbers>

namespace cfit {

namespace {

using C = std::complex<double>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// The step coefficients for z = p dt: E = exp(z), phi1 = (E - 1) / z,
// A = 1 - E = -z phi1 and B = (1 + z - E) / z = -z phi2 with
// phi2 = (E - 1 - z) / z^2; phi1 and phi2 from their series for small z.
struct Coefficients {
  C E, A, B, phi1;
};

Coefficients For(C z) {
  C phi1, phi2;
  if (std::abs(z) < 0.1) {
    // phi1 = sum z^k / (k + 1)!, phi2 = sum z^k / (k + 2)!.
    C power = 1.0;
    double f1 = 1.0, f2 = 2.0;
    for (int k = 0; k < 16; ++k) {
      phi1 += power / f1;
      phi2 += power / f2;
      power *= z;
      f1 *= k + 2;
      f2 *= k + 3;
    }
  } else {
    const double s = std::sin(0.5 * z.imag());
    const C em1(std::expm1(z.real()) * std::cos(z.imag()) - 2.0 * s * s,
                std::exp(z.real()) * std::sin(z.imag()));
    phi1 = em1 / z;
    phi2 = (em1 - z) / (z * z);
  }
  return {1.0 + z * phi1, -z * phi1, -z * phi2, phi1};
}

}  // namespace

std::optional<SolverElement> SolverElement::Build(const TimeDomainElement& model, int dataType,
                                                  bool diagonal, double z0i, double z0j) {
  if (model.poles.empty() || !(z0i > 0.0) || !(z0j > 0.0)) return std::nullopt;
  SolverElement element;
  element.d_ = model.d;
  element.e_ = model.e;
  element.tau_ = model.tau;
  double scale = 1.0;
  if (dataType == 1) {
    // g (delta - S): with the input u(j) = V(j) + Z0(j) I(j) at port j
    // (twice the incident wave times sqrt(Z0(j))) the output is the current
    // I(i) into port i.
    const double g = 0.5 / std::sqrt(z0i * z0j);
    scale = -g;
    element.d_ = -g * model.d + (diagonal ? g : 0.0);
    element.e_ = -g * model.e;
    if (diagonal && model.tau != 0.0) element.direct_ = g;
  }
  for (const TimePole& pole : model.poles) element.poles_.push_back({pole.p, scale * pole.r});
  element.fixed_.resize(element.poles_.size());
  element.now_.x.assign(element.poles_.size(), C{});
  element.now_.B.assign(element.poles_.size(), C{});
  return element;
}

double SolverElement::DcValue() const {
  double sum = d_;
  for (const Pole& pole : poles_) sum += pole.r.real();
  return sum;
}

std::complex<double> SolverElement::Response(double frequency) const {
  if (frequency == 0.0) return DcValue();
  const C s(0.0, kTwoPi * frequency);
  C sum = d_;
  for (const Pole& pole : poles_) {
    const C term = pole.r * -pole.p / (s - pole.p);
    // A pair is held once: half the term and half its conjugate partner.
    sum += pole.p.imag() == 0.0
               ? term
               : 0.5 * (term + std::conj(pole.r) * -std::conj(pole.p) / (s - std::conj(pole.p)));
  }
  return sum;
}

bool SolverElement::Start(double u0, double dt) {
  if (!(dt >= 0.0) || !std::isfinite(dt)) return false;
  line_.reset();
  if (tau_ > 0.0) {
    line_.emplace(tau_);
    line_->Write(0.0, u0);
  }
  dt_ = dt;
  mode_ = dt > 0.0 ? Mode::kFixed : Mode::kVariable;
  steps_ = 0;
  // The input u0 has been applied since ever: each pole's output is r u0.
  // With fixed steps the state is that of a step of dt ending now, with
  // variable steps that of a step of length 0 (B = 0).
  Point& p = now_;
  double hx = 0.0;
  fixedG_ = d_ - direct_;
  for (std::size_t k = 0; k < poles_.size(); ++k) {
    Pole& pole = poles_[k];
    if (dt > 0.0) {
      const Coefficients c = For(pole.p * dt);
      const C b = pole.r * (pole.p * dt) * c.phi1 * c.phi1;
      p.B[k] = c.B;
      p.x[k] = -pole.r * c.phi1 * u0;
      fixed_[k] = {c.E.real(), c.E.imag(), b.real(), b.imag(), p.x[k].real(), p.x[k].imag()};
      fixedG_ += (pole.r * c.B).real();
    } else {
      p.B[k] = 0.0;
      p.x[k] = -pole.r * u0;
    }
    hx += p.x[k].real();
  }
  const double eGain = dt > 0.0 ? e_ / (kTwoPi * dt) : 0.0;
  fixedE_ = eGain;
  p.G = (dt > 0.0 ? fixedG_ : d_ - direct_) + eGain;
  p.h = hx + eGain * u0;
  p.time = 0.0, p.input = u0, p.delayed = u0;
  p.fromTime = -dt, p.fromInput = u0;
  Report();
  saved_ = now_;
  return true;
}

void SolverElement::AdvanceStates(double dt, double w) {
  Point& p = now_;
  if (mode_ != Mode::kVariable) {
    // Fixed step: one complex multiply-add per pole, written out in real
    // arithmetic (no special cases for infinities to check).
    double hx = 0.0;
    for (FixedTerm& term : fixed_) {
      const double re = term.Er * term.xr - term.Ei * term.xi + term.br * w;
      term.xi = term.Er * term.xi + term.Ei * term.xr + term.bi * w;
      term.xr = re;
      hx += re;
    }
    p.G = fixedG_ + fixedE_;
    p.h = hx + fixedE_ * w;
    return;
  }
  double G = d_ - direct_, hx = 0.0;
  for (std::size_t k = 0; k < poles_.size(); ++k) {
    Pole& pole = poles_[k];
    const Coefficients c = For(pole.p * dt);
    p.x[k] = c.E * p.x[k] + pole.r * (c.B - c.A - c.E * p.B[k]) * w;
    p.B[k] = c.B;
    G += (pole.r * c.B).real();
    hx += p.x[k].real();
  }
  // The proportional term as the slope of the input over the step.
  const double eGain = e_ / (kTwoPi * dt);
  p.G = G + eGain;
  p.h = hx + eGain * w;
}

void SolverElement::Report() {
  Point& p = now_;
  if (!line_.has_value()) {
    p.gain = p.G, p.history = p.h;
    return;
  }
  const double at = p.time - tau_;
  if (at <= p.fromTime) {
    p.gain = direct_;
    p.history = p.h - p.G * line_->Read(at);
    return;
  }
  const double lambda = (at - p.fromTime) / (p.time - p.fromTime);
  p.gain = direct_ + lambda * p.G;
  p.history = p.h - p.G * (1.0 - lambda) * p.fromInput;
}

bool SolverElement::FirstStep() {
  if (mode_ != Mode::kFixed || now_.time != 0.0) return false;
  mode_ = Mode::kFixedStepping;
  AdvanceStates(dt_, now_.input);
  now_.fromTime = 0.0, now_.fromInput = now_.input;
  now_.time = dt_;
  Report();
  return true;
}

bool SolverElement::Step(double u) {
  if (mode_ != Mode::kFixedStepping) return false;
  ++steps_;
  const double t = static_cast<double>(steps_) * dt_;
  double w = u;
  if (line_.has_value()) {
    line_->Write(t, u);
    w = line_->Read(t - tau_);
  }
  AdvanceStates(dt_, w);
  now_.fromTime = t, now_.fromInput = u, now_.input = u, now_.delayed = w;
  now_.time = static_cast<double>(steps_ + 1) * dt_;
  Report();
  return true;
}

bool SolverElement::Advance(double t, double u) {
  if ((mode_ != Mode::kVariable && mode_ != Mode::kFixed) || !std::isfinite(t)) return false;
  Point& p = now_;
  if (p.time < t) {
    // The present point is accepted: into the delay line, and saved.
    p.delayed = p.input;
    if (line_.has_value()) {
      line_->Write(p.time, p.input);
      p.delayed = line_->Read(p.time - tau_);
    }
    if (mode_ == Mode::kVariable) saved_ = p;
  } else if (p.time > t) {
    if (mode_ == Mode::kVariable) now_ = saved_;
    if (now_.time > t) return false;
  }
  if (t - now_.time > 1e-20) {
    const double dt = t - now_.time;
    // Fixed coefficients hold for their own step only.
    if (mode_ == Mode::kFixed && std::fabs(dt - dt_) > 1e-6 * dt_) return false;
    AdvanceStates(dt, now_.delayed);
    now_.fromTime = now_.time, now_.fromInput = now_.input;
    now_.time = t;
    Report();
  }
  now_.input = u;
  return true;
}

}  // namespace cfit
