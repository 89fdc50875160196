#include "common/utf8.hpp"

#include <cstddef>
#include <cstdint>

#include "common/scan.hpp"

namespace morvane {
namespace {

// Which path the scans take, for a reader of the library's bytes (see
// build_system_calls in posix.cpp): "sse2", "neon" or "portable".
[[gnu::used, gnu::retain]] constexpr char build_scans[] = "morvane_core scans: " MORVANE_SCAN_PATH;

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// The first byte at or after `i` that is not ASCII, or the size. Lockfiles and
// archive names are almost all ASCII.
std::size_t next_non_ascii(std::string_view s, std::size_t i) {
  return static_cast<std::size_t>(skip_ascii(s.data() + i, s.data() + s.size()) - s.data());
}

// Length of the well-formed sequence starting at s[i] (1 to 4), or, when it is
// ill-formed, the negated length of its longest well-formed prefix (at least 1)
// that a single replacement character stands for.
int sequence_length(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return 1;
  // The second byte's range depends on the lead byte: that is where overlong
  // forms, surrogates and values above U+10FFFF are excluded.
  int need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 3;
    if (b == 0xE0) lo = 0xA0;  // overlong forms
    if (b == 0xED) hi = 0x9F;  // UTF-16 surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 4;
    if (b == 0xF0) lo = 0x90;  // overlong forms
    if (b == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    return -1;
  }
  for (int k = 1; k < need; ++k) {
    if (i + k >= s.size()) return -k;
    const auto c = static_cast<unsigned char>(s[i + k]);
    const bool ok = k == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
    if (!ok) return -k;
  }
  return need;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t i = next_non_ascii(bytes, 0); i < bytes.size(); i = next_non_ascii(bytes, i)) {
    const int n = sequence_length(bytes, i);
    if (n < 0) return false;
    i += static_cast<std::size_t>(n);
  }
  return true;
}

void append_utf8_lossy(std::string& out, std::string_view bytes) {
  std::size_t clean_from = 0;  // start of the run of valid bytes not yet appended
  for (std::size_t i = next_non_ascii(bytes, 0); i < bytes.size(); i = next_non_ascii(bytes, i)) {
    const int n = sequence_length(bytes, i);
    if (n > 0) {
      i += static_cast<std::size_t>(n);
      continue;
    }
    out.append(bytes.substr(clean_from, i - clean_from));
    out.append(replacement);
    i += static_cast<std::size_t>(-n);
    clean_from = i;
  }
  out.append(bytes.substr(clean_from));
}

std::size_t utf8_prefix_bytes(std::string_view text, std::size_t code_points) {
  std::size_t i = 0;
  for (; code_points > 0; --code_points) {
    if (i == text.size()) return std::string_view::npos;
    // A code point is its lead byte and the continuation bytes (10xxxxxx) after it.
    do ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80);
  }
  return i;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace morvane
