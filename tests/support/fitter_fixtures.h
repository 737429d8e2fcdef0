// Fitters in known states for the hardening tests: synthetic passive N-port
// data of each parameter type, small working sets, and a scratch directory
// that is removed when the test program ends.
#ifndef CFIT_TESTS_SUPPORT_FITTER_FIXTURES_H
#define CFIT_TESTS_SUPPORT_FITTER_FIXTURES_H

#include <unistd.h>

#include <atomic>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "cfit/cfit.h"

namespace cfit::testing {

using Fitter = std::unique_ptr<cCfit>;

// Working storage for at most 200 points and 40 columns, so that a fitter is
// cheap to make.
inline cFitParams SmallParams(bool individualPoles = true) {
  cFitParams p;
  p.maxFrequencyPoints = 200, p.maxColumns = 40, p.individualPoles = individualPoles;
  return p;
}

// A file of the shared folder of real Touchstone files.
inline std::string RealFile(const std::string& name) {
  const char* folder = std::getenv("CFIT_TEST_DATA");
  return std::string(folder != nullptr ? folder : "../shared/data/touchstone") + "/" + name;
}

// A fitter of the library's default size (or of `params`).
inline Fitter NewFitter(cFitParams params = cFitParams{}) {
  return Fitter(static_cast<cCfit*>(cFitAPI::Create(&params)));
}
// The recorded message, or "" when there is none.
inline std::string Message(cCfit& f) {
  return f.GetErrorMessage() != nullptr ? f.GetErrorMessage() : "";
}

inline Fitter MakeFitter(bool individualPoles = true) {
  cFitParams p = SmallParams(individualPoles);
  return Fitter(static_cast<cCfit*>(cFitAPI::Create(&p)));
}

// One point as a host hands it in; the record points into the object.
struct PointRecord {
  explicit PointRecord(int n) : values_(2 * n * n), rows_(n) {
    for (int i = 0; i < n; ++i) rows_[i] = values_.data() + 2 * n * i;
    record_.values = rows_.data();
  }
  void Set(int i, int j, std::complex<double> v) {
    rows_[i][2 * j] = v.real(), rows_[i][2 * j + 1] = v.imag();
  }
  DataPointRecord* get(double f) { return record_.frequency = f, &record_; }
  std::vector<double> values_;
  std::vector<double*> rows_;
  DataPointRecord record_{};
};

// Loads `count` synthetic points from 100 MHz to 10 GHz of a passive N-port
// (N <= 4) of type S, Y or Z through BeginData, AddDataPoint and EndData. S:
// a first-order low pass with row sums of magnitudes below 1. Y and Z: a
// diagonally dominant real part times (1 + 1 / (1 + j f / f0)), plus a term
// proportional to frequency, so that the Hermitian part stays positive.
// `asymmetry` scales element (0, 1) to make the data non-reciprocal.
inline void LoadSynthetic(cFitAPI& f, int n, int type, int count = 20, double asymmetry = 1.0) {
  const std::vector<double> z(n, 50.0);
  f.BeginData(n, type, z.data());
  PointRecord record(n);
  for (int k = 0; k < count; ++k) {
    const double freq = 1e8 + k * (1e10 - 1e8) / (count - 1);
    const std::complex<double> x(0.0, freq / 2e9),
        yz = 1.0 + 1.0 / (1.0 + x) + std::complex<double>(0.0, freq / 1e10);
    for (int e = 0; e < n * n; ++e) {
      const bool diagonal = e / n == e % n;
      const std::complex<double> v = type == kY || type == kZ
                                         ? (type == kY ? 0.02 : 50.0) * (diagonal ? 1.0 : -0.2) * yz
                                         : (diagonal ? 0.4 : 0.2 / n) / (1.0 + x);
      record.Set(e / n, e % n, (e == 1 ? asymmetry : 1.0) * v);
    }
    f.AddDataPoint(record.get(freq));
  }
  f.EndData();
}

// Whether two lists of doubles are the same bit for bit.
inline bool SameBits(const std::vector<double>& x, const std::vector<double>& y) {
  return x.size() == y.size() &&
         (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0);
}

// A directory of the test program's own, removed at exit; NewFile gives a
// fresh file name in it.
struct ScratchDirectory {
  ScratchDirectory() { std::filesystem::create_directories(path_); }
  ~ScratchDirectory() { std::filesystem::remove_all(path_, ignored_); }
  const std::filesystem::path& path() const { return path_; }
  std::string NewFile(const std::string& stem) {
    return (path_ / (stem + "_" + std::to_string(counter_++))).string();
  }
  std::filesystem::path path_ =
      std::filesystem::temp_directory_path() / ("cfit_hardening_" + std::to_string(::getpid()));
  std::atomic<int> counter_{0};
  std::error_code ignored_;
};

inline ScratchDirectory& Scratch() {
  static ScratchDirectory directory;
  return directory;
}

}  // namespace cfit::testing

#endif  // CFIT_TESTS_SUPPORT_FITTER_FIXTURES_H
