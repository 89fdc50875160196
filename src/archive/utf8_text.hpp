// UTF-8 checks for names and numeric fields read from archive headers, which
// are raw bytes in any encoding.
#pragma once

#include <string>
#include <string_view>

namespace morvane::archive {

bool is_utf8(std::string_view bytes);

// Appends `bytes` decoded as UTF-8 to `out`, each invalid sequence replaced by
// U+FFFD. A truncated but otherwise well-formed sequence (its longest valid
// prefix) becomes one replacement character; any other offending byte becomes
// one on its own.
void append_utf8_lossy(std::string& out, std::string_view bytes);

}  // namespace morvane::archive
