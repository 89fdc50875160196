// Safe extraction of a gzip-compressed tar archive held in memory.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.hpp"

namespace morvane::archive {

// Unpacks `data` under `dest`, dropping each entry's first path component, and
// returns the relative paths of the regular files written, in order. Every
// failure is raised as OSError, with what was written before it left on disk.
Outcome<std::vector<std::string>> extract_tarball(std::span<const unsigned char> data, std::string_view dest);

}  // namespace morvane::archive
