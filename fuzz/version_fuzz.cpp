// Versions and ranges from any text.
//
// The input is split at line feeds; every line is tried both as a version and
// as a range. Checked for each line:
// - an accepted version has one written form: its parsed fields, written out
//   again, are the line itself; and the line is also a range that the version
//   satisfies with each of the operators "", "=", ">=", "<=", "~" and "^";
// - the order is a total order on the versions seen: antisymmetric, equal only
//   for the same text, and transitive over a ring of recently seen versions
//   (kept across inputs, so a report names the texts involved);
// - an accepted range agrees with the order: a comparator that names a whole
//   version matches exactly the versions that rank accordingly, and the range
//   holds only when each of its comparators does;
// - resolving a range over the input's lines and the versions seen picks a
//   satisfying version that no other satisfying one outranks, or none when
//   none satisfies.
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "version/resolve.hpp"
#include "version/semver.hpp"

namespace {

using morvane::version::Comparator;
using morvane::version::compare;
using morvane::version::Op;
using morvane::version::parse_range;
using morvane::version::parse_version;
using morvane::version::Range;
using morvane::version::satisfies;
using morvane::version::Version;

[[noreturn]] void fail(const char* what, std::string_view a, std::string_view b = {}, std::string_view c = {}) {
  std::fprintf(stderr, "version invariant broken: %s\n  a: \"%.*s\"\n  b: \"%.*s\"\n  c: \"%.*s\"\n", what,
               static_cast<int>(a.size()), a.data(), static_cast<int>(b.size()), b.data(),
               static_cast<int>(c.size()), c.data());
  std::abort();
}

std::string written(const Version& v) {
  std::string out = std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
  if (!v.prerelease.empty()) out.append("-").append(v.prerelease);
  if (!v.build.empty()) out.append("+").append(v.build);
  return out;
}

// Semantic Versioning precedence: the order without the build-metadata tie-break.
std::strong_ordering precedence(Version a, Version b) {
  a.build = {};
  b.build = {};
  return compare(a, b);
}

// The most recent versions seen. Each keeps its own copy of the text, which
// its parsed fields view.
struct Seen {
  std::string text;
  Version version;
};
constexpr std::size_t ring_size = 8;
std::array<Seen, ring_size> ring;
std::size_t ring_used = 0;
std::size_t ring_next = 0;

void check_order(const Version& v, std::string_view text) {
  if (compare(v, v) != 0) fail("a version differs from itself", text);
  for (std::size_t i = 0; i < ring_used; ++i) {
    const Seen& r = ring[i];
    const auto forward = compare(v, r.version);
    const auto backward = compare(r.version, v);
    if (forward != (0 <=> backward)) fail("the order is not antisymmetric", text, r.text);
    if ((forward == 0) != (text == r.text)) fail("equal in the order but not the same text", text, r.text);
    const auto by_precedence = precedence(v, r.version);
    if (by_precedence != 0 && by_precedence != forward) fail("build metadata overrode precedence", text, r.text);
    for (std::size_t j = 0; j < ring_used; ++j) {
      const Seen& s = ring[j];
      // r < v and v < s must give r < s; likewise with v first or last.
      if (backward < 0 && compare(v, s.version) < 0 && compare(r.version, s.version) >= 0)
        fail("the order is not transitive", r.text, text, s.text);
      if (forward < 0 && compare(r.version, s.version) < 0 && compare(v, s.version) >= 0)
        fail("the order is not transitive", text, r.text, s.text);
      if (compare(s.version, r.version) < 0 && backward < 0 && compare(s.version, v) >= 0)
        fail("the order is not transitive", s.text, r.text, text);
    }
  }
}

void remember(std::string_view text) {
  Seen& slot = ring[ring_next];
  slot.text.assign(text);
  slot.version = *parse_version(slot.text);
  ring_next = (ring_next + 1) % ring_size;
  if (ring_used < ring_size) ++ring_used;
}

// The comparator rules written out case by case, as a second opinion on
// satisfies(): whole comparators through the version order, partial ones
// through the numbers they name.
bool model_satisfies(const Version& v, const Comparator& c) {
  const auto pre_at_least = [&](std::string_view q) {
    return morvane::version::compare_prerelease(v.prerelease, q) >= 0;
  };
  if (v.major != c.major) {
    switch (c.op) {
      case Op::Greater:
      case Op::GreaterEq: return v.major > c.major;
      case Op::Less:
      case Op::LessEq: return v.major < c.major;
      default: return false;
    }
  }
  // Same major from here on.
  if (!c.minor) {
    switch (c.op) {
      case Op::Exact:
      case Op::Wildcard:
      case Op::GreaterEq:
      case Op::LessEq:
      case Op::Tilde: return v.prerelease.empty();
      case Op::Caret: return true;
      case Op::Greater:
      case Op::Less: return false;
    }
  }
  const std::uint64_t b = *c.minor;
  if (!c.patch) {
    switch (c.op) {
      case Op::Exact:
      case Op::Wildcard:
      case Op::Tilde: return v.minor == b && v.prerelease.empty();
      case Op::Greater: return v.minor > b;
      case Op::Less: return v.minor < b;
      case Op::GreaterEq: return v.minor > b || (v.minor == b && v.prerelease.empty());
      case Op::LessEq: return v.minor < b || (v.minor == b && v.prerelease.empty());
      case Op::Caret: return c.major > 0 ? v.minor >= b : v.minor == b;
    }
  }
  const Version named{c.major, b, *c.patch, c.prerelease, {}};
  const auto order = precedence(v, named);
  switch (c.op) {
    case Op::Exact:
    case Op::Wildcard: return order == 0;
    case Op::Greater: return order > 0;
    case Op::GreaterEq: return order >= 0;
    case Op::Less: return order < 0;
    case Op::LessEq: return order <= 0;
    case Op::Tilde:
      if (v.minor != b) return false;
      return v.patch != *c.patch ? v.patch > *c.patch : pre_at_least(c.prerelease);
    case Op::Caret:
      if (c.major > 0) {
        if (v.minor != b) return v.minor > b;
      } else if (b > 0) {
        if (v.minor != b) return false;
      } else if (v.minor != 0 || v.patch != *c.patch) {
        return false;
      }
      return v.patch != *c.patch ? v.patch > *c.patch : pre_at_least(c.prerelease);
  }
  return false;
}

void check_comparator(const Version& v, const Comparator& c, std::string_view vtext, std::string_view rtext) {
  if (c.patch && !c.minor) fail("a patch without a minor", rtext);
  if (c.op == Op::Wildcard && c.patch) fail("a wildcard comparator names a whole version", rtext);
  if (!c.prerelease.empty() && !c.patch) fail("a pre-release without a patch", rtext);
  if (satisfies(v, c) != model_satisfies(v, c)) fail("a comparator disagrees with the model", vtext, rtext);
}

void check_range(const Version& v, const Range& r, std::string_view vtext, std::string_view rtext) {
  bool every = true;
  for (const Comparator& c : r.comparators()) {
    check_comparator(v, c, vtext, rtext);
    every = every && satisfies(v, c);
  }
  const bool held = satisfies(v, r);
  if (held && !every) fail("a range holds while one of its comparators does not", vtext, rtext);
  if (v.prerelease.empty() && held != every) fail("a range of holding comparators refuses a release", vtext, rtext);
  if (r.count == 0 && held != v.prerelease.empty()) fail("the wildcard range and pre-releases", vtext, rtext);
}

// Every version is a range of its own under these operators, and satisfies it.
void check_own_ranges(const Version& v, std::string_view text) {
  for (const char* op : {"", "=", ">=", "<=", "~", "^"}) {
    const std::string rtext = std::string(op) + std::string(text);
    const auto r = parse_range(rtext);
    if (!r) fail("a version is not a range", rtext);
    if (r->count != 1) fail("a version as a range is not one comparator", rtext);
    if (!satisfies(v, *r)) fail("a version does not satisfy its own range", text, rtext);
  }
}

void check_resolve(std::span<const std::string_view> available, const Range& r, std::string_view rtext) {
  const auto chosen = morvane::version::resolve_version(available, rtext);
  std::optional<Version> best;
  for (const std::string_view text : available) {
    const auto v = parse_version(text);
    if (v && satisfies(*v, r) && (!best || compare(*v, *best) > 0)) best = v;
  }
  if (chosen.has_value() != best.has_value()) fail("resolving finds a version where none fits, or none where one does", rtext);
  if (!chosen) return;
  if (*chosen >= available.size()) fail("resolving points past the list", rtext);
  const auto picked = parse_version(available[*chosen]);
  if (!picked || compare(*picked, *best) != 0) fail("resolving did not pick the highest fitting version", rtext, available[*chosen]);
}

void check_line(std::string_view line, std::span<const std::string_view> available) {
  const auto v = parse_version(line);
  if (v) {
    if (written(*v) != line) fail("a version does not write back to its text", line, written(*v));
    check_order(*v, line);
    check_own_ranges(*v, line);
  }
  if (const auto r = parse_range(line)) {
    if (r->count > morvane::version::max_comparators) fail("too many comparators", line);
    if (v) check_range(*v, *r, line, line);
    for (std::size_t i = 0; i < ring_used; ++i) check_range(ring[i].version, *r, ring[i].text, line);
    check_resolve(available, *r, line);
  }
  if (v) remember(line);
}

}  // namespace

// Lines beyond this many are ignored, which keeps each run short.
constexpr std::size_t max_lines = 16;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> lines;
  while (lines.size() < max_lines) {
    const std::size_t end = rest.find('\n');
    lines.push_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  // The candidates for resolving: this input's lines and the versions seen
  // before it (copied, since the ring changes as the lines are checked).
  std::vector<std::string> seen;
  for (std::size_t i = 0; i < ring_used; ++i) seen.push_back(ring[i].text);
  std::vector<std::string_view> available(lines);
  available.insert(available.end(), seen.begin(), seen.end());
  for (const std::string_view line : lines) check_line(line, available);
  return 0;
}
