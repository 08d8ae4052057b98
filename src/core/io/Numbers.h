#pragma once

#include <string>

namespace gridmorph {

// Numbers written to or read from files, and printed by the command-line tool, look the
// same under every locale: "." is the decimal point and digits are never grouped. A
// desktop program runs in the user's locale, where printf would write 2,500000 and
// strtod would stop reading 412000.25 at the ".", so these two never consult it.

// The text printf gives for "%.*f" in the "C" locale: fixed notation with nDecimals
// decimals (0 to 100), a minus sign for negative values ("-2.500000"), "inf"/"nan" for
// values that are not finite.
std::string FormatFixed(double dValue, int nDecimals);

// FormatFixed without the trailing zeros (and without a point left bare): a number for a
// message, as many decimals as it needs up to nMaxDecimals ("0.5", "1005", "-0.000001").
std::string FormatTrimmed(double dValue, int nMaxDecimals);

// What strtod reads in the "C" locale, the rules of "%lf" scanning: leading white space
// is skipped, then the longest valid number is taken (decimal with optional exponent,
// hexadecimal, "inf", "infinity", "nan"); a value beyond the range of a double gives
// +-HUGE_VAL. When ppEnd is given it receives the position after the number, or pText
// itself when there is no number, which reads as 0.
double ScanNumber(const char* pText, const char** ppEnd = nullptr);

}  // namespace gridmorph
