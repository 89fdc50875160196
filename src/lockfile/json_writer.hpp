// The two written layouts of a lockfile. Writing cannot fail: every value of
// the records has a JSON form.
#pragma once

#include <string>

#include "lockfile/records.hpp"

namespace morvane::lockfile {

// One line, no whitespace between tokens, no trailing line feed.
std::string to_json_compact(const Lockfile& lockfile);

// Two spaces per level, one member or element per line, no trailing line feed.
std::string to_json_pretty(const Lockfile& lockfile);

}  // namespace morvane::lockfile
