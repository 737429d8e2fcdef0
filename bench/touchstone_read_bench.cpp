// Speed of ReadTouchstone on large generated files: a 16-port RI file of
// 5,000 points and a 4-port DB file. The files are written by the library's
// own Touchstone writer from random data. With CFIT_BENCH_DIR set they are
// written there and kept (bench/touchstone_read_vs_skrf.py reads them with
// scikit-rf for the comparison); otherwise they go to a temporary folder that
// is removed afterwards.
//
// Reported per file: bytes per second of the whole read (file to sampled
// data). "cfit_touchstone_bench --peak-memory <file>" instead reads one file
// once in a fresh process and prints its peak resident memory divided by the
// file size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "io/run_log.h"

namespace {

struct BenchFile {
  const char* name;
  int ports;
  int points;
  int format;  // 0 RI, 2 DB
};

const BenchFile kFiles[] = {{"bench16_ri.s16p", 16, 5000, 0}, {"bench4_db.s4p", 4, 100000, 2}};

std::filesystem::path& Folder() {
  static std::filesystem::path folder;
  return folder;
}

void Generate(const BenchFile& file, const std::string& path) {
  std::ostringstream quiet;  // keeps standard output for the benchmark's report
  std::ostream* previous = cfit::runlog::SetSink(&quiet);
  cFitParams params;
  cfit::cCfit fitter;
  fitter.Init(&params);
  std::vector<double> impedances(static_cast<std::size_t>(file.ports), 50.0);
  fitter.BeginData(file.ports, 1, impedances.data());
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<std::vector<double>> rows(
      static_cast<std::size_t>(file.ports),
      std::vector<double>(2 * static_cast<std::size_t>(file.ports)));
  std::vector<double*> pointers;
  for (auto& row : rows) pointers.push_back(row.data());
  for (int k = 0; k < file.points; ++k) {
    for (auto& row : rows) {
      for (double& x : row) x = value(random);
    }
    DataPointRecord record{1e6 * (k + 1), pointers.data()};
    fitter.AddDataPoint(&record);
  }
  fitter.EndData();
  fitter.WriteTouchstone(path.c_str(), file.format);
  cfit::runlog::SetSink(previous);
}

// Peak resident memory of this process image: VmHWM of /proc/self/status
// (Linux), which starts afresh at exec; getrusage's figure is the fallback
// (on Linux it keeps the parent's peak across fork and exec).
double PeakMemoryBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) * 1024.0;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

void BM_ReadTouchstone(benchmark::State& state, const BenchFile* file) {
  const std::string path = (Folder() / file->name).string();
  const double size = static_cast<double>(std::filesystem::file_size(path));
  std::ostringstream sink;
  std::ostream* previous = cfit::runlog::SetSink(&sink);
  for (auto _ : state) {
    // The smallest fitting work storage, so that the memory figure is the
    // reader's own.
    cFitParams params;
    params.maxFrequencyPoints = 1;
    params.maxColumns = 1;
    cfit::cCfit fitter;
    fitter.Init(&params);
    const int ports = fitter.ReadTouchstone(path.c_str());
    if (ports != file->ports || fitter.state().network.data->point_count() != file->points) {
      state.SkipWithError("the generated file did not read back");
      break;
    }
    sink.str(std::string());
  }
  cfit::runlog::SetSink(previous);
  state.SetBytesProcessed(static_cast<int64_t>(size) * state.iterations());
  state.counters["file_MB"] = size / 1e6;
}

// Reads `path` once with the smallest fitting work storage and prints the
// process's peak resident memory relative to the file size.
int PeakMemoryOfOneRead(const char* path) {
  std::ostringstream sink;
  cfit::runlog::SetSink(&sink);
  cFitParams params;
  params.maxFrequencyPoints = 1;
  params.maxColumns = 1;
  cfit::cCfit fitter;
  fitter.Init(&params);
  if (fitter.ReadTouchstone(path) == 0) return 1;
  std::printf("%.3f\n", PeakMemoryBytes() / static_cast<double>(std::filesystem::file_size(path)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--peak-memory") return PeakMemoryOfOneRead(argv[2]);
  const char* keep = std::getenv("CFIT_BENCH_DIR");
  Folder() = keep != nullptr ? std::filesystem::path(keep)
                             : std::filesystem::temp_directory_path() /
                                   ("cfit_touchstone_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(Folder());
  for (const BenchFile& file : kFiles) {
    const std::string path = (Folder() / file.name).string();
    if (!std::filesystem::exists(path)) Generate(file, path);
    benchmark::RegisterBenchmark((std::string("ReadTouchstone/") + file.name).c_str(),
                                 BM_ReadTouchstone, &file)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (keep == nullptr) std::filesystem::remove_all(Folder());
  return 0;
}
