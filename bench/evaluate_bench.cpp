// Model evaluation through the host interface: a 16-port S model of 8 pole
// terms per element, evaluated element by element at 10,000 frequencies.
// Writes the model as a pole file (so that bench/python_evaluate.py times
// the same model through the Python package) and prints the best of five
// runs in seconds.
//
// Usage: cfit_evaluate_bench <pole file to write>
#include <cfit/cfit.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <pole file to write>\n", argv[0]);
    return 2;
  }
  constexpr int kPorts = 16, kTerms = 8, kPoints = 10000;
  std::unique_ptr<cFitAPI> fitter(cFitAPI::Create(nullptr));
  std::vector<double> z0(kPorts, 50.0);
  if (!fitter || !fitter->DefineModel(kPorts, 1, z0.data(), false)) return 1;
  for (int i = 0; i < kPorts; ++i) {
    for (int j = 0; j < kPorts; ++j) {
      // Four real poles and two complex pairs (held once, Re P > 0 > Im P).
      std::vector<double> poles, residues;
      for (int k = 0; k < kTerms; ++k) {
        const double scale = 1e9 * (k + 1 + 0.1 * i + 0.01 * j);
        poles.push_back(scale);
        poles.push_back(k < 4 ? 0.0 : -3.0 * scale);
        residues.push_back(0.01 / (k + 1));
        residues.push_back(k < 4 ? 0.0 : 0.002);
      }
      if (!fitter->SetElementModel(i, j, kTerms, i == j ? 0.1 : 0.01, 0.0, 1e-11 * (i + j),
                                   poles.data(), residues.data())) {
        std::fprintf(stderr, "SetElementModel: %s\n", fitter->GetErrorMessage());
        return 1;
      }
    }
  }
  if (!fitter->WritePoles(argv[1])) return 1;
  std::vector<double> values(2 * static_cast<std::size_t>(kPoints) * kPorts * kPorts);
  double best = 1e300;
  for (int run = 0; run < 5; ++run) {
    const auto start = std::chrono::steady_clock::now();
    double* out = values.data();
    for (int k = 0; k < kPoints; ++k) {
      const double f = 1e6 + 2e6 * k;
      for (int i = 0; i < kPorts; ++i)
        for (int j = 0; j < kPorts; ++j, out += 2) fitter->EvaluateModelElement(i, j, f, out);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  std::printf("seconds %.6f\n", best);
  return 0;
}
