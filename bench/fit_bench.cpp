// Whole fits of the real Touchstone files and of tiled 16- and 32-port
// networks, individual and common poles. Prints one table row per fit:
// file, ports, points, fitted elements, seconds, total poles (real poles plus
// two per pair, summed over the stored lists), relative RMS error
// ||S - S_fit||_F / ||S||_F, largest error and peak memory of the fit.
//
// Every fit runs in a child process, so that its peak resident memory can be
// read alone and the library's run log can go to /dev/null.
//
// A second table puts the iterated common-pole fit (default settings, and
// with order control aimed at the peer's error and order) beside the single
// pass and the figures of scikit-rf's auto_fit measured on this kind of
// machine (shared/peers/scikit-rf-vector-fitting.md): order, relative RMS and
// seconds, with the ratios ours / peer.
//
// Usage: cfit_fit_bench [data-folder [peer-only]]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "fit/iterated_fit.h"
#include "fit/model_evaluation.h"

namespace {

using cfit::cCfit;
using cfit::Complex;

struct Result {
  int ok = 0;
  int ports = 0;
  int points = 0;
  int elements = 0;
  double seconds = 0.0;
  int poles = 0;
  double relativeRms = 0.0;
  double largest = 0.0;
};

std::unique_ptr<cCfit> Make(bool individual) {
  cFitParams params;
  params.individualPoles = individual;
  return std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(&params)));
}

// A 2x2 block tiling of an n-port: the network on the diagonal blocks and
// `coupling` times it on the off-diagonal ones.
std::unique_ptr<cCfit> Tiled(const cCfit& source, int copies, double coupling, bool individual) {
  auto f = Make(individual);
  const int n = source.state().network.portCount;
  const int big = n * copies;
  std::vector<double> z(static_cast<std::size_t>(big), 50.0);
  f->BeginData(big, 1, z.data());
  std::vector<double> storage(static_cast<std::size_t>(2 * big * big));
  std::vector<double*> rows(static_cast<std::size_t>(big));
  for (int i = 0; i < big; ++i) rows[i] = storage.data() + 2 * big * i;
  for (cfit::ConstMatrixView p : source.state().network.data->points()) {
    DataPointRecord r{p.frequency(), rows.data()};
    for (int i = 0; i < big; ++i) {
      for (int j = 0; j < big; ++j) {
        const double scale = (i / n == j / n) ? 1.0 : coupling;
        const Complex v = p.At(i % n, j % n) * scale;
        rows[i][2 * j] = v.re;
        rows[i][2 * j + 1] = v.im;
      }
    }
    f->AddDataPoint(&r);
  }
  f->EndData();
  return f;
}

// How a fit is made: the library's single pass, or the iterated fit with
// these settings.
struct Method {
  bool iterated = false;
  cfit::IterationSettings settings;
};

Result Measure(cCfit& f, const Method& method = {}) {
  Result r;
  const auto start = std::chrono::steady_clock::now();
  if (method.iterated) {
    r.ok = cfit::FitIterated(f.state(), method.settings, cfit::RunContext()).ok;
  } else {
    r.ok = f.Fit();
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const cfit::FitterState& s = f.state();
  const int n = s.network.portCount;
  r.ports = n;
  r.points = s.network.data->point_count();
  r.elements = s.settings.individualPoles ? (s.network.symmetric ? n * (n + 1) / 2 : n * n) : 1;
  if (!f.HasFit()) return r;
  auto order = [](const cfit::PoleList& list) {
    int count = 0;
    for (const cfit::PoleTerm& t : list) count += t.IsReal() ? 1 : 2;
    return count;
  };
  if (s.settings.individualPoles) {
    for (const cfit::PoleList& list : s.model->elementPoles) r.poles += order(list);
  } else {
    r.poles = order(s.model->commonPoles);
  }
  double diff2 = 0.0, norm2 = 0.0;
  for (cfit::ConstMatrixView p : s.network.data->points()) {
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const Complex v = p.At(i, j);
        const double e = cfit::Abs(cfit::EvaluateElement(s, i, j, p.frequency()) - v);
        diff2 += e * e;
        norm2 += v.re * v.re + v.im * v.im;
        r.largest = std::max(r.largest, e);
      }
    }
  }
  r.relativeRms = norm2 > 0.0 ? std::sqrt(diff2 / norm2) : 0.0;
  return r;
}

