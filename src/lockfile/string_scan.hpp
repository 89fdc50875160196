// Finding the bytes that end a plain run of JSON string text: the double
// quote, the backslash and the control bytes 0x00..0x1F. The reader stops at
// them and the writers escape exactly them, so both share one scan, eight
// bytes at a time.
#pragma once

#include <cstdint>
#include <cstring>

namespace morvane::lockfile {

constexpr bool is_string_special(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b == '"' || b == '\\' || b < 0x20;
}

// True when one of the eight bytes of `w` is special. The zero-byte test
// (v - 0x01..) & ~v & 0x80.. may mark bytes above a real match, never report
// a word without one, which is all that is asked of it here.
constexpr bool has_string_special(std::uint64_t w) {
  constexpr std::uint64_t ones = 0x0101010101010101;
  constexpr std::uint64_t highs = 0x8080808080808080;
  auto has_zero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
  const std::uint64_t quote = has_zero(w ^ (ones * '"'));
  const std::uint64_t backslash = has_zero(w ^ (ones * '\\'));
  const std::uint64_t control = (w - ones * 0x20) & ~w & highs;
  return (quote | backslash | control) != 0;
}

// The first special byte in [p, end), or end.
inline const char* find_string_special(const char* p, const char* end) {
  while (end - p >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if (has_string_special(w)) break;
    p += 8;
  }
  while (p < end && !is_string_special(*p)) ++p;
  return p;
}

}  // namespace morvane::lockfile
