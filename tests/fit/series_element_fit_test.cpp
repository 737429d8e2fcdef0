// The series-element fit on measured-like R-L-C elements between two 50 ohm
// ports: the model keeps S11 = S22 and S11 + S21 = 1 at every frequency, on
// and far off the data grid, and is passive by the closed-form singular
// values of its 2 x 2 matrix, also where the data are slightly active. With
// CFIT_SERIES_DUMP naming a folder, the model's matrices on a dense grid go
// there for series_element_check.py (numpy's singular values).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using C = std::complex<double>;

// R, L, C in series between two 50 ohm ports at 101 points from 0.1 to
// 10 GHz, with deterministic noise of `noise` on S11, S22 and S12 (so the
// series relations hold to about 3 noise).
std::unique_ptr<cCfit> SeriesElementData(double r, double noise, bool extractDelays = true,
                                         bool individualPoles = false) {
  cFitParams params;
  params.extractDelays = extractDelays;
  params.individualPoles = individualPoles;
  auto f = std::unique_ptr<cCfit>(static_cast<cCfit*>(cFitAPI::Create(&params)));
  f->BeginData(2, kS, nullptr);
  unsigned state = 12345;
  const auto next = [&] {
    state = state * 1103515245u + 12345u;
    return noise * (static_cast<double>(state >> 8) / (1u << 24) - 0.5);
  };
  for (int k = 0; k <= 100; ++k) {
    const double freq = 1e8 + k * 9.9e7, w = 2 * std::numbers::pi * freq;
    const C z = C(r, w * 1e-9) + 1.0 / C(0.0, w * 1e-12);
    const C s11 = z / (z + 100.0) + C(next(), next());
    const C s22 = s11 + C(next(), next()), s12 = 1.0 - s11 + C(next(), next());
    PortMatrix p(2);
    p.set_frequency(freq);
    p.At(0, 0) = {s11.real(), s11.imag()};
    p.At(1, 1) = {s22.real(), s22.imag()};
    p.At(0, 1) = p.At(1, 0) = {s12.real(), s12.imag()};
    f->state().network.data->Append(std::move(p));
  }
  f->EndData();
  return f;
}

C Element(cCfit& f, int i, int j, double freq) {
  double v[2];
  EXPECT_EQ(f.EvaluateModelElement(i, j, freq, v), 1);
  return {v[0], v[1]};
}

// The largest singular value of [[a, b], [b, a]]: the matrix is normal with
// the eigenvectors (1, 1) and (1, -1), so its singular values are |a + b|
// and |a - b|.
double LargestSingularValue(C a, C b) { return std::max(std::abs(a + b), std::abs(a - b)); }

std::vector<double> DenseGrid() {
  std::vector<double> grid = {0.0};
  for (int k = 0; k <= 20000; ++k) grid.push_back(1e3 * std::pow(10.0, 9.0 * k / 20000));
  return grid;
}

