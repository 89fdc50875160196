// Version and version-range texts: parsing, matching and ordering.
//
// A version is exactly MAJOR.MINOR.PATCH, optionally followed by "-" and a
// pre-release and by "+" and build metadata, with no prefix and no spaces, so
// each version has one written form. A range is a comma-separated list of
// comparators that must all hold. Nothing here allocates: parsed values hold
// views into the caller's text and are valid only while that text is.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace morvane::version {

// A comma after this many comparators makes a range invalid.
inline constexpr std::size_t max_comparators = 32;

struct Version {
  std::uint64_t major = 0;
  std::uint64_t minor = 0;
  std::uint64_t patch = 0;
  std::string_view prerelease;  // dot-separated identifiers as written; empty when none
  std::string_view build;       // dot-separated identifiers as written; empty when none
};

enum class Op : std::uint8_t {
  Exact,      // "="
  Greater,    // ">"
  GreaterEq,  // ">="
  Less,       // "<"
  LessEq,     // "<="
  Tilde,      // "~"
  Caret,      // "^", also a bare version
  Wildcard,   // a wildcard minor or patch written without an operator: "1.*", "1.2.x"
};

struct Comparator {
  Op op = Op::Caret;
  std::uint64_t major = 0;
  std::optional<std::uint64_t> minor;  // absent when not written or written as a wildcard
  std::optional<std::uint64_t> patch;  // likewise
  std::string_view prerelease;         // only ever set after a numeric patch
  // Build metadata written in a comparator is checked and dropped.
};

// The empty range (no comparators) is the wildcard-only range "*".
struct Range {
  std::array<Comparator, max_comparators> items{};
  std::size_t count = 0;

  std::span<const Comparator> comparators() const { return {items.data(), count}; }
};

std::optional<Version> parse_version(std::string_view text);
std::optional<Range> parse_range(std::string_view text);

bool satisfies(const Version& v, const Comparator& c);

// Every comparator holds, and a pre-release version is admitted only when some
// comparator names its major.minor.patch together with a pre-release.
bool satisfies(const Version& v, const Range& r);

// Pre-release precedence; the empty pre-release ranks above every other.
std::strong_ordering compare_prerelease(std::string_view a, std::string_view b);

// Total order: major, minor, patch, pre-release precedence, then build
// metadata. Equal only when all five fields are the same text.
std::strong_ordering compare(const Version& a, const Version& b);

}  // namespace morvane::version
