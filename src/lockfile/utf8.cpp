#include "lockfile/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace morvane::lockfile {
namespace {

constexpr std::uint64_t high_bits = 0x8080808080808080;

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    // Lockfiles are almost all ASCII: step over it sixteen bytes at a time.
    while (end - p >= 16) {
      std::uint64_t a, b;
      std::memcpy(&a, p, 8);
      std::memcpy(&b, p + 8, 8);
      if ((a | b) & high_bits) break;
      p += 16;
    }
    if (p == end) break;
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    // The second byte's range depends on the lead byte: that is where
    // overlong forms, surrogates and values above U+10FFFF are excluded.
    int continuation_bytes;
    unsigned char second_min = 0x80, second_max = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      continuation_bytes = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      continuation_bytes = 2;
      if (c == 0xE0) second_min = 0xA0;
      if (c == 0xED) second_max = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      continuation_bytes = 3;
      if (c == 0xF0) second_min = 0x90;
      if (c == 0xF4) second_max = 0x8F;
    } else {
      return false;
    }
    if (end - p <= continuation_bytes) return false;
    if (p[1] < second_min || p[1] > second_max) return false;
    for (int i = 2; i <= continuation_bytes; ++i)
      if (!is_continuation(p[i])) return false;
    p += continuation_bytes + 1;
  }
  return true;
}

}  // namespace morvane::lockfile
