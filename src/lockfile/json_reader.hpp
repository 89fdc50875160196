// Reading a lockfile: one pass over the JSON text into a document that views it.
#pragma once

#include <expected>
#include <string_view>

#include "lockfile/document.hpp"
#include "lockfile/json_syntax.hpp"

namespace morvane::lockfile {

// Reads exactly one lockfile from `text`, followed only by whitespace, into a
// document that keeps `text`. Members with unknown keys are skipped (any
// depth, but well-formed); records may be objects or arrays of their fields
// in order. `text` is expected to be UTF-8; bytes of strings are kept as they
// are.
std::expected<Lockfile, JsonError> parse_lockfile(Bytes text);

// The same for a text that the caller keeps for as long as the document
// lives: it is read in place, not copied.
std::expected<Lockfile, JsonError> parse_lockfile(std::string_view text);

}  // namespace morvane::lockfile
