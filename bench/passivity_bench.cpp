// Passivity check and enforcement on fits of the real files and of tiled
// 16- and 32-port networks. For every fit prints: file, pole mode, ports,
// seconds of CheckModelPassivity and its largest measure; seconds of the
// exact certificate, its verdict and band count; seconds of the enforcement
// by residue perturbation, the certificate's verdict after it and the
// relative RMS error after it; seconds of the classic EnforceModelPassivity
// and its result and largest measure after; the relative RMS error before
// and after the classic loops. It writes the model evaluated at 20,000
// log-spaced frequencies, from the smallest pole magnitude / 100 to 100
// times the largest, into DUMP/<name>.<mode>.{before,new,after}.bin (before
// enforcement, after the residue perturbation, after the classic loops), the
// delay-free model before enforcement into .free.bin and the certificate's
// bands (hertz, one "from to" per line) into .bands, for the independent
// dense check (bench/passivity_dense_check.py). The run log of every fit
// goes to stderr, each line stamped with the seconds since the fit started.
//
// Every fit is made twice, by the library's single pass and by the iterated
// relocation (pole mode "common-iterated", "individual-iterated"), unless
// the fourth argument names one of them ("single" or "iterated").
//
// Usage: cfit_passivity_bench DUMP [data-folder [name-filter [single|iterated|both
//        [individual|common|both]]]]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "api/iterated_fit_operation.h"
#include "api/passivity_operations.h"
#include "fit/model_evaluation.h"
#include "fit/state_space.h"
#include "io/run_log.h"
#include "passivity/accurate_enforcement.h"
#include "passivity/passivity_certificate.h"

namespace {

using cfit::cCfit;
using cfit::Complex;
namespace fs = std::filesystem;

constexpr int kDensePoints = 20000;
constexpr double kHertz = 0.5 / std::numbers::pi;  // rad/s to hertz

// The run log of a fit, copied to stderr with the seconds since the fit
// started in front of every line, to see where the time goes.
class TimedLog : public std::streambuf {
 public:
  explicit TimedLog(std::string name) : name_(std::move(name)) {}

 protected:
  int overflow(int c) override {
    if (c == EOF) return 0;
    if (lineStart_) {
      std::fprintf(
          stderr, "[%s %8.2f s] ", name_.c_str(),
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
    }
    std::fputc(c, stderr);
    lineStart_ = c == '\n';
    if (lineStart_) std::fflush(stderr);
    return c;
  }

 private:
  std::string name_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  bool lineStart_ = true;
};

std::unique_ptr<cCfit> Make(bool individual) {
  cFitParams params;
  params.individualPoles = individual;
  return std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(&params)));
}

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double RelativeRms(const cCfit& f, const cfit::ModelView& view) {
  const cfit::FitterState& s = f.state();
  double diff = 0.0, norm = 0.0;
  for (cfit::ConstMatrixView p : s.network.data->points()) {
    for (int i = 0; i < s.network.portCount; ++i) {
      for (int j = 0; j < s.network.portCount; ++j) {
        const double e = cfit::Abs(cfit::EvaluateElement(view, i, j, p.frequency()) - p.At(i, j));
        diff += e * e;
        norm += p.At(i, j).re * p.At(i, j).re + p.At(i, j).im * p.At(i, j).im;
      }
    }
  }
  return std::sqrt(diff / norm);
}

// Smallest and largest pole magnitude of the model.
void PoleSpan(const cCfit& f, double* low, double* high) {
  *low = 1e300;
  *high = 0.0;
  auto take = [&](const cfit::PoleList& list) {
    for (const cfit::PoleTerm& t : list) {
      const double m = cfit::Abs(t.GetPole());
      *low = std::min(*low, m);
      *high = std::max(*high, m);
    }
  };
  take(f.state().model->commonPoles);
  for (const cfit::PoleList& list : f.state().model->elementPoles) take(list);
}

double RelativeRms(const cCfit& f) { return RelativeRms(f, cfit::ViewOf(f.state())); }

// Binary dump: int32 ports, int32 count, int32 data type, then per frequency
// the frequency and N x N (re, im) doubles.
void Dump(const cCfit& f, const cfit::ModelView& view, double low, double high,
          const fs::path& path) {
  std::ofstream out(path, std::ios::binary);
  const int32_t n = f.state().network.portCount, count = kDensePoints,
                type = f.state().network.dataType;
  out.write(reinterpret_cast<const char*>(&n), sizeof n);
  out.write(reinterpret_cast<const char*>(&count), sizeof count);
  out.write(reinterpret_cast<const char*>(&type), sizeof type);
  const double a = std::log(low / 100.0), b = std::log(high * 100.0);
  std::vector<double> row(static_cast<std::size_t>(1 + 2 * n * n));
  for (int k = 0; k < count; ++k) {
    const double freq = std::exp(a + (b - a) * k / (count - 1));
    row[0] = freq;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const Complex v = cfit::EvaluateElement(view, i, j, freq);
        row[1 + 2 * (i * n + j)] = v.re;
        row[2 + 2 * (i * n + j)] = v.im;
      }
    }
    out.write(reinterpret_cast<const char*>(row.data()),
              static_cast<std::streamsize>(row.size() * sizeof(double)));
  }
}
void Dump(const cCfit& f, double low, double high, const fs::path& path) {
  Dump(f, cfit::ViewOf(f.state()), low, high, path);
}

