// The text of an audit score, shared by the writers and by the reader's
// messages about numbers.
#pragma once

#include <string>
#include <string_view>

namespace morvane::lockfile {

// Appends a finite double as the shortest digits that read back as the same
// value: positional with a decimal point for decimal exponents -5..15 ("90.0",
// "0.0001"), otherwise scientific with a signed exponent ("1e+16", "1.5e-6").
void append_float(std::string& out, double value);

// The same for a value read from the JSON number `spelled` (rounded to the
// nearest double): the same text, taken from the spelling's digits where
// they are already the shortest.
void append_float(std::string& out, double value, std::string_view spelled);

}  // namespace morvane::lockfile
