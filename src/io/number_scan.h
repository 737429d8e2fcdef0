// Conversion of one number from text, with the acceptance rules of the C
// library's "%le" / "%lf" conversion in the "C" locale: leading white space
// is skipped, an optional '+' or '-' sign, then a decimal number (digits with
// an optional point and an optional exponent), "inf", "infinity", "nan" (any
// case, "nan(...)" too) or a hexadecimal number "0x...". The conversion takes
// the longest valid prefix and ignores what follows it, so "50ohm" converts
// to 50 and "1e" to 1. Values too large for a double become +-infinity and
// values too small become +-0 (or the nearest subnormal), as with strtod.
//
// The digits are converted by std::from_chars, which is locale-independent
// and rounds correctly; the sign, the special words and the range fallbacks
// are handled here.
#ifndef CFIT_IO_NUMBER_SCAN_H
#define CFIT_IO_NUMBER_SCAN_H

namespace cfit {

// Converts the number at the start of [first, last). Returns the position
// after the consumed characters, or null when no number starts there (then
// *value is unchanged).
const char* ScanDouble(const char* first, const char* last, double* value);

// True when the text [first, last) starts with a number, as above.
inline bool ConvertsAsNumber(const char* first, const char* last, double* value) {
  return ScanDouble(first, last, value) != nullptr;
}

}  // namespace cfit

#endif  // CFIT_IO_NUMBER_SCAN_H
