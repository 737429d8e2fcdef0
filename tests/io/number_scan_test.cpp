#include "io/number_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace cfit {
namespace {

// The C library's "%le" conversion is the reference: the scanner must accept
// exactly the texts it accepts and give bit-identical values.
void ExpectSameAsScanf(const std::string& text) {
  double expected = -777.0;
  const int converted = std::sscanf(text.c_str(), "%le", &expected);
  double actual = -777.0;
  const bool ok = ConvertsAsNumber(text.data(), text.data() + text.size(), &actual);
  ASSERT_EQ(ok, converted == 1) << "'" << text << "'";
  if (!ok) {
    EXPECT_EQ(actual, -777.0) << "a failed conversion must leave the value alone: " << text;
    return;
  }
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << text;
  } else {
    EXPECT_EQ(std::memcmp(&expected, &actual, sizeof expected), 0)
        << "'" << text << "' scanf " << expected << " scanner " << actual;
  }
}

// Accepted forms of Touchstone files, longest prefixes (trailing text,
// incomplete exponents, a comma that is no decimal point), rejected texts,
// special words and hexadecimal numbers, and values out of range.
TEST(ScanDouble, AgreesWithScanfOnEveryForm) {
  // The texts, separated by '|' (the empty text is among them).
  const std::string texts =
      "0|-0|+0|1|+2|-3|1.|.5|-.5|+.5|1.5E3|1.5e3|1e+05|1e-05|1E+5|-6.0206"
      "|1.000000000000000e+09|-1.234567890123457e-01|00012|161.24|50.0|19.54500|  7|\t8"
      "|\v9|1.7976931348623157e308|4.9406564584124654e-324|2.2250738585072014e-308|0.1"
      "|0.30000000000000004|123456789012345678901234567890|1e22|1e23|9007199254740993"
      "|50ohm|1.5abc|1e|1e+|1e-x|1e5x|1..2|1,5|5.e|0.5!comment|3-4|2+3j|| |.|+|-|+.e1"
      "|e5|E5|+-1|-+1|--1|- 1|R|(50+50j)|x1|infi|infinit|in|n|na|0x|0xg|0xp1|0x-1|!|#"
      "|inf|INF|-inf|infx|infinity|-Infinity|iNfInItYx|nan|NaN|-nan|nanx|nan(12)|0x1p3"
      "|0x.8|0x1|0x1p|-0x1.8p1|0X1P-2|1e99999|-1e99999|1e400|1e-400|-1e-400|2e-324"
      "|0e99999|0.0000e999999|0.00001e309|1000e-330|0.000000000000000000001e-310"
      "|123456e99999999999999999999|1e-99999999999999999999";
  std::size_t start = 0;
  for (std::size_t bar; (bar = texts.find('|', start)) != std::string::npos; start = bar + 1) {
    ExpectSameAsScanf(texts.substr(start, bar - start));
  }
  ExpectSameAsScanf(texts.substr(start));
}

TEST(ScanDouble, StopsAtTheGivenEnd) {
  const std::string text = "12345";
  double value = 0.0;
  const char* stop = ScanDouble(text.data(), text.data() + 2, &value);
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop, text.data() + 2);
  EXPECT_EQ(value, 12.0);
  EXPECT_EQ(ScanDouble(text.data(), text.data(), &value), nullptr);
}

TEST(ScanDouble, RandomValuesInThePrintedFormsRoundTripLikeScanf) {
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-320, 308);
  char text[64];
  for (int k = 0; k < 20000; ++k) {
    const double v = mantissa(random) * std::pow(10.0, exponent(random));
    const char* formats[] = {"%20.15le", "%.17g", "%g", "%+.6e", "%f"};
    std::snprintf(text, sizeof text, formats[k % 5], v);
    ExpectSameAsScanf(text);
  }
}

}  // namespace
}  // namespace cfit
