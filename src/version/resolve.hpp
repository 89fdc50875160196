// Choosing the highest version that satisfies a range.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace morvane::version {

// Index in `available` of the greatest valid version satisfying `range`, or
// nothing when the range is invalid or no listed version satisfies it.
// Invalid version texts are skipped.
std::optional<std::size_t> resolve_version(std::span<const std::string_view> available,
                                           std::string_view range);

}  // namespace morvane::version
