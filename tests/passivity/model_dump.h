// The binary dumps of models that the numpy checks of the passivity tests
// read (support/gtest_dump.py, read_matrices).
#ifndef CFIT_TESTS_PASSIVITY_MODEL_DUMP_H
#define CFIT_TESTS_PASSIVITY_MODEL_DUMP_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "fit/model_evaluation.h"

namespace cfit::testing {

// The smallest and largest |P| of a model's poles, common and per element.
inline std::pair<double, double> PoleSpan(const Model& model) {
  double low = 1e300, high = 0.0;
  const auto span = [&](const PoleList& list) {
    for (const PoleTerm& t : list) {
      low = std::min(low, Abs(t.GetPole()));
      high = std::max(high, Abs(t.GetPole()));
    }
  };
  span(model.commonPoles);
  for (const PoleList& list : model.elementPoles) span(list);
  return {low, high};
}

// The model at 20,000 log-spaced frequencies from `low` to `high`: int32
// ports, count and data type; then per frequency the frequency and the
// N x N values (re, im) as doubles, row by row.
inline void DumpModel(const ModelView& view, int dataType, double low, double high,
                      const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  const int32_t n = view.n(), count = 20000, type = dataType;
  for (int32_t v : {n, count, type}) out.write(reinterpret_cast<const char*>(&v), sizeof v);
  std::vector<double> row(static_cast<std::size_t>(1 + 2 * n * n));
  for (int k = 0; k < count; ++k) {
    row[0] = low * std::pow(high / low, k / (count - 1.0));
    for (int e = 0; e < n * n; ++e) {
      const Complex v = EvaluateElement(view, e / n, e % n, row[0]);
      row[1 + 2 * e] = v.re;
      row[2 + 2 * e] = v.im;
    }
    out.write(reinterpret_cast<const char*>(row.data()),
              static_cast<std::streamsize>(row.size() * sizeof(double)));
  }
}

}  // namespace cfit::testing

#endif  // CFIT_TESTS_PASSIVITY_MODEL_DUMP_H
