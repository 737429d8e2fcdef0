// Fits a Touchstone file through the engine's iterated fit, as the Python
// package's cfit.fit does by default, and prints the model's fingerprint
// (FNV-1a over every number a host can read, as tests/host computes it) as
// the last line of standard output, after the run log. The Python tests
// hold the package's fits to it bit for bit.
//
// Usage: cfit_python_fit_print FILE COMMON ITERATIONS TARGET_ERROR MAX_ORDER
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "api/file_operations.h"
#include "api/iterated_fit_operation.h"
#include "cfit/cfit.h"
#include "support/fnv_hash.h"

namespace {

using Hash = FnvHash;

std::uint64_t Fingerprint(cFitAPI& f) {
  Hash hash;
  const int n = f.GetPortCount();
  hash.Add(n);
  hash.Add(f.GetDataType());
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      int poles = 0;
      double constant = 0, proportional = 0, delay = 0;
      f.GetElementModelInfo(i, j, &poles, &constant, &proportional, &delay);
      hash.Add(poles);
      hash.Add(constant);
      hash.Add(proportional);
      hash.Add(delay);
      if (poles > 0) {
        std::vector<double> p(2 * static_cast<std::size_t>(poles) + 2), r(p.size());
        const int k = f.GetElementPolesResidues(i, j, p.data(), r.data());
        for (int t = 0; t < 2 * k; ++t) hash.Add(p[t]);
        for (int t = 0; t < 2 * k; ++t) hash.Add(r[t]);
      }
    }
  }
  return hash.value();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s FILE COMMON ITERATIONS TARGET_ERROR MAX_ORDER\n", argv[0]);
    return 2;
  }
  cFitParams params;
  params.individualPoles = std::atoi(argv[2]) == 0;
  std::unique_ptr<cFitAPI> fitter(cFitAPI::Create(&params));
  cfit::IterationSettings settings;
  settings.maxIterations = std::atoi(argv[3]);
  settings.targetError = std::atof(argv[4]);
  settings.maxOrder = std::atoi(argv[5]);
  if (cfit::ReadAnyTouchstone(*fitter, argv[1]) == 0 || cfit::FitIterated(*fitter, settings) == 0) {
    std::fprintf(stderr, "%s\n", fitter->GetErrorMessage() ? fitter->GetErrorMessage() : "failed");
    return 1;
  }
  std::printf("%016llx\n", static_cast<unsigned long long>(Fingerprint(*fitter)));
  return 0;
}
