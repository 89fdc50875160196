#include "version/resolve.hpp"

#include "version/semver.hpp"

namespace morvane::version {

// One pass with a running maximum. Only a strictly greater version replaces
// the one kept, so identical texts resolve to the first listed; distinct
// texts never tie in the version order.
std::optional<std::size_t> resolve_version(std::span<const std::string_view> available,
                                           std::string_view range) {
  const auto parsed_range = parse_range(range);
  if (!parsed_range) return std::nullopt;

  std::optional<std::size_t> best_index;
  Version best;
  for (std::size_t i = 0; i < available.size(); ++i) {
    const auto candidate = parse_version(available[i]);
    if (!candidate || !satisfies(*candidate, *parsed_range)) continue;
    if (!best_index || compare(*candidate, best) > 0) {
      best_index = i;
      best = *candidate;
    }
  }
  return best_index;
}

}  // namespace morvane::version
