// Scans over text for the bytes that end a run: non-ASCII bytes (UTF-8
// checking), the bytes that end a plain JSON string run (the reader stops at
// them and the writers escape exactly them), and the end of JSON whitespace.
//
// Each scan has a vector path, sixteen bytes at a time with SSE2 (every x86-64
// processor has it) or NEON (every aarch64 processor has it), and a portable
// path, eight bytes at a time in a 64-bit word, which other processors take
// (32-bit x86 among them: the oldest processor its builds ask for has no
// SSE2). MORVANE_SCAN_PATH names the path the unqualified names take.
// Both are compiled wherever they can be, so that a test can hold them against
// each other; the unqualified names take the vector path where there is one.
// No path reads a byte outside [p, end).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/bytes.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#define MORVANE_SCAN_PATH "sse2"
#elif defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define MORVANE_SCAN_PATH "neon"
#else
#define MORVANE_SCAN_PATH "portable"
#endif

namespace morvane {

constexpr bool is_string_special(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b == '"' || b == '\\' || b < 0x20;
}

constexpr bool is_json_whitespace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

namespace portable {

inline constexpr std::uint64_t ones = 0x0101010101010101;
inline constexpr std::uint64_t high_bits = 0x8080808080808080;

// The first byte in [p, end) at or above 0x80, or end.
inline const char* skip_ascii(const char* p, const char* end) {
  for (; end - p >= 16; p += 16)
    if ((load8(p) | load8(p + 8)) & high_bits) break;
  while (p < end && static_cast<unsigned char>(*p) < 0x80) ++p;
  return p;
}

// True when one of the eight bytes of `w` is special. The zero-byte test
// (v - 0x01..) & ~v & 0x80.. may mark bytes above a real match, never report
// a word without one, which is all that is asked of it here.
constexpr bool has_string_special(std::uint64_t w) {
  auto has_zero = [](std::uint64_t v) { return (v - ones) & ~v & high_bits; };
  const std::uint64_t quote = has_zero(w ^ (ones * '"'));
  const std::uint64_t backslash = has_zero(w ^ (ones * '\\'));
  const std::uint64_t control = (w - ones * 0x20) & ~w & high_bits;
  return (quote | backslash | control) != 0;
}

// The first byte in [p, end) that is a double quote, a backslash or a control
// byte (0x00..0x1F), or end.
inline const char* find_string_special(const char* p, const char* end) {
  for (; end - p >= 8; p += 8)
    if (has_string_special(load8(p))) break;
  while (p < end && !is_string_special(*p)) ++p;
  return p;
}

// The first byte in [p, end) that is not JSON whitespace, or end. Between
// tokens there is mostly nothing or one space: the first byte is looked at on
// its own.
inline const char* skip_json_whitespace(const char* p, const char* end) {
  while (p < end && is_json_whitespace(*p)) ++p;
  return p;
}

}  // namespace portable

#if defined(__SSE2__)
namespace sse2 {

inline __m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The bytes of `v` that are special in a JSON string, one bit each, lowest first.
inline unsigned string_special_mask(__m128i v) {
  const __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
  const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
  // Unsigned v <= 0x1F exactly when min(v, 0x1F) == v.
  const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(quote, backslash), control)));
}

inline const char* skip_ascii(const char* p, const char* end) {
  // Thirty-two bytes per step; the sign bits are the non-ASCII bytes.
  for (; end - p >= 32; p += 32)
    if (_mm_movemask_epi8(_mm_or_si128(load16(p), load16(p + 16))) != 0) break;
  return portable::skip_ascii(p, end);
}

// The last few bytes are copied into a block padded with spaces, which are
// not special, so that no byte past `end` is read.
inline const char* find_string_special(const char* p, const char* end) {
  for (; end - p >= 16; p += 16)
    if (const unsigned mask = string_special_mask(load16(p))) return p + std::countr_zero(mask);
  if (p == end) return end;
  char block[16];
  std::memset(block, ' ', sizeof block);
  std::memcpy(block, p, static_cast<std::size_t>(end - p));
  const unsigned mask = string_special_mask(load16(block));
  return mask ? p + std::countr_zero(mask) : end;
}

