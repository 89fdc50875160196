// The two written layouts of a lockfile. Writing cannot fail: every value of
// the records has a JSON form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "lockfile/records.hpp"

namespace morvane::lockfile {

// One line, no whitespace between tokens, no trailing line feed.
std::string to_json_compact(const Lockfile& lockfile);

// Two spaces per level, one member or element per line, no trailing line
// feed. The result has room for one more byte, so appending the line feed of
// a stored file does not copy it.
std::string to_json_pretty(const Lockfile& lockfile);

// The longest text format_float writes.
constexpr std::size_t max_float_chars = 25;

// Writes a finite double as the shortest digits that read back as the same
// value: positional with a decimal point for decimal exponents -5..15 ("90.0",
// "0.0001"), otherwise scientific with a signed exponent ("1e+16", "1.5e-6").
// Returns the end of what was written.
char* format_float(char* out, double value);

void append_float(std::string& out, double value);

}  // namespace morvane::lockfile
