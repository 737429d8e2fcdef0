// Helpers of the file tests: scratch files, fresh fitters, models built term
// by term in a fitter's state, models fitted to the real files.
#ifndef CFIT_TESTS_IO_IO_SUPPORT_H
#define CFIT_TESTS_IO_IO_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "fit/model_evaluation.h"
#include "support/fitter_fixtures.h"
#include "support/log_capture.h"

namespace cfit::testing {

// A file of the test program's own scratch folder.
inline std::string Path(const std::string& name) { return (Scratch().path() / name).string(); }
inline std::string Write(const std::string& name, const std::string& bytes) {
  std::ofstream(Path(name), std::ios::binary) << bytes;
  return Path(name);
}
inline std::string ReadFileBytes(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}
// A number as the writers print it, and the lines of a text.
inline std::string Num(double x) {
  char text[64];
  return std::string(text, std::snprintf(text, sizeof text, "%20.15le", x));
}
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Keeps the values as written.
inline cFitParams Unsymmetrised() { return {.symmetryTolerance = 0.0}; }
inline std::string FileMessage(const std::string& file, int code) {
  return file + ":\n" + FitErrorText(code);
}

// Loads points through the host operations: values[k][i][j] is element
// (i, j) of point k at frequencies[k].
inline void Load(cCfit& fitter, int n, int type, const std::vector<double>& impedances,
                 const std::vector<double>& frequencies,
                 const std::vector<std::vector<std::vector<Complex>>>& values) {
  fitter.BeginData(n, type, impedances.data());
  PointRecord record(n);
  for (std::size_t k = 0; k < frequencies.size(); ++k) {
    for (int e = 0; e < n * n; ++e) {
      const Complex v = values[k][e / n][e % n];
      record.Set(e / n, e % n, {v.re, v.im});
    }
    EXPECT_TRUE(fitter.AddDataPoint(record.get(frequencies[k])));
  }
  fitter.EndData();
}

// Gives the fitter an empty individual-pole model of N ports, as a loaded
// model holds it.
inline void MakeModel(cCfit& fitter, int n, int dataType, std::vector<double> impedances,
                      bool symmetric = false) {
  ASSERT_EQ(fitter.DefineModel(n, dataType, impedances.data(), symmetric), 1);
  fitter.state().settings.individualPoles = true;
}

// Appends the stored term (pole, residue) to element (i, j), 0-based.
inline void AddTerm(cCfit& fitter, int i, int j, Complex pole, Complex residue) {
  Model& m = *fitter.state().model;
  m.elementPoles[m.Index(i, j)].emplace_back().SetPole(pole);
  m.elementPoles[m.Index(i, j)].back().SetResidue00(residue);
}
// A fitter holding an N-port model (50 ohms) with one term in element (0, 0).
inline std::unique_ptr<cCfit> OneTermModel(int n, int type, Complex pole = {1e9, 0},
                                           Complex residue = {0.5, 0}) {
  auto fitter = NewFitter();
  MakeModel(*fitter, n, type, std::vector<double>(static_cast<std::size_t>(n), 50.0));
  AddTerm(*fitter, 0, 0, pole, residue);
  return fitter;
}
inline double& At(std::vector<double>& table, const cCfit& fitter, int i, int j) {
  return table[fitter.state().model->Index(i, j)];
}

inline std::unique_ptr<cCfit> FittedRealFile(const std::string& name,
                                             cFitParams params = cFitParams{}) {
  LogCapture quiet;
  auto fitter = NewFitter(params);
  EXPECT_GT(fitter->ReadTouchstone(RealFile(name).c_str()), 0) << name;
  EXPECT_EQ(fitter->Fit(), 1) << name;
  return fitter;
}

// A real file fitted as the netlist cross-checks take it: its values
// multiplied by exp(-j 2 pi f addedDelay) (and the delays extracted where
// that is not 0), its ports given `impedances` when not empty, converted to
// `dataType` before the fit.
struct ChangedFile {
  const char* name;
  const char* file;
  bool individualPoles;
  double addedDelay;
  std::vector<double> impedances;
  int dataType = kS;
  bool passive = false;  // the model is made passive after the fit
};

inline std::unique_ptr<cCfit> FitChangedFile(const ChangedFile& c) {
  LogCapture quiet;
  cFitParams params;
  params.individualPoles = c.individualPoles;
  params.extractDelays = c.addedDelay > 0.0;
  auto source = NewFitter(params), fitter = NewFitter(params);
  EXPECT_GT(source->ReadTouchstone(RealFile(c.file).c_str()), 0);
  const FitterState& s = source->state();
  const int n = s.network.portCount;
  fitter->BeginData(n, s.network.dataType,
                    (c.impedances.empty() ? *s.network.impedances : c.impedances).data());
  PointRecord record(n);
  for (ConstMatrixView p : s.network.data->points()) {
    const Complex turn = Exp(Complex(0.0, -2 * std::numbers::pi * p.frequency() * c.addedDelay));
    for (int e = 0; e < n * n; ++e) {
      const Complex v = p.At(e / n, e % n) * turn;
      record.Set(e / n, e % n, {v.re, v.im});
    }
    EXPECT_TRUE(fitter->AddDataPoint(record.get(p.frequency())));
  }
  fitter->EndData();
  if (c.dataType != kS) {
    EXPECT_EQ(fitter->ConvertDataType(c.dataType), 1);
  }
  EXPECT_EQ(fitter->Fit(), 1) << Message(*fitter);
  if (c.passive) {
    EXPECT_EQ(fitter->EnforceModelPassivity(1.0), 1) << Message(*fitter);
  }
  return fitter;
}

// Largest |a(i, j, f) - b(i, j, f)| over every element and 0 Hz plus 50
// frequencies across [low, high].
inline double LargestDifference(const cCfit& a, const cCfit& b, double low, double high) {
  const int n = a.state().network.portCount;
  double worst = 0.0;
  for (int k = 0; k <= 50; ++k) {
    const double f = k == 0 ? 0.0 : low + (high - low) * (k - 1) / 49.0;
    for (int e = 0; e < n * n; ++e) {
      const Complex d =
          EvaluateElement(a.state(), e / n, e % n, f) - EvaluateElement(b.state(), e / n, e % n, f);
      worst = std::max(worst, Abs(d));
    }
  }
  return worst;
}

}  // namespace cfit::testing

#endif  // CFIT_TESTS_IO_IO_SUPPORT_H
