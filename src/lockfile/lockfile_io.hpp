// Moving a lockfile between a file and its normalised JSON text.
#pragma once

#include <string>
#include <string_view>

#include "common/failure.hpp"

namespace morvane::lockfile {

// Reads, validates and returns the document in the compact layout. Every
// failure, a document that is not a lockfile included, is an OSError.
Outcome<std::string> read_lockfile(std::string_view path);

// Validates `json` (ValueError when it is not a lockfile) and stores it in the
// indented layout followed by one line feed (OSError when that fails).
Outcome<void> write_lockfile(std::string_view path, std::string_view json);

}  // namespace morvane::lockfile
