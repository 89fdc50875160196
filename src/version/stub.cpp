// Placeholder until the version subsystem lands.
#include <stdexcept>

#include "version/resolve.hpp"

namespace morvane::version {

std::optional<std::size_t> resolve_version(std::span<const std::string_view>, std::string_view) {
  throw std::logic_error("resolve_version is not built yet");
}

}  // namespace morvane::version