std::unique_ptr<cCfit> Tiled(const cCfit& source, int copies, bool individual) {
  auto f = Make(individual);
  const int n = source.state().network.portCount, big = n * copies;
  f->BeginData(big, 1, nullptr);
  std::vector<double> storage(static_cast<std::size_t>(2 * big * big));
  std::vector<double*> rows(static_cast<std::size_t>(big));
  for (int i = 0; i < big; ++i) rows[i] = storage.data() + 2 * big * i;
  // The tiled matrix is the Kronecker product of C (1 on the diagonal, 0.01
  // off it) and S, so its singular values are those of S times those of C,
  // the largest being 1 + 0.01 (copies - 1): the coupling alone would make
  // passive data non-passive. Dividing by that keeps the tiled data passive
  // whenever the package's are.
  const double scale = 1.0 / (1.0 + 0.01 * (copies - 1));
  for (cfit::ConstMatrixView p : source.state().network.data->points()) {
    DataPointRecord r{p.frequency(), rows.data()};
    for (int i = 0; i < big; ++i) {
      for (int j = 0; j < big; ++j) {
        const Complex v = p.At(i % n, j % n) * ((i / n == j / n) ? scale : 0.01 * scale);
        rows[i][2 * j] = v.re;
        rows[i][2 * j + 1] = v.im;
      }
    }
    f->AddDataPoint(&r);
  }
  f->EndData();
  return f;
}

