// The fixed-step port solver on a 32-port model with one set of 30 poles
// for every element (1024 elements, 30720 pole terms): time per Step, per
// pole-element-step, against a plain loop doing only the one complex
// multiply-add per pole and step over arrays of the same size.
//
// Usage: cfit_port_solver_bench [steps]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <vector>

#include "cfit/cfit.h"

namespace {

constexpr int kPorts = 32, kPairs = 15;

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int steps = argc > 1 ? std::atoi(argv[1]) : 2000;
  std::unique_ptr<cFitAPI> fitter(cFitAPI::Create(nullptr));
  fitter->DefineModel(kPorts, 1, nullptr, false);
  // 15 resonant pairs (30 poles) from 1 to 30 GHz, small residues so that
  // the model stays a plausible S matrix.
  std::vector<double> poles, residues;
  for (int k = 0; k < kPairs; ++k) {
    const double f = 1e9 * (1 + 2 * k);
    poles.insert(poles.end(), {0.05 * f, -f});
    residues.insert(residues.end(), {1e-3 * (k + 1), -5e-4 * k});
  }
  for (int i = 0; i < kPorts; ++i) {
    for (int j = 0; j < kPorts; ++j) {
      fitter->SetElementModel(i, j, kPairs, 0.01, 0, 0, poles.data(), residues.data());
    }
  }
  std::unique_ptr<cCPSolver> solver(fitter->CreateSolver(1));
  if (solver == nullptr || solver->BuildElements(1, 2, 3, 4) == 0) {
    std::fprintf(stderr, "the model cannot be stepped\n");
    return 1;
  }
  std::vector<double> u(kPorts, 0.0), h(kPorts), g(kPorts * kPorts);
  std::vector<double*> rows(kPorts);
  for (int i = 0; i < kPorts; ++i) rows[i] = g.data() + i * kPorts;
  // Each loop runs five times, alternating, and the fastest run counts, so
  // that other work on the machine disturbs the comparison less.
  double check = 0, plainCheck = 0, solverSeconds = 1e300, plainSeconds = 1e300;
  auto runSolver = [&] {
    solver->StartFixedStep(u.data(), 1e-12, rows.data(), h.data());
    const auto start = std::chrono::steady_clock::now();
    check = 0;
    for (int s = 0; s < steps; ++s) {
      for (int j = 0; j < kPorts; ++j) u[j] = std::sin(1e-3 * s * (j + 1));
      solver->Step(u.data(), h.data());
      check += h[s % kPorts];
    }
    solverSeconds = std::min(solverSeconds, Seconds(start));
  };

  // The plain loop: x = E x + b w per pole term, the real parts summed per
  // row, over arrays as large as the solver's.
  const std::size_t terms = static_cast<std::size_t>(kPorts) * kPorts * (2 * kPairs) / 2;
  std::vector<std::complex<double>> E(terms), b(terms), x(terms);
  for (std::size_t k = 0; k < terms; ++k) {
    E[k] = std::polar(0.99, 0.01 * static_cast<double>(k % 97));
    b[k] = {1e-3, 1e-4};
  }
  const std::size_t perElement = terms / (kPorts * kPorts);
  auto runPlain = [&] {
    std::fill(x.begin(), x.end(), std::complex<double>{});
    const auto plainStart = std::chrono::steady_clock::now();
    plainCheck = 0;
    for (int s = 0; s < steps; ++s) {
      for (int j = 0; j < kPorts; ++j) u[j] = std::sin(1e-3 * s * (j + 1));
      for (int i = 0; i < kPorts; ++i) {
        double sum = 0;
        for (int j = 0; j < kPorts; ++j) {
          const double w = u[j];
          const std::size_t base = (static_cast<std::size_t>(i) * kPorts + j) * perElement;
          for (std::size_t k = base; k < base + perElement; ++k) {
            const double re =
                E[k].real() * x[k].real() - E[k].imag() * x[k].imag() + b[k].real() * w;
            const double im =
                E[k].real() * x[k].imag() + E[k].imag() * x[k].real() + b[k].imag() * w;
            x[k] = {re, im};
            sum += re;
          }
        }
        h[i] = sum;
      }
      plainCheck += h[s % kPorts];
    }
    plainSeconds = std::min(plainSeconds, Seconds(plainStart));
  };
  for (int run = 0; run < 5; ++run) runSolver(), runPlain();

  // Each held pair is one complex state: 15 per element.
  const double poleSteps = static_cast<double>(terms) * steps;
  std::printf(
      "port solver, %d ports, %d elements x %d poles (%d pairs, one state each), "
      "%d fixed steps\n",
      kPorts, kPorts * kPorts, 2 * kPairs, kPairs, steps);
  std::printf("  Step:        %8.3f ms per step, %6.3f ns per pair-element-step\n",
              1e3 * solverSeconds / steps, 1e9 * solverSeconds / poleSteps);
  std::printf("  plain loop:  %8.3f ms per step, %6.3f ns per pair-element-step\n",
              1e3 * plainSeconds / steps, 1e9 * plainSeconds / poleSteps);
  std::printf("  ratio %.2f (checksums %.3g %.3g)\n", solverSeconds / plainSeconds, check,
              plainCheck);
  return 0;
}
