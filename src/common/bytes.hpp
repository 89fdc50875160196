// Small byte helpers shared by the text readers and writers: unaligned loads,
// hex digits and the decimal-digit test.
#pragma once

#include <cstdint>
#include <cstring>

namespace morvane {

// Unaligned loads of the bytes at `p`, in the machine's order.
inline std::uint64_t load8(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline std::uint32_t load4(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline constexpr char hex_digits[] = "0123456789abcdef";

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace morvane
