// UTF-8 well-formedness of a whole byte string.
#pragma once

#include <string_view>

namespace morvane::lockfile {

// True when `bytes` is well-formed UTF-8: no stray continuation bytes, no
// truncated or overlong sequences, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

}  // namespace morvane::lockfile
