// The lockfile's records: plain values that own their texts, lists and maps.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "permissions/record.hpp"

namespace morvane::lockfile {

// A map from text to V kept as one vector sorted by the keys' bytes (a key
// that is a prefix of another sorts first). Iteration is in key order, so
// whatever is written from it comes out the same every time; building it in
// bulk costs one sort and no node per entry.
template <class V>
class SortedMap {
 public:
  using Entry = std::pair<std::string, V>;
  using const_iterator = typename std::vector<Entry>::const_iterator;

  SortedMap() = default;

  // Takes entries in any order; of several entries with the same key the one
  // that came last wins, as if they had been inserted one after the other.
  static SortedMap from_entries(std::vector<Entry> entries) {
    SortedMap map;
    // Documents this library wrote are already in order: one pass, no sort.
    auto not_ascending = [](const Entry& a, const Entry& b) { return !(a.first < b.first); };
    if (std::adjacent_find(entries.begin(), entries.end(), not_ascending) == entries.end()) {
      map.entries_ = std::move(entries);
      return map;
    }
    // Indices are sorted rather than entries, which are large: each entry is
    // then moved once. Stable, so of equal keys the last to arrive comes last.
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return entries[a].first < entries[b].first; });
    map.entries_.reserve(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      // Of a run of equal keys keep the last.
      if (i + 1 < order.size() && entries[order[i + 1]].first == entries[order[i]].first) continue;
      map.entries_.push_back(std::move(entries[order[i]]));
    }
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