// A passive element (R = 10) and an active one (R = -3: the element's
// reflection from 100 ohms, |Z - 100| / |Z + 100|, is above 1 everywhere
// and reaches 103/97 at resonance; the 2-port's largest singular value is
// that reflection). Making it passive moves S11 by up to about 0.03.
TEST(FitSeriesElement, KeepsTheSeriesRelationsExactlyAndIsPassive) {
  const char* dump = std::getenv("CFIT_SERIES_DUMP");
  for (double r : {10.0, -3.0}) {
    SCOPED_TRACE("R = " + std::to_string(r));
    testing::LogCapture log;
    auto f = SeriesElementData(r, 2e-4);
    ASSERT_TRUE(f->FitSeriesElement()) << f->GetErrorMessage();
    EXPECT_EQ(f->GetErrorMessage(), nullptr);
    // The fit went without delays (the driver logs every delay it extracts)
    // and left the setting as it was.
    EXPECT_EQ(log.text().find("extracted delay("), std::string::npos);
    EXPECT_TRUE(f->state().settings.extractDelays && f->state().settings.individualPoles);
    int counts[4];
    for (int e = 0; e < 4; ++e) {
      double delay = 1.0;
      ASSERT_EQ(f->GetElementModelInfo(e / 2, e % 2, &counts[e], nullptr, nullptr, &delay), 1);
      EXPECT_EQ(delay, 0.0);
    }
    EXPECT_TRUE(counts[0] > 0 && counts[0] == counts[1] && counts[0] == counts[2] &&
                counts[0] == counts[3]);

    std::vector<double> off = {0.0, 1.0, 1e3, 1e6, 3.3e7, 1e11, 1e13};
    for (const auto& p : f->state().network.data->points()) {
      off.push_back(p.frequency());
      off.push_back(p.frequency() + 4.95e7);
    }
    for (double freq : off) {
      const C s11 = Element(*f, 0, 0, freq), s22 = Element(*f, 1, 1, freq);
      const C s12 = Element(*f, 0, 1, freq), s21 = Element(*f, 1, 0, freq);
      EXPECT_LE(std::abs(s11 - s22), 1e-12) << freq;
      EXPECT_LE(std::abs(s11 + s21 - 1.0), 1e-12) << freq;
      EXPECT_EQ(s12, s21) << freq;
    }
    // The model follows the data within their noise.
    double worst = 0.0;
    for (const auto& p : f->state().network.data->points()) {
      const Complex d = p.At(0, 0);
      worst = std::max(worst, std::abs(Element(*f, 0, 0, p.frequency()) - C(d.re, d.im)));
    }
    EXPECT_LT(worst, r > 0 ? 2e-3 : 5e-2);

    // Passive: one singular value is 1, the other |1 - 2T| <= 1.
    const std::vector<double> grid = DenseGrid();
    double largest = 0.0;
    std::vector<double> values;
    for (double freq : grid) {
      const C s11 = Element(*f, 0, 0, freq), s21 = Element(*f, 1, 0, freq);
      largest = std::max(largest, LargestSingularValue(s11, s21));
      values.insert(values.end(), {freq, s11.real(), s11.imag(), s21.real(), s21.imag(), s21.real(),
                                   s21.imag(), s11.real(), s11.imag()});
    }
    EXPECT_LE(largest, 1.0 + 1e-12);
    // The library's check sees the singular value 1 with its rounding.
    double measure = 0.0, at = 0.0;
    ASSERT_EQ(f->CheckModelPassivity(&measure, &at), 1);
    EXPECT_LE(measure, 1.0 + 1e-12);
    if (dump != nullptr) {
      const std::string path = std::string(dump) + "/series_" + std::to_string(r) + ".bin";
      std::FILE* out = std::fopen(path.c_str(), "wb");
      ASSERT_NE(out, nullptr);
      const std::int32_t head[] = {2, static_cast<std::int32_t>(grid.size()), kS};
      std::fwrite(head, sizeof head, 1, out);
      std::fwrite(values.data(), sizeof(double), values.size(), out);
      std::fclose(out);
    }
  }
}

// One point whose S22 is 0.002 off S11 is refused before anything is
// fitted (the other state checks are the wrong-state test's).
TEST(FitSeriesElement, RefusesDataOffTheSeriesRelationsAtOnePoint) {
  testing::LogCapture log;
  auto f = SeriesElementData(10.0, 0.0);
  MatrixView p = f->state().network.data->MutablePoints()[40];
  p.At(1, 1) = p.At(1, 1) + Complex(0.002, 0.0);
  EXPECT_FALSE(f->FitSeriesElement());
  EXPECT_FALSE(f->HasFit());
  EXPECT_STREQ(f->GetErrorMessage(),
               "The matrix elements are not properly related as required by this transformation");
  EXPECT_EQ(log.text(), "");
}

}  // namespace
}  // namespace cfit
