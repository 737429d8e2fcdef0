#include "io/number_scan.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace cfit {

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Length of the common prefix of [p, last) and the lower-case word `word`,
// compared without regard to case.
int MatchWord(const char* p, const char* last, const char* word) {
  int n = 0;
  while (word[n] != '\0' && p + n < last && Lower(p[n]) == word[n]) ++n;
  return n;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// from_chars reports a value outside the double range without giving it.
// Decides from the text whether the value overflows (infinity) or underflows
// (zero): the position of the first significant digit relative to the point,
// plus the exponent, gives the decimal magnitude.
bool DecimalOverflows(const char* p, const char* last) {
  long long magnitude = 0;  // decimal exponent of the leading digit, plus one
  bool seenSignificant = false;
  bool afterPoint = false;
  for (; p < last; ++p) {
    const char c = *p;
    if (c == '.') {
      if (afterPoint) break;
      afterPoint = true;
      continue;
    }
    if (!IsDigit(c)) break;
    if (!seenSignificant) {
      if (c == '0') {
        if (afterPoint) --magnitude;
        continue;
      }
      seenSignificant = true;
    }
    if (!afterPoint) ++magnitude;
  }
  if (p < last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool negative = false;
    if (q < last && (*q == '+' || *q == '-')) negative = (*q++ == '-');
    long long exponent = 0;
    for (; q < last && IsDigit(*q); ++q) {
      if (exponent < 1000000000LL) exponent = exponent * 10 + (*q - '0');
    }
    magnitude += negative ? -exponent : exponent;
  }
  return magnitude > 0;
}

bool HexOverflows(const char* p, const char* last) {
  while (p < last && *p != 'p' && *p != 'P') ++p;
  return !(p + 1 < last && p[1] == '-');
}

}  // namespace

const char* ScanDouble(const char* first, const char* last, double* value) {
  const char* p = first;
  while (p < last && IsCSpace(*p)) ++p;
  bool negative = false;
  if (p < last && (*p == '+' || *p == '-')) negative = (*p++ == '-');
  if (p >= last) return nullptr;

  const char c = *p;
  if (IsDigit(c) || c == '.') {
    const bool hex = c == '0' && p + 1 < last && (p[1] == 'x' || p[1] == 'X');
    if (!hex) {
      double v = 0.0;
      const auto [end, ec] = std::from_chars(p, last, v, std::chars_format::general);
      if (ec == std::errc::invalid_argument) return nullptr;
      if (ec == std::errc::result_out_of_range) {
        v = DecimalOverflows(p, end) ? std::numeric_limits<double>::infinity() : 0.0;
      }
      *value = negative ? -v : v;
      return end;
    }
    // "0x": at least one hexadecimal digit must follow, else nothing converts.
    double v = 0.0;
    const char* digits = p + 2;
    const auto [end, ec] = std::from_chars(digits, last, v, std::chars_format::hex);
    if (ec == std::errc::invalid_argument ||
        (digits < last && (*digits == '+' || *digits == '-'))) {
      return nullptr;
    }
    if (ec == std::errc::result_out_of_range) {
      v = HexOverflows(digits, end) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    *value = negative ? -v : v;
    return end;
  }
  if (c == 'i' || c == 'I') {
    if (MatchWord(p, last, "inf") != 3) return nullptr;
    // "inf" alone or "infinity"; a partial "infinity" does not convert.
    const int tail = MatchWord(p + 3, last, "inity");
    if (tail != 0 && tail != 5) return nullptr;
    *value = negative ? -std::numeric_limits<double>::infinity()
                      : std::numeric_limits<double>::infinity();
    return p + 3 + tail;
  }
  if (c == 'n' || c == 'N') {
    if (MatchWord(p, last, "nan") != 3) return nullptr;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    *value = negative ? -nan : nan;
    return p + 3;
  }
  return nullptr;
}

}  // namespace cfit
