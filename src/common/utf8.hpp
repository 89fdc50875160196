// UTF-8: checking, lossy decoding and encoding. Lockfiles must be UTF-8 and
// are read through is_valid_utf8; archive headers are raw bytes in any
// encoding and are shown through append_utf8_lossy.
#pragma once

#include <string>
#include <string_view>

namespace morvane {

// True when `bytes` is well-formed UTF-8: no stray continuation bytes, no
// truncated or overlong sequences, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

// Appends `bytes` decoded as UTF-8 to `out`, each invalid sequence replaced by
// U+FFFD. A truncated but otherwise well-formed sequence (its longest valid
// prefix) becomes one replacement character; any other offending byte becomes
// one on its own.
void append_utf8_lossy(std::string& out, std::string_view bytes);

// Bytes taken by the first `code_points` code points of the well-formed UTF-8
// `text`, or npos when it holds fewer.
std::size_t utf8_prefix_bytes(std::string_view text, std::size_t code_points);

// Appends the UTF-8 form of the code point `cp`, which is at most U+10FFFF.
void append_utf8(std::string& out, char32_t cp);

}  // namespace morvane
