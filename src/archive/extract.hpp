// Safe extraction of a gzip-compressed tar archive held in memory.
#pragma once

#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/package_error.hpp"

namespace morvane::archive {

// Unpacks `data` under `dest`, dropping each entry's first path component, and
// returns the relative paths of the regular files written, in order.
std::expected<std::vector<std::string>, PackageError> extract_tarball(std::span<const unsigned char> data,
                                                                      std::string_view dest);

}  // namespace morvane::archive
