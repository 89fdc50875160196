// Finding the bytes that end a plain run of JSON string text: the double
// quote, the backslash and the control bytes 0x00..0x1F. The reader stops at
// them and the writers escape exactly them, so both share one scan, sixteen
// bytes at a time with SSE2 (every x86-64 processor has it), else eight. The
// reader's skipping of whitespace between tokens is here too.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvane::lockfile {

constexpr bool is_string_special(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b == '"' || b == '\\' || b < 0x20;
}

#if defined(__SSE2__)
// The special bytes among the sixteen at `p`, one bit each, lowest first.
inline unsigned string_special_mask(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
  const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
  // Unsigned v <= 0x1F exactly when min(v, 0x1F) == v.
  const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(quote, backslash), control)));
}

// The first special byte in [p, end), or end. Sixteen bytes at a time; the
// last few are copied into a block padded with spaces, which are not special,
// so that no byte past `end` is read.
inline const char* find_string_special(const char* p, const char* end) {
  for (; end - p >= 16; p += 16) {
    if (const unsigned mask = string_special_mask(p)) return p + std::countr_zero(mask);
  }
  if (p == end) return end;
  char block[16];
  std::memset(block, ' ', sizeof block);
  std::memcpy(block, p, static_cast<std::size_t>(end - p));
  const unsigned mask = string_special_mask(block);
  return mask ? p + std::countr_zero(mask) : end;
}
#else
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
#endif

constexpr bool is_json_whitespace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// The first byte in [p, end) that is not JSON whitespace, or end. Between
// tokens there is mostly nothing or one space, but an indented document puts a
// line feed and a run of spaces before each member: such runs are crossed
// sixteen bytes at a time.
inline const char* skip_json_whitespace(const char* p, const char* end) {
  if (p == end || !is_json_whitespace(*p)) return p;
#if defined(__SSE2__)
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i space = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
    const __m128i other = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t')));
    const unsigned not_whitespace = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(space, other))) & 0xFFFF;
    if (not_whitespace) return p + std::countr_zero(not_whitespace);
  }
#endif
  while (p < end && is_json_whitespace(*p)) ++p;
  return p;
}

}  // namespace morvane::lockfile