void Run(cCfit& f, const std::string& name, bool individual, bool iterated, const fs::path& dump) {
  const std::string mode =
      std::string(individual ? "individual" : "common") + (iterated ? "-iterated" : "");
  TimedLog timed(name + " " + mode);
  std::ostream log(&timed);
  cfit::runlog::SetSink(&log);
  // As cfit fit --passive fits: the constant held passive where the free
  // one violates.
  cfit::IterationSettings settings;
  settings.holdPassiveConstant = true;
  if ((iterated ? cfit::FitIterated(f, settings) : f.Fit()) == 0) {
    cfit::runlog::SetSink(nullptr);
    std::printf("| %s | %s | fit failed |\n", name.c_str(), mode.c_str());
    return;
  }
  double dataMeasure = 0.0, dataAt = 0.0;
  f.CheckDataPassivity(&dataMeasure, &dataAt);
  double low, high;
  PoleSpan(f, &low, &high);
  const double rmsBefore = RelativeRms(f);
  Dump(f, low, high, dump / (name + "." + mode + ".before.bin"));
  const cfit::FitterState& s = f.state();
  cfit::Model free = *s.model;
  std::fill(free.delay.begin(), free.delay.end(), 0.0);
  Dump(f, {&free, s.network.elements.get(), free.individual(), free.symmetric}, low, high,
       dump / (name + "." + mode + ".free.bin"));

  // The exact certificate of the fitted model, and its bands, whatever its
  // order; models whose matrix is too large to certify in seconds are not
  // enforced by the perturbation (it certifies again and again), as in cfit.
  const int order = cfit::CertificateOrder(*s.model, s.network.elements.get());
  const bool enforce = order <= cfit::kLargeCertificateOrder;
  auto t0 = std::chrono::steady_clock::now();
  const cfit::Result<cfit::PassivityCertificate> cert =
      cfit::CertifyModel(*s.model, s.network.elements.get());
  const double certSeconds = Seconds(t0);
  if (!enforce) {
    std::fprintf(stderr, "%s %s: certificate of order %d in %.2f s (not enforced)\n", name.c_str(),
                 mode.c_str(), order, certSeconds);
  }
  if (cert && cert->halfSize && name.rfind("package_x", 0) == 0) {
    // The same certificate through the full Hamiltonian, for the time the
    // half-size matrix saves.
    const cfit::Result<cfit::StateSpace> ss = cfit::Realize(*s.model, s.network.elements.get());
    if (ss) {
      const cfit::SystemView full{ss->ports,    ss->states,   ss->a.data(), ss->b.data(),
                                  ss->c.data(), ss->d.data(), false};
      t0 = std::chrono::steady_clock::now();
      const auto hamiltonian = cfit::CertifySystem(full, cfit::PassivityKind::kScattering, kHertz);
      std::fprintf(stderr,
                   "%s %s: certificate %.2f s by the half-size matrix (order %d), %.2f s by the "
                   "Hamiltonian (order %d), same bands: %s\n",
                   name.c_str(), mode.c_str(), certSeconds, cert->hamiltonianOrder, Seconds(t0),
                   hamiltonian ? hamiltonian->hamiltonianOrder : 0,
                   hamiltonian && hamiltonian->bands.size() == cert->bands.size() ? "yes" : "no");
    }
  }
  {
    std::ofstream bands(dump / (name + "." + mode + ".bands"));
    bands.precision(17);
    if (cert) {
      for (const cfit::CertifiedBand& b : cert->bands) bands << b.from << " " << b.to << "\n";
    }
  }
  // Enforcement by residue perturbation as cfit fit --passive runs it:
  // damped poles are added beyond the band when the residues alone cost
  // more than twice the fit's error, and an iterated fit whose enforced
  // model stays far from the data is fitted again with its poles near the
  // band. The fitted model comes back afterwards for the classic loops.
  const cfit::Model fitted = *s.model;
  const cfit::ElementTable table = *s.network.elements;
  std::vector<double> freqs;
  for (cfit::ConstMatrixView p : s.network.data->points()) freqs.push_back(p.frequency());
  t0 = std::chrono::steady_clock::now();
  cfit::PerturbationOutcome outcome;
  if (enforce) outcome = cfit::EnforceByPerturbation(f, freqs, iterated ? &settings : nullptr);
  const double newSeconds = Seconds(t0);
  const cfit::Model enforced = *s.model;
  *f.state().model = fitted;
  *f.state().network.elements = table;
  if (outcome.refitted) {
    std::fprintf(stderr, "%s %s: enforced on the fit with its poles near the band (%.3g)\n",
                 name.c_str(), mode.c_str(), outcome.refitError);
  }
  const cfit::ModelView enforcedView{&enforced, s.network.elements.get(), enforced.individual(),
                                     enforced.symmetric};
  const double rmsNew = RelativeRms(f, enforcedView);
  Dump(f, enforcedView, low, high, dump / (name + "." + mode + ".new.bin"));
  double measure = 0.0, at = 0.0;
  t0 = std::chrono::steady_clock::now();
  f.CheckModelPassivity(&measure, &at);
  const double checkSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  t0 = std::chrono::steady_clock::now();
  const int result = f.EnforceModelPassivity(1.0);
  const double enforceSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  double after = 0.0;
  f.CheckModelPassivity(&after, &at);
  cfit::runlog::SetSink(nullptr);
  PoleSpan(f, &low, &high);
  Dump(f, low, high, dump / (name + "." + mode + ".after.bin"));
  std::printf(
      "| %s | %s | %d | %.9g | %.4f | %.4g | %.4f | %s | %zu | %.4f | %s | %d | %d | %.3g | %.4f | "
      "%d | "
      "%.4g | %.3g | %.3g |\n",
      name.c_str(), mode.c_str(), f.state().network.portCount, dataMeasure, checkSeconds, measure,
      certSeconds, cert ? (cert->passive ? "passive" : "violations") : "failed",
      cert ? cert->bands.size() : 0, newSeconds,
      !enforce          ? "not run"
      : outcome.passive ? "passive"
                        : "failed",
      outcome.passive ? outcome.steps : -1, outcome.addedPoles, rmsNew, enforceSeconds, result,
      after, rmsBefore, RelativeRms(f));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DUMP [data-folder]\n", argv[0]);
    return 2;
  }
  const fs::path dump = argv[1];
  const fs::path folder = argc > 2 ? argv[2] : CFIT_BENCH_DATA_DIR;
  fs::create_directories(dump);
  const std::string filter = argc > 3 ? argv[3] : "";
  // The fits to enforce: the library's single pass, the iterated relocation
  // (cfit fit's default), or both.
  const std::string which = argc > 4 ? argv[4] : "both";
  std::vector<bool> fits;
  if (which != "iterated") fits.push_back(false);
  if (which != "single") fits.push_back(true);
  // And the pole modes: "individual", "common" or both.
  const std::string poles = argc > 5 ? argv[5] : "both";
  std::vector<bool> modes;
  if (poles != "common") modes.push_back(true);
  if (poles != "individual") modes.push_back(false);
  std::printf(
      "| file | poles | ports | data measure | check s | largest measure | certificate s | verdict "
      "| bands | "
      "perturbation s | verdict | steps | added poles | rel. RMS after | classic s | result | "
      "after "
      "| rel. RMS before | after classic "
      "|\n|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
      "---|---|\n");
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("reject_", 0) == 0 || e.path().extension() == ".md") continue;
    if (name.find(filter) == std::string::npos) continue;
    files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& path : files) {
    for (bool iterated : fits) {
      for (bool individual : modes) {
        auto f = Make(individual);
        std::ostringstream log;
        cfit::runlog::SetSink(&log);
        const bool read =
            f->ReadTouchstone(path.c_str()) != 0 && f->state().network.data->point_count() > 1;
        cfit::runlog::SetSink(nullptr);
        if (read) Run(*f, path.filename().string(), individual, iterated, dump);
      }
    }
  }
  for (int copies : {2, 4}) {
    if (("package_x" + std::to_string(copies)).find(filter) == std::string::npos) continue;
    for (bool iterated : fits) {
      for (bool individual : modes) {
        auto source = Make(true);
        std::ostringstream log;
        cfit::runlog::SetSink(&log);
        source->ReadTouchstone((folder / "package_8port_sim.s8p").c_str());
        cfit::runlog::SetSink(nullptr);
        auto f = Tiled(*source, copies, individual);
        Run(*f, "package_x" + std::to_string(copies), individual, iterated, dump);
      }
    }
  }
  return 0;
}
