// What the network tests share: fitters holding given matrices, their values
// as std::complex, the real files read as written, and the binary dumps the
// scikit-rf cross-check (skrf_crosscheck.py) reads.
#ifndef CFIT_TESTS_NETWORK_NETWORK_SUPPORT_H
#define CFIT_TESTS_NETWORK_NETWORK_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "support/fitter_fixtures.h"
#include "support/log_capture.h"

namespace cfit::testing {

using C = std::complex<double>;
using CMatrix = std::vector<C>;  // n x n, row by row

// Data of `type` with the impedances z0, one point per matrix at 1 GHz,
// 2 GHz, ...
inline void LoadData(cCfit& f, int n, int type, const std::vector<double>& z0,
                     const std::vector<CMatrix>& matrices) {
  f.BeginData(n, type, z0.data());
  double frequency = 0.0;
  for (const CMatrix& m : matrices) {
    PortMatrix p(n);
    p.set_frequency(frequency += 1e9);
    for (int e = 0; e < n * n; ++e) p.Row(0)[e] = {m[e].real(), m[e].imag()};
    ASSERT_TRUE(f.state().network.data->Append(std::move(p)));
  }
}

// The values of point k, row by row.
inline CMatrix PointValues(const cCfit& f, int k) {
  const ConstMatrixView p = f.state().network.data->points()[k];
  CMatrix m;
  for (int e = 0; e < p.order() * p.order(); ++e) m.emplace_back(p.Row(0)[e].re, p.Row(0)[e].im);
  return m;
}

// Every value of every point, point by point.
inline std::vector<Complex> Values(const cCfit& f) {
  std::vector<Complex> values;
  for (ConstMatrixView p : f.state().network.data->points())
    values.insert(values.end(), p.Row(0), p.Row(0) + p.order() * p.order());
  return values;
}

inline std::vector<double> Impedances(const cCfit& f) { return *f.state().network.impedances; }

inline double Difference(const CMatrix& a, const CMatrix& b) {
  if (a.size() != b.size()) return std::numeric_limits<double>::infinity();
  double worst = 0.0;
  for (std::size_t e = 0; e < a.size(); ++e) worst = std::max(worst, std::abs(a[e] - b[e]));
  return worst;
}

// One element term as held: the pole and the residue.
struct Term {
  C pole, residue;
};

// Sets element (i, j) to `terms` through the caller's (re, im) arrays.
inline int SetTerms(cCfit& f, int i, int j, const std::vector<Term>& terms, double d, double e,
                    double tau = 0.0) {
  std::vector<double> poles, residues;
  for (const Term& t : terms) {
    poles.insert(poles.end(), {t.pole.real(), t.pole.imag()});
    residues.insert(residues.end(), {t.residue.real(), t.residue.imag()});
  }
  return f.SetElementModel(i, j, static_cast<int>(terms.size()), d, e, tau, poles.data(),
                           residues.data());
}

// The real files, sorted; empty when CFIT_TEST_DATA is not set.
inline std::vector<std::filesystem::path> RealFiles() {
  std::vector<std::filesystem::path> files;
  if (const char* folder = std::getenv("CFIT_TEST_DATA"); folder != nullptr) {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A fitter that read `file` as written (no symmetrising); null when the
// file does not read.
inline std::unique_ptr<cCfit> ReadAsWritten(const std::filesystem::path& file,
                                            cFitParams params = cFitParams{}) {
  params.symmetryTolerance = 0.0;
  auto f = NewFitter(params);
  LogCapture quiet;
  if (f->ReadTouchstone(file.c_str()) == 0) return nullptr;
  return f;
}

// A binary file "<name>.bin" in the folder CFIT_SKRF_DUMP names; writes
// nothing when it names none.
class Dump {
 public:
  explicit Dump(const std::string& name) {
    if (const char* folder = std::getenv("CFIT_SKRF_DUMP"); folder != nullptr)
      file_ = std::fopen((std::string(folder) + "/" + name + ".bin").c_str(), "wb");
  }
  Dump(const Dump&) = delete;
  Dump& operator=(const Dump&) = delete;
  ~Dump() {
    if (file_ != nullptr) std::fclose(file_);
  }
  template <class T>
  Dump& Write(const std::vector<T>& values) {
    if (file_ != nullptr) std::fwrite(values.data(), sizeof(T), values.size(), file_);
    return *this;
  }
  // The values of every point, row by row, point by point.
  Dump& Write(const SampledData& data) {
    for (ConstMatrixView p : data.points())
      Write(std::vector<Complex>(p.Row(0), p.Row(0) + p.order() * p.order()));
    return *this;
  }

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace cfit::testing

#endif  // CFIT_TESTS_NETWORK_NETWORK_SUPPORT_H
