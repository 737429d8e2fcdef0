// Every real Touchstone file that reads also fits, and the per-element
// errors the fit logs agree with an independent evaluation of the model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <utility>

#include "api/cfit_impl.h"
#include "fit/model_evaluation.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

namespace fs = std::filesystem;

// Largest change the pruning of negligible terms may make to an element.
constexpr double kPruned = 1e-6;

using ErrorTable = std::map<std::pair<int, int>, double>;

// "<label>(i,j)=value" lines of the log, keyed by zero-based (i, j).
ErrorTable Parse(const std::string& log, const std::string& label) {
  ErrorTable table;
  const std::regex line(label + R"(\((\d+),(\d+)\)=([^\n]+)\n)");
  for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
       ++it) {
    table[{std::stoi((*it)[1]) - 1, std::stoi((*it)[2]) - 1}] = std::stod((*it)[3]);
  }
  return table;
}

TEST(RealFiles, EveryFileThatReadsFitsAndItsLoggedErrorsAreTrue) {
  int fitted = 0;
  const char* folder = std::getenv("CFIT_TEST_DATA");
  for (const auto& entry : fs::directory_iterator(folder ? folder : "../shared/data/touchstone")) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".md") continue;
    std::unique_ptr<cCfit> f(static_cast<cCfit*>(cFitAPI::Create(nullptr)));
    testing::LogCapture log;
    if (f->ReadTouchstone(entry.path().c_str()) == 0) continue;
    const FitterState& s = f->state();
    if (s.network.data->point_count() < 2) {
      // One frequency gives no curve to fit: the fit refuses it (the delay
      // estimate has already recorded that the points are too few).
      EXPECT_EQ(f->Fit(), 0) << name;
      EXPECT_STREQ(f->GetErrorMessage(), "Internal error. Inconsistent sampled data structure")
          << name;
      continue;
    }
    log.clear();
    ASSERT_EQ(f->Fit(), 1) << name << ": " << (f->GetErrorMessage() ? f->GetErrorMessage() : "");
    ++fitted;
    const ErrorTable rms = Parse(log.text(), "\nmean error");
    const ErrorTable largest = Parse(log.text(), "tol  error");
    const int n = s.network.portCount;
    // The fit used at most the points its working set holds.
    const int used = std::min(s.network.data->point_count(), s.workspace.work.max_rows() / 2 - 1);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j <= (s.network.symmetric ? i : n - 1); ++j) {
        double sum = 0.0, worst = 0.0;
        for (int k = 0; k < used; ++k) {
          const ConstMatrixView p = s.network.data->points()[k];
          const double e = Abs(EvaluateElement(s, i, j, p.frequency()) - p.At(i, j));
          sum += e * e;
          worst = std::max(worst, e);
        }
        const double ownRms = std::sqrt(sum / used);
        // The log has six digits, and it is written before negligible terms
        // (residues below 1e-7) are pruned from the model.
        ASSERT_TRUE(rms.count({i, j}) && largest.count({i, j})) << name << " " << i << j;
        EXPECT_TRUE(std::abs(rms.at({i, j}) - ownRms) <= 1e-5 * ownRms + kPruned &&
                    std::abs(largest.at({i, j}) - worst) <= 1e-5 * worst + kPruned)
            << name << " " << i << j;
      }
    }
  }
  EXPECT_GE(fitted, 20);
}

}  // namespace
}  // namespace cfit
