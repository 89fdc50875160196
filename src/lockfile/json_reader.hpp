// Reading a lockfile: one pass over the JSON text straight into the records.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "lockfile/records.hpp"

namespace morvane::lockfile {

// The first error in a document, with the line (from 1) and the column (bytes
// after the last line feed before the error) where it was found.
struct JsonError {
  std::string message;
  std::size_t line = 0;
  std::size_t column = 0;

  // "<message> at line <line> column <column>"
  std::string display() const;
};

// Reads exactly one lockfile from `text`, followed only by whitespace. Members
// with unknown keys are skipped (any depth, but well-formed); records may be
// objects or arrays of their fields in order. `text` is expected to be UTF-8;
// bytes of strings are kept as they are.
std::expected<Lockfile, JsonError> parse_lockfile(std::string_view text);

}  // namespace morvane::lockfile
