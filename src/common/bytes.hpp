// Small byte helpers shared by the text readers and writers: unaligned loads
// and stores, a copy for short pieces, hex digits and the decimal-digit test.
#pragma once

#include <cstddef>
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

// Unaligned stores of `v` at `p`, in the machine's order.
inline void store8(char* p, std::uint64_t v) { std::memcpy(p, &v, 8); }
inline void store4(char* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// memcpy for the short pieces a writer puts out (keys, names, punctuation):
// up to 32 bytes are copied by overlapping loads and stores in place, where
// calling the C library's memcpy can cost more than the copy itself (musl's,
// on x86_64, sets up a string instruction for every copy of 8 bytes or more).
// Longer pieces go to memcpy. The loads never leave [src, src + n).
inline void copy_bytes(char* dst, const char* src, std::size_t n) {
  if (n > 32) {
    std::memcpy(dst, src, n);
  } else if (n > 16) {
    const std::uint64_t a = load8(src), b = load8(src + 8), c = load8(src + n - 16), d = load8(src + n - 8);
    store8(dst, a);
    store8(dst + 8, b);
    store8(dst + n - 16, c);
    store8(dst + n - 8, d);
  } else if (n >= 8) {
    const std::uint64_t a = load8(src), b = load8(src + n - 8);
    store8(dst, a);
    store8(dst + n - 8, b);
  } else if (n >= 4) {
    const std::uint32_t a = load4(src), b = load4(src + n - 4);
    store4(dst, a);
    store4(dst + n - 4, b);
  } else if (n > 0) {
    const char a = src[0], b = src[n / 2], c = src[n - 1];
    dst[0] = a;
    dst[n / 2] = b;
    dst[n - 1] = c;
  }
}

inline constexpr char hex_digits[] = "0123456789abcdef";

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace morvane
