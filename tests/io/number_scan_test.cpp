#include "io/number_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "support/log_capture.h"

namespace cfit {
namespace {

// The C library's "%le" conversion is the reference: the scanner must accept
// exactly the texts it accepts and give bit-identical values, and a failed
// conversion leaves the value alone.
void ExpectSameAsScanf(const std::string& text) {
  double expected = -777.0, actual = -777.0;
  const int converted = std::sscanf(text.c_str(), "%le", &expected);
  ASSERT_EQ(ConvertsAsNumber(text.data(), text.data() + text.size(), &actual), converted == 1)
      << "'" << text << "'";
  EXPECT_TRUE(std::isnan(expected) ? std::isnan(actual)
                                   : std::memcmp(&expected, &actual, sizeof expected) == 0)
      << text << " " << actual;
}

// Accepted forms of Touchstone files, longest prefixes (trailing text,
// incomplete exponents, a comma that is no decimal point), rejected texts,
// special words and hexadecimal numbers, values out of range; then random
// values in the printed forms.
TEST(ScanDouble, AgreesWithScanfOnEveryForm) {
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
      "|123456e99999999999999999999|1e-99999999999999999999|";
  for (std::size_t start = 0, bar; (bar = texts.find('|', start)) != std::string::npos;
       start = bar + 1) {
    ExpectSameAsScanf(texts.substr(start, bar - start));
  }
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-320, 308);
  const char* formats[] = {"%20.15le", "%.17g", "%g", "%+.6e", "%f"};
  char text[400];
  for (int k = 0; k < 20000; ++k) {
    std::snprintf(text, sizeof text, formats[k % 5],
                  mantissa(random) * std::pow(10.0, exponent(random)));
    ExpectSameAsScanf(text);
  }
  // The scan stops at the given end.
  const std::string digits = "12345";
  double value = 0.0;
  EXPECT_EQ(ScanDouble(digits.data(), digits.data() + 2, &value), digits.data() + 2);
  EXPECT_EQ(value, 12.0);
  EXPECT_EQ(ScanDouble(digits.data(), digits.data(), &value), nullptr);
}

// Numbers in log lines take the stream's defaults.
TEST(RunLog, NumbersTakeTheStreamDefaults) {
  testing::LogCapture log;
  runlog::Write("value ", 0.1234567, " count ", 42, " big ", 1.5e-12, "\n");
  EXPECT_EQ(log.text(), "value 0.123457 count 42 big 1.5e-12\n");
}

}  // namespace
}  // namespace cfit
