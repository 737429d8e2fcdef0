// Fitters in known states for the hardening tests: synthetic passive N-port
// data of each parameter type, small working sets, and a scratch directory
// that is removed when the test program ends.
#ifndef CFIT_TESTS_SUPPORT_FITTER_FIXTURES_H
#define CFIT_TESTS_SUPPORT_FITTER_FIXTURES_H

#include <unistd.h>

#include <atomic>
#include <complex>
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

inline Fitter MakeFitter(bool individualPoles = true) {
  cFitParams p = SmallParams(individualPoles);
  return Fitter(static_cast<cCfit*>(cFitAPI::Create(&p)));
}

// Element (i, j) of a passive N-port (N <= 4) of type S, Y or Z at f. S: a
// first-order low pass with row sums of magnitudes below 1. Y and Z: a
// diagonally dominant real part times (1 + 1 / (1 + j f / f0)), plus a term
// proportional to frequency, so that the Hermitian part stays positive.
inline std::complex<double> SyntheticElement(int type, int n, int i, int j, double f) {
  const std::complex<double> x(0.0, f / 2e9);
  if (type == kY || type == kZ) {
    const double scale = type == kY ? 0.02 : 50.0;
    const double weight = i == j ? 1.0 : -0.2;
    return scale * weight * (1.0 + 1.0 / (1.0 + x) + std::complex<double>(0.0, f / 1e10));
  }
  return (i == j ? 0.4 : 0.2 / n) / (1.0 + x);
}

// The frequency of point k of `count` points from 100 MHz to 10 GHz.
inline double SyntheticFrequency(int k, int count) { return 1e8 + k * (1e10 - 1e8) / (count - 1); }

// One point as a host hands it in; the record points into the object.
class PointRecord {
 public:
  explicit PointRecord(int n) : n_(n), values_(2 * n * n), rows_(n) {
    for (int i = 0; i < n; ++i) rows_[i] = values_.data() + 2 * n * i;
    record_.values = rows_.data();
  }
  void Set(int i, int j, std::complex<double> v) {
    rows_[i][2 * j] = v.real(), rows_[i][2 * j + 1] = v.imag();
  }
  DataPointRecord* get(double f) { return record_.frequency = f, &record_; }
  int n() const { return n_; }

 private:
  int n_;
  std::vector<double> values_;
  std::vector<double*> rows_;
  DataPointRecord record_{};
};

// Loads `count` synthetic points through BeginData, AddDataPoint and EndData.
// `asymmetry` scales element (0, 1) to make the data non-reciprocal.
inline void LoadSynthetic(cFitAPI& f, int n, int type, int count = 20, double asymmetry = 1.0) {
  const std::vector<double> z(static_cast<std::size_t>(n), 50.0);
  f.BeginData(n, type, z.data());
  const int shape = (type == kY || type == kZ) ? type : kS;
  PointRecord record(n);
  for (int k = 0; k < count; ++k) {
    const double freq = SyntheticFrequency(k, count);
    for (int e = 0; e < n * n; ++e) {
      const double scale = e == 1 ? asymmetry : 1.0;  // element (0, 1)
      record.Set(e / n, e % n, scale * SyntheticElement(shape, n, e / n, e % n, freq));
    }
    f.AddDataPoint(record.get(freq));
  }
  f.EndData();
}

// A directory of the test program's own, removed at exit.
class ScratchDirectory {
 public:
  ScratchDirectory()
      : path_(std::filesystem::temp_directory_path() /
              ("cfit_hardening_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() { std::filesystem::remove_all(path_, ignored_); }
  const std::filesystem::path& path() const { return path_; }
  // A fresh file name in the directory.
  std::string NewFile(const std::string& stem) {
    return (path_ / (stem + "_" + std::to_string(counter_++))).string();
  }

 private:
  std::filesystem::path path_;
  std::atomic<int> counter_{0};
  std::error_code ignored_;
};

inline ScratchDirectory& Scratch() {
  static ScratchDirectory directory;
  return directory;
}

}  // namespace cfit::testing

#endif  // CFIT_TESTS_SUPPORT_FITTER_FIXTURES_H
