// Integrity strings: "sha512-" followed by the padded standard Base64 text of
// the SHA-512 digest of the bytes (95 characters in all).
#pragma once

#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "archive/package_error.hpp"

namespace morvane::archive {

std::string integrity_of(std::span<const unsigned char> data);

// Returns the computed string when it equals `expected` byte for byte.
std::expected<std::string, PackageError> verify_integrity(std::span<const unsigned char> data,
                                                          std::string_view expected);

}  // namespace morvane::archive
