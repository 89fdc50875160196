// Reading a lockfile: one pass over the JSON text into a document of views,
// and from there, where wanted, into the records.
#pragma once

#include <expected>
#include <string_view>

#include "lockfile/document_view.hpp"
#include "lockfile/json_syntax.hpp"
#include "lockfile/records.hpp"

namespace morvane::lockfile {

// Reads exactly one lockfile from `text`, followed only by whitespace. Members
// with unknown keys are skipped (any depth, but well-formed); records may be
// objects or arrays of their fields in order. `text` is expected to be UTF-8;
// bytes of strings are kept as they are.
std::expected<Lockfile, JsonError> parse_lockfile(std::string_view text);

// The same reading, giving a document that views `text` (see DocumentView):
// the same document, the same errors, without a copy of each text.
std::expected<DocumentView, JsonError> parse_lockfile_view(std::string_view text);

}  // namespace morvane::lockfile
