// Every real Touchstone file that reads, converted in every direction with
// unequal reference impedances. The test checks that every converted value
// is finite (singular points included; only ABCD of a zero S21 is NaN).
// With CFIT_SKRF_DUMP set to a folder, each conversion's input and output go
// there for the scikit-rf cross-check (skrf_conversion.py), one binary file
// per conversion: int32 from, to, ports, points; then doubles: the
// impedances, the frequencies, the input values and the output values (re,
// im pairs, row by row, point by point).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "network/type_conversion.h"
#include "network_test_support.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

std::vector<std::string> RealFiles() {
  std::vector<std::string> files;
  const char* folder = std::getenv("CFIT_TEST_DATA");
  if (folder == nullptr || *folder == '\0') return files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename() != "README.md") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The data of `source` taken as type `from` and converted to `to`.
SampledData Convert(const SampledData& source, int from, int to, const std::vector<double>& z0) {
  auto f = testing::NewFitter();
  const int n = source.port_count();
  f->BeginData(n, from, z0.data());
  f->state().ReplaceData(source);
  testing::LogCapture quiet;
  EXPECT_EQ(f->ConvertDataType(to), 1);
  return *f->state().network.data;
}

void WriteValues(std::FILE* out, const SampledData& data) {
  for (ConstMatrixView p : data.points()) {
    std::fwrite(p.Row(0), sizeof(Complex), static_cast<std::size_t>(p.order()) * p.order(), out);
  }
}

void Dump(const std::string& path, int from, int to, const std::vector<double>& z0,
          const SampledData& input, const SampledData& output) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr) << path;
  const std::int32_t header[] = {from, to, input.port_count(), input.point_count()};
  std::fwrite(header, sizeof header, 1, out);
  std::fwrite(z0.data(), sizeof(double), z0.size(), out);
  for (ConstMatrixView p : input.points()) {
    const double f = p.frequency();
    std::fwrite(&f, sizeof f, 1, out);
  }
  WriteValues(out, input);
  WriteValues(out, output);
  std::fclose(out);
}

int CountNonFinite(const SampledData& data) {
  int count = 0;
  for (ConstMatrixView p : data.points()) {
    for (int k = 0; k < p.order() * p.order(); ++k) {
      const Complex v = p.Row(0)[k];
      if (!std::isfinite(v.re) || !std::isfinite(v.im)) ++count;
    }
  }
  return count;
}

TEST(RealFileConversions, EveryFileConvertsInEveryDirection) {
  const std::vector<std::string> files = RealFiles();
  if (files.empty()) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
  const char* dumpFolder = std::getenv("CFIT_SKRF_DUMP");
  int converted = 0;
  for (const std::string& path : files) {
    cFitParams params;
    params.symmetryTolerance = 0.0;  // keep the values as written
    cCfit fitter;
    ASSERT_TRUE(fitter.Init(&params));
    {
      testing::LogCapture quiet;
      if (fitter.ReadTouchstone(path.c_str()) == 0) continue;
    }
    const std::string name = std::filesystem::path(path).filename().string();
    SCOPED_TRACE(name);
    const FitterState& s = fitter.state();
    const int n = s.network.portCount;
    // Unequal impedances: the file's, times 1, 1.3, 1.6, 1.9, 1, ...
    std::vector<double> z0;
    for (int k = 0; k < n; ++k) z0.push_back(s.network.impedances->at(0) * (1.0 + 0.3 * (k % 4)));

    auto run = [&](const SampledData& input, int from, int to, const char* tag = "") {
      SampledData output = Convert(input, from, to, z0);
      EXPECT_EQ(CountNonFinite(output), 0) << from << " to " << to;
      if (dumpFolder != nullptr) {
        Dump(std::string(dumpFolder) + "/" + name + tag + "." + std::to_string(from) +
                 std::to_string(to) + ".bin",
             from, to, z0, input, output);
      }
      return output;
    };
    // Y or Z files are first brought to S (dumped apart from the later Z -> S).
    const SampledData sData = s.network.dataType == kS
                                  ? *s.network.data
                                  : run(*s.network.data, s.network.dataType, kS, ".as-read");
    const SampledData y = run(sData, kS, kY);
    const SampledData z = run(sData, kS, kZ);
    run(y, kY, kS);
    run(z, kZ, kS);
    run(y, kY, kZ);
    run(z, kZ, kY);
    if (n == 2) {
      const SampledData abcd = Convert(sData, kS, kABCD, z0);
      if (dumpFolder != nullptr) {
        Dump(std::string(dumpFolder) + "/" + name + ".14.bin", kS, kABCD, z0, sData, abcd);
      }
    }
    ++converted;
  }
  EXPECT_GE(converted, 25);
}

}  // namespace
}  // namespace cfit
