#include "lockfile/float_text.hpp"

#include <charconv>
#include <cstddef>
#include <optional>
#include <string_view>

namespace morvane::lockfile {
namespace {

// Decimal exponents written in positional notation; outside them the
// scientific form keeps very large and very small scores short.
constexpr int min_positional_exponent = -5;
constexpr int max_positional_exponent = 15;

// The layout of a number from its shortest digits (no leading or trailing
// zeros) and the decimal exponent of the first of them.
void append_digits(std::string& out, bool negative, std::string_view digits, int exponent) {
  const std::size_t n = digits.size();
  if (negative) out += '-';
  if (exponent < min_positional_exponent || exponent > max_positional_exponent) {
    out += digits[0];
    if (n > 1) {
      out += '.';
      out += digits.substr(1);
    }
    out += exponent < 0 ? "e-" : "e+";
    out += std::to_string(exponent < 0 ? -exponent : exponent);
    return;
  }
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return;
  }
  const auto whole = static_cast<std::size_t>(exponent) + 1;
  if (n <= whole) {
    out += digits;
    out.append(whole - n, '0');
    out += ".0";
  } else {
    out += digits.substr(0, whole);
    out += '.';
    out += digits.substr(whole);
  }
}

}  // namespace

void append_float(std::string& out, double value) {
  // The shortest round-trip digits in scientific form, "-d.ddde+XX", give the
  // digits and the decimal exponent of the first digit; the layout is ours.
  char text[32];
  const char* const end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
  const char* p = text;
  const bool negative = *p == '-';
  if (negative) ++p;
  char digit_buffer[20];
  std::size_t n = 0;
  for (; *p != 'e'; ++p)
    if (*p != '.') digit_buffer[n++] = *p;
  ++p;
  if (*p == '+') ++p;
  int exponent = 0;
  std::from_chars(p, end, exponent);
  append_digits(out, negative, std::string_view(digit_buffer, n), exponent);
}

void append_float(std::string& out, double value, std::string_view spelled) {
  // A decimal of at most 15 significant digits is the only one of that many
  // digits or fewer that reads as its double (doubles carry 15 decimal digits
  // exactly, in their normal range), so its digits are the shortest that read
  // back as the value: those of the spelling, without the zeros around them.
  // Spellings with an exponent part, zero, long ones (which could leave the
  // normal range) and those with more digits take the general way.
  constexpr std::size_t max_spelled = 40;
  constexpr std::size_t max_exact_digits = 15;
  const char* p = spelled.data();
  const char* const end = p + spelled.size();
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  char all[max_spelled];  // the digits without the point
  std::size_t count = 0;
  std::optional<std::size_t> point;  // digits before the decimal point, if there is one
  bool usable = spelled.size() <= max_spelled;
  for (; usable && p < end; ++p) {
    if (*p == '.') {
      point = count;
    } else if (*p >= '0' && *p <= '9') {
      all[count++] = *p;
    } else {
      usable = false;  // an exponent part
    }
  }
  if (usable) {
    const std::size_t whole_digits = point.value_or(count);
    std::size_t first = 0;
    while (first < count && all[first] == '0') ++first;
    std::size_t last = count;
    while (last > first && all[last - 1] == '0') --last;
    if (first < last && last - first <= max_exact_digits) {
      const int exponent = static_cast<int>(whole_digits) - static_cast<int>(first) - 1;
      append_digits(out, negative, std::string_view(all + first, last - first), exponent);
      return;
    }
  }
  append_float(out, value);
}

}  // namespace morvane::lockfile
