// The lockfile's records: plain values that own their texts, lists and maps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "permissions/record.hpp"

namespace morvane::lockfile {

using permissions::Permissions;
using permissions::TextList;

// A map from text to V kept as one vector sorted by the keys' bytes (a key
// that is a prefix of another sorts first). Iteration is in key order, so
// whatever is written from it comes out the same every time.
template <class V>
class SortedMap {
 public:
  using Entry = std::pair<std::string, V>;
  using const_iterator = typename std::vector<Entry>::const_iterator;

  SortedMap() = default;

  // Takes entries already in ascending key order, each key once, as the
  // reader leaves them (it sorts and keeps the last of equal keys itself).
  static SortedMap from_sorted(std::vector<Entry> entries) {
    SortedMap map;
    map.entries_ = std::move(entries);
    return map;
  }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  bool operator==(const SortedMap&) const = default;

 private:
  std::vector<Entry> entries_;
};

// One installed skill.
struct LockEntry {
  std::string resolved;
  std::string integrity;
  Permissions permissions;
  std::optional<double> audit_score;  // written as null when absent or not finite
  SortedMap<std::string> dependencies;

  bool operator==(const LockEntry&) const = default;
};

// The document root. The member is named after its JSON key, which is in
// camel case unlike every other key of the document.
struct Lockfile {
  std::uint32_t lockfileVersion = 0;
  SortedMap<LockEntry> skills;

  bool operator==(const Lockfile&) const = default;
};

}  // namespace morvane::lockfile
