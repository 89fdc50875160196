// The two written layouts of a lockfile. Writing cannot fail: every value of
// the document has a JSON form.
#pragma once

#include <string>

#include "lockfile/document.hpp"

namespace morvane::lockfile {

// How the document's texts and scores are spelled in the output. AsRead
// copies a text that was read without escapes as it stands and takes a
// score's digits from its spelling where they are already the shortest;
// Recomputed escapes every text and writes every score from its value. Both
// give the same bytes: AsRead does less work.
enum class Spelling { AsRead, Recomputed };

// One line, no whitespace between tokens, no trailing line feed.
std::string to_json_compact(const Lockfile& doc, Spelling spelling = Spelling::AsRead);

// Two spaces per level, one member or element per line, no trailing line feed.
std::string to_json_pretty(const Lockfile& doc, Spelling spelling = Spelling::AsRead);

}  // namespace morvane::lockfile