// An indented document puts a line feed and a run of spaces before each
// member: such runs are crossed sixteen bytes at a time.
inline const char* skip_json_whitespace(const char* p, const char* end) {
  if (p == end || !is_json_whitespace(*p)) return p;
  for (; end - p >= 16; p += 16) {
    const __m128i v = load16(p);
    const __m128i space = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
    const __m128i other = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t')));
    const unsigned not_whitespace = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(space, other))) & 0xFFFF;
    if (not_whitespace) return p + std::countr_zero(not_whitespace);
  }
  return portable::skip_json_whitespace(p, end);
}

}  // namespace sse2

using sse2::find_string_special;
using sse2::skip_ascii;
using sse2::skip_json_whitespace;
#elif defined(__aarch64__) && defined(__ARM_NEON)
namespace neon {

inline uint8x16_t load16(const char* p) { return vld1q_u8(reinterpret_cast<const std::uint8_t*>(p)); }

// Four bits for each byte of a comparison's result, lowest byte first: NEON
// has no byte mask of its own, and narrowing each 16-bit lane by a shift of
// four keeps a nibble of each byte.
inline std::uint64_t nibble_mask(uint8x16_t matches) {
  return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(matches), 4)), 0);
}

// The first byte a nibble mask marks, from p.
inline const char* first_marked(const char* p, std::uint64_t mask) { return p + std::countr_zero(mask) / 4; }

inline uint8x16_t string_special(uint8x16_t v) {
  const uint8x16_t quote_or_backslash = vorrq_u8(vceqq_u8(v, vdupq_n_u8('"')), vceqq_u8(v, vdupq_n_u8('\\')));
  return vorrq_u8(quote_or_backslash, vcleq_u8(v, vdupq_n_u8(0x1F)));
}

inline const char* skip_ascii(const char* p, const char* end) {
  // Thirty-two bytes per step; a non-ASCII byte makes the largest byte 0x80 or more.
  for (; end - p >= 32; p += 32)
    if (vmaxvq_u8(vorrq_u8(load16(p), load16(p + 16))) >= 0x80) break;
  return portable::skip_ascii(p, end);
}

// The last few bytes are copied into a block padded with spaces, as in the
// SSE2 path.
inline const char* find_string_special(const char* p, const char* end) {
  for (; end - p >= 16; p += 16)
    if (const std::uint64_t mask = nibble_mask(string_special(load16(p)))) return first_marked(p, mask);
  if (p == end) return end;
  char block[16];
  std::memset(block, ' ', sizeof block);
  std::memcpy(block, p, static_cast<std::size_t>(end - p));
  const std::uint64_t mask = nibble_mask(string_special(load16(block)));
  return mask ? first_marked(p, mask) : end;
}

inline const char* skip_json_whitespace(const char* p, const char* end) {
  if (p == end || !is_json_whitespace(*p)) return p;
  for (; end - p >= 16; p += 16) {
    const uint8x16_t v = load16(p);
    const uint8x16_t space = vorrq_u8(vceqq_u8(v, vdupq_n_u8(' ')), vceqq_u8(v, vdupq_n_u8('\n')));
    const uint8x16_t other = vorrq_u8(vceqq_u8(v, vdupq_n_u8('\r')), vceqq_u8(v, vdupq_n_u8('\t')));
    if (const std::uint64_t mask = nibble_mask(vmvnq_u8(vorrq_u8(space, other)))) return first_marked(p, mask);
  }
  return portable::skip_json_whitespace(p, end);
}

}  // namespace neon

using neon::find_string_special;
using neon::skip_ascii;
using neon::skip_json_whitespace;
#else
using portable::find_string_special;
using portable::skip_ascii;
using portable::skip_json_whitespace;
#endif

}  // namespace morvane
