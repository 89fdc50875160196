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

// Archives of at least this many compressed bytes are decompressed on a second
// thread while the files are written; for smaller ones starting a thread costs
// more than it saves.
inline constexpr std::size_t read_ahead_from_bytes = 128 * 1024;

// Unpacks `data` under `dest`, dropping each entry's first path component, and
// returns the relative paths of the regular files written, in order. The
// outcome is the same whether or not decompression runs ahead on its own
// thread; `read_ahead_from` only chooses when it does.
std::expected<std::vector<std::string>, PackageError> extract_tarball(
    std::span<const unsigned char> data, std::string_view dest,
    std::size_t read_ahead_from = read_ahead_from_bytes);

}  // namespace morvane::archive