// Runs `job` in a child with the run log silenced; returns its result and
// peak resident memory in MB.
template <class Job>
bool RunChild(Job job, Result* result, double* peakMb) {
  int pipeFd[2];
  if (pipe(pipeFd) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFd[0]);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    const Result r = job();
    const ssize_t written = write(pipeFd[1], &r, sizeof r);
    _exit(written == static_cast<ssize_t>(sizeof r) ? 0 : 1);
  }
  close(pipeFd[1]);
  const ssize_t got = read(pipeFd[0], result, sizeof *result);
  close(pipeFd[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  *peakMb = usage.ru_maxrss / 1024.0;
  return got == static_cast<ssize_t>(sizeof *result);
}

void Print(const std::string& name, const char* mode, const Result& r, double peakMb) {
  std::fprintf(stderr, "| %s | %s | %d | %d | %d | %.4f | %d | %.2e | %.2e | %.0f |%s\n",
               name.c_str(), mode, r.ports, r.points, r.elements, r.seconds, r.poles, r.relativeRms,
               r.largest, peakMb, r.ok ? "" : " fit failed");
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path folder = argc > 1 ? argv[1] : CFIT_BENCH_DATA_DIR;
  // The peer's auto_fit figures: file (or tiled copies of the package),
  // order, relative RMS (0: not given) and seconds.
  struct Peer {
    const char* file;
    int copies;
    int order;
    double rms;
    double seconds;
  };
  constexpr int kPeerRuns = 5;
  const Peer peers[] = {
      {"ring_slot_sim.s2p", 0, 7, 7.9e-7, 0.0032},
      {"twoport_mixed_eol.s2p", 0, 5, 5.8e-10, 0.0023},
      {"ideal_tee_sim.s3p", 0, 9, 6e-16, 0.0054},
      {"active_tx_190ghz_measured.s2p", 0, 21, 0.013, 0.062},
      {"fourport_measured_75ohm.s4p", 0, 57, 3.4e-3, 0.52},
      {"package_8port_sim.s8p", 0, 23, 3.2e-4, 0.27},
      {"package_8port_sim.s8p", 2, 23, 0.0, 1.3},
      {"package_8port_sim.s8p", 4, 23, 0.0, 6.4},
  };
  std::fprintf(stderr,
               "| file | fit | order | rel. RMS | seconds | peer order | peer rel. RMS | "
               "peer seconds | RMS ours/peer | peer time / ours |\n"
               "|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Peer& peer : peers) {
    Method single, iterated, controlled;
    iterated.iterated = controlled.iterated = true;
    controlled.settings.targetError = peer.rms > 0.0 ? peer.rms : 3.2e-4;
    controlled.settings.maxOrder = peer.order;
    const std::pair<const char*, Method> methods[] = {
        {"single pass", single}, {"iterated", iterated}, {"iterated, order control", controlled}};
    for (const auto& [label, method] : methods) {
      // The median time of kPeerRuns fits (a fit of a few milliseconds
      // varies by tens of percent from run to run on a shared machine).
      Result r;
      std::vector<double> seconds;
      for (int run = 0; run < kPeerRuns; ++run) {
        double peak = 0.0;
        RunChild(
            [&, m = method] {
              auto f = Make(false);
              Result bad;
              if (f->ReadTouchstone((folder / peer.file).c_str()) == 0) return bad;
              if (peer.copies == 0) return Measure(*f, m);
              auto tiled = Tiled(*f, peer.copies, 0.01, false);
              f.reset();
              return Measure(*tiled, m);
            },
            &r, &peak);
        seconds.push_back(r.seconds);
      }
      std::sort(seconds.begin(), seconds.end());
      r.seconds = seconds[seconds.size() / 2];
      const std::string name = peer.copies == 0
                                   ? std::string(peer.file)
                                   : "package x" + std::to_string(peer.copies) + " (1 % coupling)";
      std::fprintf(
          stderr, "| %s | %s | %d | %.2e | %.4f | %d | %.2g | %.4f | %s | %.1f |%s\n", name.c_str(),
          label, r.poles, r.relativeRms, r.seconds, peer.order, peer.rms, peer.seconds,
          peer.rms > 0.0 ? std::to_string(r.relativeRms / peer.rms).substr(0, 6).c_str() : "-",
          r.seconds > 0.0 ? peer.seconds / r.seconds : 0.0, r.ok ? "" : " fit failed");
    }
  }
  std::fprintf(stderr, "\n");
  if (argc > 2) return 0;  // the peer table only
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("reject_", 0) == 0 || entry.path().extension() == ".md") continue;
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::fprintf(stderr,
               "| file | poles | ports | points | fitted | seconds | total poles | rel. RMS | "
               "largest error | peak MB |\n|---|---|---|---|---|---|---|---|---|---|\n");
  for (const fs::path& path : files) {
    for (bool individual : {true, false}) {
      Result r;
      double peak = 0.0;
      const bool ran = RunChild(
          [&] {
            auto f = Make(individual);
            Result bad;
            if (f->ReadTouchstone(path.c_str()) == 0) return bad;
            return Measure(*f);
          },
          &r, &peak);
      if (ran && r.ports > 0) {
        Print(path.filename().string(), individual ? "individual" : "common", r, peak);
      }
    }
  }
  const fs::path package = folder / "package_8port_sim.s8p";
  for (int copies : {2, 4}) {
    for (bool individual : {true, false}) {
      Result r;
      double peak = 0.0;
      RunChild(
          [&] {
            auto source = Make(true);
            Result bad;
            if (source->ReadTouchstone(package.c_str()) == 0) return bad;
            auto f = Tiled(*source, copies, 0.01, individual);
            source.reset();
            return Measure(*f);
          },
          &r, &peak);
      Print("package x" + std::to_string(copies) + " (1 % coupling)",
            individual ? "individual" : "common", r, peak);
    }
  }
  return 0;
}
