// The two written layouts of a lockfile. Writing cannot fail: every value of
// the records has a JSON form.
#pragma once

#include <cstddef>
#include <string>

#include "lockfile/document_view.hpp"
#include "lockfile/records.hpp"

namespace morvane::lockfile {

// Both reserve `size_hint` bytes before writing. The size of the text that the
// document was read from is a close guess: the output then grows rarely, and
// room reserved in a large block but never written is not backed by memory.

// One line, no whitespace between tokens, no trailing line feed.
std::string to_json_compact(const Lockfile& lockfile, std::size_t size_hint = 0);
std::string to_json_compact(const DocumentView& doc, std::size_t size_hint = 0);

// Two spaces per level, one member or element per line, no trailing line feed.
std::string to_json_pretty(const Lockfile& lockfile, std::size_t size_hint = 0);
std::string to_json_pretty(const DocumentView& doc, std::size_t size_hint = 0);

}  // namespace morvane::lockfile
