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

// Appends a finite double as the shortest digits that read back as the same
// value: positional with a decimal point for decimal exponents -5..15 ("90.0",
// "0.0001"), otherwise scientific with a signed exponent ("1e+16", "1.5e-6").
void append_float(std::string& out, double value);

// Appends `text` between double quotes with JSON escapes for the quote, the
// backslash and the bytes 0x00..0x1F; everything else is copied as it is.
void append_json_string(std::string& out, std::string_view text);

}  // namespace morvane::lockfile
