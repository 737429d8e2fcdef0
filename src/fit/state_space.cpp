#include "fit/state_space.h"

#include <cmath>
#include <cstddef>
#include <numbers>

namespace cfit {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

std::size_t At(int row, int column, int columns) {
  return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
         static_cast<std::size_t>(column);
}

bool Finite(Complex z) { return std::isfinite(z.re) && std::isfinite(z.im); }

// Adds the block of stored pole `pole` fed from `input`; `residue(i)` gives
// the stored residue read by output i (outputs other than `output` read zero
// unless `output` is -1). False for a pole no stable model holds.
template <class ResidueOf>
bool AddBlock(StateSpace& system, Complex pole, int input, int output, ResidueOf residue) {
  if (!Finite(pole) || !(pole.re > 0.0)) return false;
  StateBlock block;
  block.first = system.states;
  block.size = pole.im == 0.0 ? 1 : 2;
  block.input = input;
  block.output = output;
  block.sigma = -kTwoPi * pole.re;
  block.omega = -kTwoPi * pole.im;
  const double magnitude = Abs(pole);
  block.gain = kTwoPi * magnitude;
  block.c.assign(static_cast<std::size_t>(system.ports * block.size), 0.0);
  for (int i = 0; i < system.ports; ++i) {
    if (output >= 0 && i != output) continue;
    const Complex r = residue(i);
    if (!Finite(r)) return false;
    if (block.size == 1) {
      block.c[At(i, 0, 1)] = r.re;
    } else {
      const Complex pr = pole * r;
      block.c[At(i, 0, 2)] = pr.re / magnitude;
      block.c[At(i, 1, 2)] = pr.im / magnitude;
    }
  }
  system.states += block.size;
  system.blocks.push_back(std::move(block));
  return true;
}

// Adds the terms of `terms` fed from `input`: the finite poles as blocks, the
// constant-standing ones into D.
template <class ResidueOf>
bool AddTerms(StateSpace& system, const PoleList& terms, int input, int output, ResidueOf residue) {
  for (const PoleTerm& term : terms) {
    const Complex p = term.GetPole();
    if (std::fabs(p.re) > kConstantPoleBound || std::fabs(p.im) > kConstantPoleBound) {
      for (int i = 0; i < system.ports; ++i) {
        if (output >= 0 && i != output) continue;
        const Complex r = residue(i);
        if (!Finite(r)) return false;
        system.d[At(i, input, system.ports)] += r.re;
      }
      continue;
    }
    if (!AddBlock(system, p, input, output, residue)) return false;
  }
  return true;
}

void FillDense(StateSpace& system) {
  const int n = system.ports, m = system.states;
  system.a.assign(static_cast<std::size_t>(m) * static_cast<std::size_t>(m), 0.0);
  system.b.assign(static_cast<std::size_t>(m) * static_cast<std::size_t>(n), 0.0);
  system.c.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(m), 0.0);
  for (const StateBlock& block : system.blocks) {
    const int k = block.first;
    system.a[At(k, k, m)] = block.sigma;
    system.b[At(k, block.input, n)] = block.gain;
    if (block.size == 2) {
      system.a[At(k, k + 1, m)] = block.omega;
      system.a[At(k + 1, k, m)] = -block.omega;
      system.a[At(k + 1, k + 1, m)] = block.sigma;
    }
    for (int i = 0; i < n; ++i) {
      for (int q = 0; q < block.size; ++q) {
        system.c[At(i, k + q, m)] = block.c[At(i, q, block.size)];
      }
    }
  }
}

}  // namespace

