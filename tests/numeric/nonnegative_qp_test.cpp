// The nonnegative QP solver against its optimality conditions, which decide
// the optimum of a convex problem on their own: x >= 0, the gradient
// M x + b zero where x > 0 and nonnegative where x = 0.
#include "numeric/nonnegative_qp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace cfit {
namespace {

struct Problem {
  std::string name;
  std::vector<double> m, b;
};

// A planted optimum: M = Y^T Y with overlapping bumps as columns (rows of
// constraints at nearby frequencies: strongly correlated, M badly
// conditioned), x* positive on every third variable, the gradient zero
// there and positive elsewhere, and b = g* - M x*.
Problem Planted(int rows, int k) {
  Problem p{"planted, bumps", std::vector<double>(static_cast<std::size_t>(k) * k), {}};
  std::vector<double> y(static_cast<std::size_t>(rows) * k), x(k);
  for (int c = 0; c < k; ++c) {
    const double at = (c + 0.5) / k;
    for (int r = 0; r < rows; ++r)
      y[r * k + c] = std::exp(-std::pow((r + 0.5) / rows - at, 2) / 0.02);
    x[c] = c % 3 == 0 ? 1.0 + 0.01 * c : 0.0;
  }
  for (int a = 0; a < k; ++a) {
    for (int c = 0; c < k; ++c) {
      for (int r = 0; r < rows; ++r) p.m[a * k + c] += y[r * k + a] * y[r * k + c];
    }
  }
  for (int a = 0; a < k; ++a) {
    double mx = 0.0;
    for (int c = 0; c < k; ++c) mx += p.m[a * k + c] * x[c];
    p.b.push_back((x[a] > 0.0 ? 0.0 : 0.5) - mx);
  }
  return p;
}

// Narrow bumps with a little ripple and a right-hand side of mixed signs:
// the active set has to let variables go again on the way (a variable
// that leaves is deleted from the set's factor).
Problem Rippled(int k) {
  Problem p{"rippled bumps", std::vector<double>(static_cast<std::size_t>(k) * k), {}};
  const int rows = k + 50;
  std::vector<double> y(static_cast<std::size_t>(rows) * k);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < k; ++c) {
      y[r * k + c] = std::exp(-std::pow((r + 0.5) / rows - (c + 0.5) / k, 2) / 0.01) +
                     1e-3 * std::sin(1.0 + 7.0 * r + 13.0 * c);
    }
  }
  for (int a = 0; a < k; ++a) {
    for (int c = 0; c < k; ++c) {
      for (int r = 0; r < rows; ++r) p.m[a * k + c] += y[r * k + a] * y[r * k + c];
    }
    p.b.push_back(3.0 * std::sin(0.7 + 2.3 * a));
  }
  return p;
}

TEST(NonnegativeQp, MeetsTheOptimalityConditions) {
  std::vector<Problem> problems = {
      {"diagonal", {2, 0, 0, 0, 4, 0, 0, 0, 1}, {-4, 2, -0.5}},
      {"empty", {}, {}},
      {"zero column left at zero", {0, 0, 0, 1}, {-1, -1}},
      Planted(200, 60),
      Rippled(100),
  };
  for (const Problem& p : problems) {
    SCOPED_TRACE(p.name);
    const std::size_t k = p.b.size();
    double scale = 1.0;
    for (std::size_t c = 0; c < k; ++c) scale = std::max(scale, p.m[c * k + c]);
    const double tolerance = 1e-9 * scale;
    const std::vector<double> x = SolveNonnegativeQp(p.m, p.b, tolerance);
    ASSERT_EQ(x.size(), k);
    int positive = 0;
    for (std::size_t c = 0; c < k; ++c) {
      double g = p.b[c];
      for (std::size_t r = 0; r < k; ++r) g += p.m[c * k + r] * x[r];
      EXPECT_GE(x[c], 0.0);
      if (p.m[c * k + c] <= 0.0) {
        EXPECT_EQ(x[c], 0.0);
      } else if (x[c] > 0.0) {
        EXPECT_NEAR(g, 0.0, 10 * tolerance) << c;
        ++positive;
      } else {
        EXPECT_GE(g, -10 * tolerance) << c;
      }
    }
    if (p.name == "diagonal") {
      EXPECT_DOUBLE_EQ(x[0], 2.0);
      EXPECT_EQ(x[1], 0.0);
      EXPECT_DOUBLE_EQ(x[2], 0.5);
    }
    if (p.name == "planted, bumps") {
      // The planted optimum's value (x is unique only up to directions M
      // barely sees).
      const auto value = [&](const std::vector<double>& v) {
        double f = 0.0;
        for (std::size_t a = 0; a < k; ++a) {
          f += p.b[a] * v[a];
          for (std::size_t c = 0; c < k; ++c) f += 0.5 * v[a] * p.m[a * k + c] * v[c];
        }
        return f;
      };
      std::vector<double> planted(k);
      for (std::size_t c = 0; c < k; c += 3) planted[c] = 1.0 + 0.01 * c;
      EXPECT_NEAR(value(x), value(planted), 1e-9 * std::abs(value(planted)));
    }
    if (k > 3) {
      EXPECT_GT(positive, 0);
    }
  }
}

}  // namespace
}  // namespace cfit
