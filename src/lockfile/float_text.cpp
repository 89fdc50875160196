#include "lockfile/float_text.hpp"

#include <charconv>
#include <cstddef>
#include <string_view>

namespace morvane::lockfile {
namespace {

// Decimal exponents written in positional notation; outside them the
// scientific form keeps very large and very small scores short.
constexpr int min_positional_exponent = -5;
constexpr int max_positional_exponent = 15;

}  // namespace

void append_float(std::string& out, double value) {
  // The shortest round-trip digits in scientific form, "-d.ddde+XX", give the
  // digits and the decimal exponent of the first digit; the layout is ours.
  char text[32];
  const char* const end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
  const char* p = text;
  if (*p == '-') out += *p++;
  char digit_buffer[20];
  std::size_t n = 0;
  for (; *p != 'e'; ++p)
    if (*p != '.') digit_buffer[n++] = *p;
  ++p;
  if (*p == '+') ++p;
  int exponent = 0;
  std::from_chars(p, end, exponent);
  const std::string_view digits(digit_buffer, n);

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

}  // namespace morvane::lockfile
