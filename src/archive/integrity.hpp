// Integrity strings: "sha512-" followed by the padded standard Base64 text of
// the SHA-512 digest of the bytes (95 characters in all).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "common/failure.hpp"

namespace morvane::archive {

// Returns the computed string when it equals `expected` byte for byte, else
// fails with ValueError "SHA-512 mismatch: expected <expected>, got <computed>".
Outcome<std::string> verify_integrity(std::span<const unsigned char> data, std::string_view expected);

}  // namespace morvane::archive
