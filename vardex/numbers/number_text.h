// The number rules of the window, in one place: how a field's text is read as
// a number, how a number is rounded into a 16- or 32-bit integer, and how a
// number is written back as text. Portable; no Windows headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vardex {

// Reads text as a decimal number: optional blanks around it, an optional sign,
// digits with at most one decimal separator (at least one digit in all), and
// an optional exponent ("E" or "e", optional sign, digits). Anything else,
// the empty text included, is not a number. '.' is always accepted as the
// separator; `decimal_separator` (the user's) is accepted as well.
std::optional<double> ParseNumber(std::string_view text, char decimal_separator = '.');

// Rounds to the nearest integer, an exact half to the even neighbour.
// nullopt when the result does not fit (or the value is not finite).
std::optional<std::int16_t> RoundToInt16(double value);
std::optional<std::int32_t> RoundToInt32(double value);

// A whole number in plain decimal digits, with a leading '-' when negative.
std::string FormatInteger(std::int64_t value);

// A double in the general form: at most 15 significant digits, no trailing
// zeros, exponent form ("1E-05", "1E+15") only for very small or large
// magnitudes; `decimal_separator` stands for the decimal point.
// Examples: 0.127777777777778, 1.00555555555556, 0.125, 1.
std::string FormatGeneral(double value, char decimal_separator = '.');

}  // namespace vardex
