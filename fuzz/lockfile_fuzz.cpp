// Lockfile reading and both writers, on any bytes.
//
// A refused text gets an error whose position lies within the text. An
// accepted one is written compact; reading that back gives the same document
// (audit scores bit for bit), and so does reading the indented layout; the
// indented layout differs from the compact one only by whitespace outside
// strings, and the compact one has none. skills comes out sorted by key bytes
// with each key once. Both layouts written as read (texts copied from the
// input, scores from their spelling) are the same as those written with every
// text escaped again and every score written from its value.
#include <algorithm>
#include <ranges>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "lockfile/json_reader.hpp"
#include "lockfile/json_writer.hpp"

namespace {

using morvane::lockfile::LockEntry;
using morvane::lockfile::Lockfile;
using morvane::lockfile::parse_lockfile;
using morvane::lockfile::Spelling;
using morvane::lockfile::TextRange;

[[noreturn]] void fail(const char* what, std::string_view a = {}, std::string_view b = {}) {
  std::fprintf(stderr, "lockfile invariant broken: %s\n  %.*s\n  %.*s\n", what, static_cast<int>(a.size()), a.data(),
               static_cast<int>(b.size()), b.data());
  std::abort();
}

bool same_score(const std::optional<double>& a, const std::optional<double>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || std::bit_cast<std::uint64_t>(*a) == std::bit_cast<std::uint64_t>(*b);
}

// Two lists, each in its own document.
bool same_list(const Lockfile& da, const TextRange& a, const Lockfile& db, const TextRange& b) {
  return a.present == b.present && std::ranges::equal(da.list(a), db.list(b));
}

template <class Part, class Same>
bool same_part(const std::optional<Part>& a, const std::optional<Part>& b, Same same) {
  return a.has_value() == b.has_value() && (!a || same(*a, *b));
}

bool same_entry(const Lockfile& da, const LockEntry& a, const Lockfile& db, const LockEntry& b) {
  const auto& pa = a.permissions;
  const auto& pb = b.permissions;
  return a.name == b.name && a.resolved == b.resolved && a.integrity == b.integrity &&
         same_part(pa.network, pb.network, [&](auto& x, auto& y) { return same_list(da, x.outbound, db, y.outbound); }) &&
         same_part(pa.filesystem, pb.filesystem,
                   [&](auto& x, auto& y) { return same_list(da, x.read, db, y.read) && same_list(da, x.write, db, y.write); }) &&
         pa.subprocess == pb.subprocess && same_score(a.audit_score, b.audit_score) &&
         std::ranges::equal(da.dependencies_of(a), db.dependencies_of(b));
}

bool same_document(const Lockfile& a, const Lockfile& b) {
  if (a.lockfileVersion != b.lockfileVersion || a.skills.size() != b.skills.size()) return false;
  for (std::size_t i = 0; i < a.skills.size(); ++i)
    if (!same_entry(a, a.skills[i], b, b.skills[i])) return false;
  return true;
}

// The text with every space, tab, line feed and carriage return outside
// strings removed.
std::string without_whitespace(std::string_view text) {
  std::string out;
  bool in_string = false;
  bool escaped = false;
  for (const char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      continue;
    }
    out.push_back(c);
  }
  return out;
}

void check_refusal(std::string_view text, const morvane::lockfile::JsonError& error) {
  if (error.message.empty()) fail("an error without a message", text);
  // The position counts bytes of the text: a line that exists, a column within it.
  std::size_t lines = 1;
  for (const char c : text) lines += c == '\n';
  if (error.line < 1 || error.line > lines) fail("an error on a line the text does not have", error.display());
  const std::string suffix =
      " at line " + std::to_string(error.line) + " column " + std::to_string(error.column);
  if (!error.display().ends_with(suffix) || error.display().size() != error.message.size() + suffix.size())
    fail("an error displayed in another form", error.display());
  std::size_t line_start = 0;
  for (std::size_t line = 1; line < error.line; ++line) line_start = text.find('\n', line_start) + 1;
  const std::size_t line_end = std::min(text.find('\n', line_start), text.size());
  // The column may count the line feed that ends the line.
  if (error.column > line_end - line_start + 1) fail("an error past the end of its line", error.display());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto document = parse_lockfile(text);
  if (!document) {
    check_refusal(text, document.error());
    return 0;
  }
  std::string_view previous;
  bool first = true;
  for (const LockEntry& entry : document->skills) {
    if (!first && !(previous < entry.name)) fail("skills out of order or repeated", previous, entry.name);
    previous = entry.name;
    first = false;
  }

  const std::string compact = morvane::lockfile::to_json_compact(*document);
  if (without_whitespace(compact) != compact) fail("whitespace between the compact layout's tokens", compact);
  const auto reread = parse_lockfile(compact);
  if (!reread) fail("the compact layout is refused", compact, reread.error().display());
  if (!same_document(*document, *reread)) fail("the compact layout reads back as another document", text, compact);

  const std::string pretty = morvane::lockfile::to_json_pretty(*document);
  if (without_whitespace(pretty) != compact) fail("the layouts differ in more than whitespace", compact, pretty);
  if (pretty.find(" \n") != std::string::npos || pretty.find("\n\n") != std::string::npos || pretty.ends_with('\n'))
    fail("stray whitespace in the indented layout", pretty);
  const auto reread_pretty = parse_lockfile(pretty);
  if (!reread_pretty) fail("the indented layout is refused", pretty, reread_pretty.error().display());
  if (!same_document(*document, *reread_pretty)) fail("the indented layout reads back as another document", pretty);

  const std::string compact_recomputed = morvane::lockfile::to_json_compact(*document, Spelling::Recomputed);
  if (compact_recomputed != compact)
    fail("the compact layout differs when written again from the values", compact, compact_recomputed);
  const std::string pretty_recomputed = morvane::lockfile::to_json_pretty(*document, Spelling::Recomputed);
  if (pretty_recomputed != pretty)
    fail("the indented layout differs when written again from the values", pretty, pretty_recomputed);
  return 0;
}
