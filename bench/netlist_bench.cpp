// Writing the netlists of a 32-port model with 30 common poles (10 real, 20
// in pairs, residues at every element): time and file size of the
// equivalent circuit against the LAPLACE form of the same model.
//
// Usage: cfit_netlist_bench [folder for the files (default: /tmp)]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/network.h"
#include "io/equivalent_circuit_writer.h"
#include "io/subcircuit_writer.h"

namespace {

constexpr int kPorts = 32, kReal = 10, kPairs = 10;

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

cfit::Model MakeModel() {
  cfit::Model m = cfit::Model::Empty(kPorts);
  m.dataType = cfit::kS;
  m.shape = cfit::PoleShape::kCommon;
  m.impedances = std::vector<double>(kPorts, 50.0);
  for (int k = 0; k < kReal + kPairs; ++k) {
    const bool pair = k >= kReal;
    const double f = 1e8 * (1 + 3 * k);
    cfit::PoleTerm& t = m.commonPoles.emplace_back(kPorts);
    t.SetPole(pair ? 0.05 * f : f, pair ? -f : 0.0);
    for (int e = 0; e < kPorts * kPorts; ++e) {
      t.SetResidue(e / kPorts, e % kPorts, {1e-3 * (1 + e % 7), pair ? -5e-4 * (e % 5) : 0.0});
    }
  }
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "/tmp";
  const cfit::Model model = MakeModel();
  const cfit::ElementTable elements(kPorts, cfit::kS);
  const std::string equivalent = (folder / "cfit_bench_equivalent.cir").string();
  const std::string laplace = (folder / "cfit_bench_laplace.cir").string();
  // The LAPLACE writer logs its start and end lines on standard output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
  // Five runs of each, the fastest counting.
  double equivalentSeconds = 1e300, laplaceSeconds = 1e300;
  for (int run = 0; run < 5; ++run) {
    auto start = std::chrono::steady_clock::now();
    if (!cfit::WriteEquivalentCircuitFile(equivalent, model, &elements).ok()) return 1;
    equivalentSeconds = std::min(equivalentSeconds, Seconds(start));
    start = std::chrono::steady_clock::now();
    if (!cfit::WriteSubcircuitFile(laplace, model).ok()) return 1;
    laplaceSeconds = std::min(laplaceSeconds, Seconds(start));
  }
  std::fprintf(stderr,
               "32 ports, 30 common poles: equivalent circuit %.3f s, %.2f MB; "
               "LAPLACE form %.3f s, %.2f MB\n",
               equivalentSeconds, std::filesystem::file_size(equivalent) / 1e6, laplaceSeconds,
               std::filesystem::file_size(laplace) / 1e6);
  return 0;
}
