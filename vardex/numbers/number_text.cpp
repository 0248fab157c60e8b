#include "numbers/number_text.h"

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace vardex {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

template <typename Int>
std::optional<Int> RoundTo(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  // nearbyint follows the current rounding mode, which is round-to-nearest,
  // ties-to-even unless someone changed it; state it rather than rely on it.
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double r = std::nearbyint(value);
  std::fesetround(saved);
  if (r < static_cast<double>(std::numeric_limits<Int>::min()) ||
      r > static_cast<double>(std::numeric_limits<Int>::max()))
    return std::nullopt;
  return static_cast<Int>(r);
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text, char decimal_separator) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;

  // Validate by hand and build a plain "C" form for strtod, so that neither
  // the C locale nor strtod's extras (hex, "inf", "nan") can get in.
  std::string plain;
  std::size_t i = b;
  if (i < e && (text[i] == '+' || text[i] == '-')) plain += text[i++];
  int digits = 0;
  bool point = false;
  for (; i < e; ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      plain += c;
      ++digits;
    } else if ((c == '.' || c == decimal_separator) && !point) {
      plain += '.';
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < e && (text[i] == 'E' || text[i] == 'e')) {
    plain += 'e';
    ++i;
    if (i < e && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    int exp_digits = 0;
    for (; i < e && IsDigit(text[i]); ++i, ++exp_digits) plain += text[i];
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != e) return std::nullopt;

  const double v = std::strtod(plain.c_str(), nullptr);
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<std::int16_t> RoundToInt16(double value) { return RoundTo<std::int16_t>(value); }
std::optional<std::int32_t> RoundToInt32(double value) { return RoundTo<std::int32_t>(value); }

std::string FormatInteger(std::int64_t value) { return std::to_string(value); }

std::string FormatGeneral(double value, char decimal_separator) {
  if (value == 0) return "0";  // also for -0
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string s = buf;

  // The C runtimes differ in the exponent's width ("E-05" or "E-005"): write
  // it with at least two digits and no further leading zeros.
  const std::size_t epos = s.find('E');
  if (epos != std::string::npos && epos + 2 < s.size()) {
    std::string mant = s.substr(0, epos);
    const char sign = s[epos + 1];
    std::string digits = s.substr(epos + 2);
    while (digits.size() > 2 && digits[0] == '0') digits.erase(0, 1);
    s = mant + 'E' + sign + digits;
  }
  for (char& c : s)
    if (c == '.') c = decimal_separator;
  return s;
}

}  // namespace vardex
