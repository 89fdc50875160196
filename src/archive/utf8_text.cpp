#include "archive/utf8_text.hpp"

#include <cstddef>

namespace morvane::archive {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence starting at s[i] (1 to 4), or, when it is
// ill-formed, the negated length of its longest well-formed prefix (at least 1)
// that a single replacement character stands for.
int sequence_length(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return 1;
  int need;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
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

bool is_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const int n = sequence_length(bytes, i);
    if (n < 0) return false;
    i += static_cast<std::size_t>(n);
  }
  return true;
}

void append_utf8_lossy(std::string& out, std::string_view bytes) {
  std::size_t i = 0;
  std::size_t clean_from = 0;  // start of the run of valid bytes not yet appended
  while (i < bytes.size()) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
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

}  // namespace morvane::archive
