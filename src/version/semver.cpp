#include "version/semver.hpp"

#include <limits>

#include "common/bytes.hpp"

namespace morvane::version {
namespace {

// A grammar piece's value and the input left after it.
template <class T>
struct Parsed {
  T value;
  std::string_view rest;
};

constexpr bool is_identifier_char(char c) {
  return is_digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
}

constexpr bool is_wildcard(char c) { return c == '*' || c == 'x' || c == 'X'; }

constexpr bool starts_with(std::string_view s, char c) { return !s.empty() && s.front() == c; }

constexpr bool starts_with_wildcard(std::string_view s) { return !s.empty() && is_wildcard(s.front()); }

// Only U+0020 is skipped; tabs and other white space are ordinary characters.
constexpr std::string_view skip_spaces(std::string_view s) {
  while (starts_with(s, ' ')) s.remove_prefix(1);
  return s;
}

// One or more digits, no leading zero on two or more, at most 2^64 - 1. The
// overflow check sits inside the loop so a long run of digits stops early.
std::optional<Parsed<std::uint64_t>> parse_numeric(std::string_view in) {
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  std::size_t n = 0;
  for (; n < in.size() && is_digit(in[n]); ++n) {
    if (n == 1 && in[0] == '0') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(in[n] - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (n == 0) return std::nullopt;
  return Parsed<std::uint64_t>{value, in.substr(n)};
}

enum class IdentifierKind { Prerelease, Build };

// Dot-separated segments of [0-9A-Za-z-]+. Only pre-release segments made of
// digits alone refuse a leading zero ("0" and "0a" pass, "01" does not); build
// metadata keeps "001" as written.
std::optional<Parsed<std::string_view>> parse_identifiers(std::string_view in, IdentifierKind kind) {
  std::size_t pos = 0;
  for (;;) {
    const std::size_t start = pos;
    bool all_digits = true;
    for (; pos < in.size() && is_identifier_char(in[pos]); ++pos) all_digits = all_digits && is_digit(in[pos]);
    const std::size_t length = pos - start;
    if (length == 0) return std::nullopt;
    if (kind == IdentifierKind::Prerelease && all_digits && length > 1 && in[start] == '0') return std::nullopt;
    if (pos == in.size() || in[pos] != '.') return Parsed<std::string_view>{in.substr(0, pos), in.substr(pos)};
    ++pos;
  }
}

struct Suffix {
  std::string_view prerelease;
  std::string_view build;
};

// The optional "-" pre-release and "+" build metadata after a patch number.
std::optional<Parsed<Suffix>> parse_suffix(std::string_view in) {
  Suffix suffix;
  if (starts_with(in, '-')) {
    auto pre = parse_identifiers(in.substr(1), IdentifierKind::Prerelease);
    if (!pre) return std::nullopt;
    suffix.prerelease = pre->value;
    in = pre->rest;
  }
  if (starts_with(in, '+')) {
    auto build = parse_identifiers(in.substr(1), IdentifierKind::Build);
    if (!build) return std::nullopt;
    suffix.build = build->value;
    in = build->rest;
  }
  return Parsed<Suffix>{suffix, in};
}

struct WrittenOp {
  Op op;
  bool written;
};

// Never fails: without an operator character the comparator is a caret one.
Parsed<WrittenOp> parse_operator(std::string_view in) {
  if (in.starts_with(">=")) return {{Op::GreaterEq, true}, in.substr(2)};
  if (in.starts_with("<=")) return {{Op::LessEq, true}, in.substr(2)};
  if (!in.empty()) {
    switch (in.front()) {
      case '>': return {{Op::Greater, true}, in.substr(1)};
      case '<': return {{Op::Less, true}, in.substr(1)};
      case '=': return {{Op::Exact, true}, in.substr(1)};
      case '~': return {{Op::Tilde, true}, in.substr(1)};
      case '^': return {{Op::Caret, true}, in.substr(1)};
      default: break;
    }
  }
  return {{Op::Caret, false}, in};
}

// Operator, spaces, then MAJOR[.MINOR[.PATCH[-PRE][+BUILD]]], where MINOR and
// PATCH may be a wildcard ("*", "x", "X") and a wildcard minor admits only a
// wildcard patch. Leaves trailing spaces and the separator to the caller.
std::optional<Parsed<Comparator>> parse_comparator(std::string_view in) {
  const auto [op, rest_after_op] = parse_operator(in);
  std::string_view rest = skip_spaces(rest_after_op);
  const auto major = parse_numeric(rest);
  if (!major) return std::nullopt;
  Comparator c;
  c.op = op.op;
  c.major = major->value;
  rest = major->rest;
  if (!starts_with(rest, '.')) return Parsed<Comparator>{c, rest};
  rest.remove_prefix(1);

  if (starts_with_wildcard(rest)) {
    rest.remove_prefix(1);
    if (!op.written) c.op = Op::Wildcard;
  } else {
    const auto minor = parse_numeric(rest);
    if (!minor) return std::nullopt;
    c.minor = minor->value;
    rest = minor->rest;
  }
  if (!starts_with(rest, '.')) return Parsed<Comparator>{c, rest};
  rest.remove_prefix(1);

  if (starts_with_wildcard(rest)) {
    rest.remove_prefix(1);
    if (!op.written) c.op = Op::Wildcard;
    return Parsed<Comparator>{c, rest};
  }
  if (!c.minor) return std::nullopt;  // "1.*.3"
  const auto patch = parse_numeric(rest);
  if (!patch) return std::nullopt;
  c.patch = patch->value;
  const auto suffix = parse_suffix(patch->rest);
  if (!suffix) return std::nullopt;
  c.prerelease = suffix->value.prerelease;
  return Parsed<Comparator>{c, suffix->rest};
}

// The version against the comparator's written parts, part by part; nothing
// when the parts written so far are equal and the next one is absent, where
// neither ">" nor "<" can hold.
std::optional<std::strong_ordering> compare_written(const Version& v, const Comparator& c) {
  if (v.major != c.major) return v.major <=> c.major;
  if (!c.minor) return std::nullopt;
  if (v.minor != *c.minor) return v.minor <=> *c.minor;
  if (!c.patch) return std::nullopt;
  if (v.patch != *c.patch) return v.patch <=> *c.patch;
  return compare_prerelease(v.prerelease, c.prerelease);
}

bool matches_exact(const Version& v, const Comparator& c) {
  return v.major == c.major && (!c.minor || v.minor == *c.minor) && (!c.patch || v.patch == *c.patch) &&
         v.prerelease == c.prerelease;
}

bool matches_greater(const Version& v, const Comparator& c) {
  const auto order = compare_written(v, c);
  return order && *order > 0;
}

bool matches_less(const Version& v, const Comparator& c) {
  const auto order = compare_written(v, c);
  return order && *order < 0;
}

// A greater patch decides; at the same patch, or with no patch written, the
// pre-release must rank at least as high. With no patch written the
// comparator's pre-release is empty, so the version must have none.
bool patch_at_least(const Version& v, const Comparator& c) {
  if (c.patch && v.patch != *c.patch) return v.patch > *c.patch;
  return compare_prerelease(v.prerelease, c.prerelease) >= 0;
}

bool matches_tilde(const Version& v, const Comparator& c) {
  return v.major == c.major && (!c.minor || v.minor == *c.minor) && patch_at_least(v, c);
}

// Below 1.0.0 the leftmost non-zero part is held fixed: ^0.2.3 stays within
// 0.2.x and ^0.0.3 admits 0.0.3 alone.
bool matches_caret(const Version& v, const Comparator& c) {
  if (v.major != c.major) return false;
  if (!c.minor) return true;
  if (!c.patch) return c.major > 0 ? v.minor >= *c.minor : v.minor == *c.minor;
  if (c.major > 0) {
    if (v.minor != *c.minor) return v.minor > *c.minor;
  } else if (*c.minor > 0) {
    if (v.minor != *c.minor) return false;
  } else if (v.minor != 0 || v.patch != *c.patch) {
    return false;
  }
  return patch_at_least(v, c);
}

bool names_prerelease_of(const Comparator& c, const Version& v) {
  return c.major == v.major && c.minor == v.minor && c.patch == v.patch && !c.prerelease.empty();
}

std::string_view take_segment(std::string_view& list) {
  const std::size_t dot = list.find('.');
  const std::string_view segment = list.substr(0, dot);
  list = dot == std::string_view::npos ? std::string_view() : list.substr(dot + 1);
  return segment;
}

bool digits_only(std::string_view s) {
  for (char ch : s)
    if (!is_digit(ch)) return false;
  return true;
}

// Digit strings without leading zeros: the longer is larger, equal lengths
// compare digit by digit. No value limit, so no conversion.
std::strong_ordering compare_magnitude(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return a.size() <=> b.size();
  return a <=> b;
}

std::string_view strip_leading_zeros(std::string_view s) {
  const std::size_t first = s.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view() : s.substr(first);
}

// Numeric segments rank below alphanumeric ones and compare by value, equal
// values by length: build metadata may carry leading zeros, and orders
// "1" < "01" < "001" (a pre-release number has none, so its value decides).
// Alphanumeric segments compare by ASCII bytes, a proper prefix ranking below
// the longer text.
std::strong_ordering compare_segment(std::string_view a, std::string_view b) {
  const bool a_numeric = digits_only(a);
  const bool b_numeric = digits_only(b);
  if (a_numeric && b_numeric) {
    const auto by_value = compare_magnitude(strip_leading_zeros(a), strip_leading_zeros(b));
    return by_value != 0 ? by_value : a.size() <=> b.size();
  }
  if (a_numeric != b_numeric) return a_numeric ? std::strong_ordering::less : std::strong_ordering::greater;
  return a <=> b;
}

// Two non-empty identifier lists, segment by segment; when one runs out with
// every compared segment equal, the longer list ranks above. Valid lists
// hold no empty segment, so an emptied remainder means the list has ended.
std::strong_ordering compare_identifier_lists(std::string_view a, std::string_view b) {
  while (!a.empty() && !b.empty()) {
    const auto order = compare_segment(take_segment(a), take_segment(b));
    if (order != 0) return order;
  }
  return !a.empty() <=> !b.empty();
}

// Build-metadata tie-break; the empty build metadata ranks below every other.
std::strong_ordering compare_build(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return !a.empty() <=> !b.empty();
  return compare_identifier_lists(a, b);
}

}  // namespace

std::optional<Version> parse_version(std::string_view text) {
  const auto major = parse_numeric(text);
  if (!major || !starts_with(major->rest, '.')) return std::nullopt;
  const auto minor = parse_numeric(major->rest.substr(1));
  if (!minor || !starts_with(minor->rest, '.')) return std::nullopt;
  const auto patch = parse_numeric(minor->rest.substr(1));
  if (!patch) return std::nullopt;
  const auto suffix = parse_suffix(patch->rest);
  if (!suffix || !suffix->rest.empty()) return std::nullopt;
  return Version{major->value, minor->value, patch->value, suffix->value.prerelease, suffix->value.build};
}

std::optional<Range> parse_range(std::string_view text) {
  Range range;
  std::string_view rest = skip_spaces(text);
  if (starts_with_wildcard(rest)) {
    if (!skip_spaces(rest.substr(1)).empty()) return std::nullopt;
    return range;
  }
  for (;;) {
    const auto comparator = parse_comparator(rest);
    if (!comparator) return std::nullopt;
    range.items[range.count++] = comparator->value;
    rest = skip_spaces(comparator->rest);
    if (rest.empty()) return range;
    if (rest.front() != ',' || range.count == max_comparators) return std::nullopt;
    rest = skip_spaces(rest.substr(1));
  }
}

bool satisfies(const Version& v, const Comparator& c) {
  switch (c.op) {
    case Op::Exact:
    case Op::Wildcard: return matches_exact(v, c);
    case Op::Greater: return matches_greater(v, c);
    case Op::GreaterEq: return matches_exact(v, c) || matches_greater(v, c);
    case Op::Less: return matches_less(v, c);
    case Op::LessEq: return matches_exact(v, c) || matches_less(v, c);
    case Op::Tilde: return matches_tilde(v, c);
    case Op::Caret: return matches_caret(v, c);
  }
  return false;
}

bool satisfies(const Version& v, const Range& r) {
  bool admitted = v.prerelease.empty();
  for (const Comparator& c : r.comparators()) {
    if (!satisfies(v, c)) return false;
    admitted = admitted || names_prerelease_of(c, v);
  }
  return admitted;
}

std::strong_ordering compare_prerelease(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return a.empty() <=> b.empty();
  return compare_identifier_lists(a, b);
}

std::strong_ordering compare(const Version& a, const Version& b) {
  if (a.major != b.major) return a.major <=> b.major;
  if (a.minor != b.minor) return a.minor <=> b.minor;
  if (a.patch != b.patch) return a.patch <=> b.patch;
  if (const auto order = compare_prerelease(a.prerelease, b.prerelease); order != 0) return order;
  return compare_build(a.build, b.build);
}

}  // namespace morvane::version
