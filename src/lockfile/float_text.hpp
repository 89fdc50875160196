// The text of an audit score, shared by the writers and by the reader's
// messages about numbers.
#pragma once

#include <string>

namespace morvane::lockfile {

// Appends a finite double as the shortest digits that read back as the same
// value: positional with a decimal point for decimal exponents -5..15 ("90.0",
// "0.0001"), otherwise scientific with a signed exponent ("1e+16", "1.5e-6").
void append_float(std::string& out, double value);

}  // namespace morvane::lockfile
