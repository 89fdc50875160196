// A lockfile as the reader finds it, before its texts are copied out: every
// text is a view into the JSON text that was read, except those written with
// escapes, whose decoded bytes the document keeps itself. Reading a file and
// writing it again in another layout needs no text of its own, so the two
// lockfile functions go through this form; the records of records.hpp are
// built from it only where a caller wants values that own their texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lockfile/records.hpp"

namespace morvane::lockfile {

// A list of texts held in DocumentView::texts: `count` of them from `first`.
// An absent list (missing or null) is not present, unlike an empty one.
struct TextRange {
  std::size_t first = 0;
  std::size_t count = 0;
  bool present = false;
};

// The permissions of one skill; the lists of an absent part are not present.
struct PermissionsView {
  bool network = false;
  bool filesystem = false;
  std::optional<bool> subprocess;
  TextRange outbound;
  TextRange read;
  TextRange write;
};

// One skill, named by the key it had in `skills`. Its dependencies are
// `dependency_count` members of DocumentView::dependencies from
// `first_dependency`, in ascending key order and each key once.
struct EntryView {
  std::string_view name;
  std::string_view resolved;
  std::string_view integrity;
  PermissionsView permissions;
  std::optional<double> audit_score;  // written as null when absent or not finite
  std::string_view audit_score_spelled;  // the JSON number it was read from, if any
  std::size_t first_dependency = 0;
  std::size_t dependency_count = 0;
};

// The whole document. Valid as long as the text it was read from. Moving it
// keeps its views valid; a copy would view the decoded texts of the
// original, so there is none.
struct DocumentView {
  using Dependency = std::pair<std::string_view, std::string_view>;

  DocumentView() = default;
  DocumentView(DocumentView&&) = default;
  DocumentView& operator=(DocumentView&&) = default;
  DocumentView(const DocumentView&) = delete;
  DocumentView& operator=(const DocumentView&) = delete;

  std::uint32_t lockfileVersion = 0;
  std::vector<EntryView> skills;  // ascending by name (key bytes), each name once

  // The JSON text the document was read from, if any. A text viewed in it
  // was written there without escapes, so it holds no double quote, no
  // backslash and no control byte (the reader refuses those raw).
  std::string_view source;

  std::vector<std::string_view> texts;     // the elements of every list
  std::vector<Dependency> dependencies;    // the members of every skill's dependencies
  std::deque<std::string> decoded;         // texts that had escapes; a deque never moves them

  std::span<const std::string_view> list(const TextRange& range) const {
    return std::span<const std::string_view>(texts).subspan(range.first, range.count);
  }
  std::span<const Dependency> dependencies_of(const EntryView& entry) const {
    return std::span<const Dependency>(dependencies).subspan(entry.first_dependency, entry.dependency_count);
  }
};

// The records of a document, owning copies of its texts.
Lockfile to_records(const DocumentView& view);

// A document viewing the texts of `lockfile`, valid as long as it is.
DocumentView view_of(const Lockfile& lockfile);

}  // namespace morvane::lockfile
