// A lockfile as it was read: its texts are views into the JSON text it was
// read from, except those written with escapes, whose decoded bytes it keeps
// itself. That JSON text is a file's bytes, which the document owns, or a
// caller's text, which must outlive the document. Reading a file and writing
// it again in another layout copies no text.
//
// A field is a member here, a row of the reader's field tables and its place
// in the writer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::lockfile {

// Bytes in one malloc'd block, which a move keeps where they are: the content
// of a file, or a copy of a text.
class Bytes {
 public:
  // Room for `capacity` bytes in all, those held kept; false when no memory
  // could be had for it.
  bool reserve(std::size_t capacity) {
    if (data_ && capacity <= capacity_) return true;
    char* grown = static_cast<char*>(std::realloc(data_.get(), std::max<std::size_t>(capacity, 1)));
    if (!grown) return false;
    (void)data_.release();
    data_.reset(grown);
    capacity_ = std::max<std::size_t>(capacity, 1);
    return true;
  }
  std::size_t capacity() const { return data_ ? capacity_ : 0; }
  // The room after the bytes held, and taking `n` more bytes written there.
  char* end() { return data_.get() + size_; }
  void grow_by(std::size_t n) { size_ += n; }

  std::string_view view() const { return {data_.get(), size_}; }

 private:
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, Free> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// A list of texts held in Lockfile::texts: `count` of them from `first`. An
// absent list (missing or null) is not present, unlike an empty one.
struct TextRange {
  std::size_t first = 0;
  std::size_t count = 0;
  bool present = false;
};

struct NetworkPermissions {
  TextRange outbound;
};

struct FilesystemPermissions {
  TextRange read;
  TextRange write;
};

// What a skill was granted when it was locked.
struct EntryPermissions {
  std::optional<NetworkPermissions> network;
  std::optional<FilesystemPermissions> filesystem;
  std::optional<bool> subprocess;
};

// One skill, named by its key in `skills`. Its dependencies are
// `dependency_count` members of Lockfile::dependencies from
// `first_dependency`, in ascending key order and each key once.
struct LockEntry {
  std::string_view name;
  std::string_view resolved;
  std::string_view integrity;
  EntryPermissions permissions;
  std::optional<double> audit_score;     // written as null when absent or not finite
  std::string_view audit_score_spelled;  // the JSON number it was read from, if any
  std::size_t first_dependency = 0;
  std::size_t dependency_count = 0;
};

// The whole document. Moving it keeps its views valid; a copy would view the
// original's texts, so there is none (its source cannot be copied). The
// member is named after its JSON key, which is in camel case unlike every
// other key of the document.
struct Lockfile {
  using Dependency = std::pair<std::string_view, std::string_view>;

  std::uint32_t lockfileVersion = 0;
  std::vector<LockEntry> skills;  // ascending by name (key bytes), each name once

  // The JSON text the document was read from, and its bytes when the
  // document owns them. A text viewed in it was written there without
  // escapes, so it holds no double quote, no backslash and no control byte
  // (the reader refuses those raw).
  std::string_view json;
  Bytes source;
  std::vector<std::string_view> texts;  // the elements of every list
  std::vector<Dependency> dependencies;  // the members of every skill's dependencies
  std::deque<std::string> decoded;       // texts that had escapes; a deque never moves them

  std::span<const std::string_view> list(const TextRange& range) const {
    return std::span<const std::string_view>(texts).subspan(range.first, range.count);
  }
  std::span<const Dependency> dependencies_of(const LockEntry& entry) const {
    return std::span<const Dependency>(dependencies).subspan(entry.first_dependency, entry.dependency_count);
  }
  // Whether `text` lies in the JSON text, as read.
  bool in_source(std::string_view text) const {
    const std::string_view s = json;
    const auto at = reinterpret_cast<std::uintptr_t>(text.data());
    const auto start = reinterpret_cast<std::uintptr_t>(s.data());
    return at >= start && text.size() <= s.size() && at - start <= s.size() - text.size();
  }
};

}  // namespace morvane::lockfile