Result<StateSpace> Realize(const Model& model, const ElementTable* elements, bool dense) {
  const int n = model.n;
  const std::size_t nn = static_cast<std::size_t>(n > 0 ? n : 0) * static_cast<std::size_t>(n);
  auto fits = [&](const auto& table) { return table.empty() || table.size() == nn; };
  if (n <= 0 || !fits(model.constant) || !fits(model.proportional) || !fits(model.delay) ||
      (model.individual() && !fits(model.elementPoles))) {
    return ErrorCode::kInvalidArguments;
  }
  StateSpace system;
  system.ports = n;
  system.d.assign(nn, 0.0);
  system.e.assign(nn, 0.0);
  system.delay.assign(nn, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const std::size_t own = model.Index(i, j);
      // With a symmetric matrix the upper triangle reads the lower one's
      // list and delay, as the model's evaluation does.
      const std::size_t source =
          (model.individual() && model.symmetric && i < j) ? model.Index(j, i) : own;
      if (!model.constant.empty()) system.d[own] = model.constant[own];
      if (!model.proportional.empty() && elements != nullptr &&
          elements->AsymptoteModeAt(i, j, i, j) == kConstantAndProportional) {
        system.e[own] = model.proportional[own];
      }
      if (model.individual() && !model.delay.empty()) system.delay[own] = model.delay[source];
      if (!std::isfinite(system.d[own]) || !std::isfinite(system.e[own]) ||
          !std::isfinite(system.delay[own]) || system.delay[own] < 0.0) {
        return ErrorCode::kCorruptedFit;
      }
    }
  }

  if (model.individual()) {
    for (int i = 0; i < n && !model.elementPoles.empty(); ++i) {
      for (int j = 0; j < n; ++j) {
        const std::size_t source =
            (model.symmetric && i < j) ? model.Index(j, i) : model.Index(i, j);
        const PoleList& terms = model.elementPoles[source];
        for (const PoleTerm& term : terms) {
          const PoleList one{term};
          const Complex r =
              term.IsReal() ? Complex(term.GetResidue00().re, 0.0) : term.GetResidue00();
          if (!AddTerms(system, one, j, i, [&](int) { return r; })) {
            return ErrorCode::kCorruptedFit;
          }
        }
      }
    }
  } else {
    for (int j = 0; j < n; ++j) {
      for (const PoleTerm& term : model.commonPoles) {
        const PoleList one{term};
        auto residue = [&](int i) {
          const Complex r = term.GetResidue(i, j);
          return term.IsReal() ? Complex(r.re, 0.0) : r;
        };
        if (!AddTerms(system, one, j, -1, residue)) return ErrorCode::kCorruptedFit;
      }
    }
  }
  if (dense) FillDense(system);
  return system;
}

std::vector<Complex> EvaluateRealization(const StateSpace& system, double f) {
  const int n = system.ports, m = system.states;
  const Complex s(0.0, kTwoPi * f);
  std::vector<Complex> h(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
  for (std::size_t k = 0; k < h.size(); ++k) h[k] = Complex(system.d[k], f * system.e[k]);
  const bool dense = !system.a.empty();
  for (const StateBlock& block : system.blocks) {
    const int k = block.first;
    // The block's A entries, B rows and C columns: from the dense matrices
    // when present, else from the block.
    const double a00 = dense ? system.a[At(k, k, m)] : block.sigma;
    double a01 = 0.0, a10 = 0.0, a11 = 0.0;
    if (block.size == 2) {
      a01 = dense ? system.a[At(k, k + 1, m)] : block.omega;
      a10 = dense ? system.a[At(k + 1, k, m)] : -block.omega;
      a11 = dense ? system.a[At(k + 1, k + 1, m)] : block.sigma;
    }
    auto bAt = [&](int q, int j) {
      if (dense) return system.b[At(k + q, j, n)];
      return q == 0 && j == block.input ? block.gain : 0.0;
    };
    auto cAt = [&](int i, int q) {
      return dense ? system.c[At(i, k + q, m)] : block.c[At(i, q, block.size)];
    };
    for (int j = 0; j < n; ++j) {
      Complex x0, x1;
      if (block.size == 1) {
        const double b0 = bAt(0, j);
        if (b0 == 0.0) continue;
        x0 = b0 / (s - a00);
      } else {
        const double b0 = bAt(0, j), b1 = bAt(1, j);
        if (b0 == 0.0 && b1 == 0.0) continue;
        // (sI - A)^-1 b for the 2 x 2 block.
        const Complex m00 = s - a00, m11 = s - a11;
        const Complex det = m00 * m11 - Complex(a01 * a10, 0.0);
        x0 = (m11 * b0 + Complex(a01 * b1, 0.0)) / det;
        x1 = (m00 * b1 + Complex(a10 * b0, 0.0)) / det;
      }
      for (int i = 0; i < n; ++i) {
        Complex y = cAt(i, 0) * x0;
        if (block.size == 2) y += cAt(i, 1) * x1;
        h[At(i, j, n)] += y;
      }
    }
  }
  return h;
}

}  // namespace cfit
