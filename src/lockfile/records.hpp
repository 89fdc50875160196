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
    // A small map (a skill's dependencies) is sorted in place by insertion:
    // no buffer is allocated, and a moved entry of two strings is cheap.
    if (entries.size() <= max_insertion_sorted) {
      for (std::size_t i = 1; i < entries.size(); ++i) {
        // Stable: an entry goes after every entry whose key is not greater.
        std::size_t j = i;
        while (j > 0 && entries[i].first < entries[j - 1].first) --j;
        if (j == i) continue;
        Entry moving = std::move(entries[i]);
        std::move_backward(entries.begin() + static_cast<std::ptrdiff_t>(j),
                           entries.begin() + static_cast<std::ptrdiff_t>(i),
                           entries.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        entries[j] = std::move(moving);
      }
      // Of a run of equal keys keep the last.
      std::size_t kept = 0;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i + 1 < entries.size() && entries[i + 1].first == entries[i].first) continue;
        if (kept != i) entries[kept] = std::move(entries[i]);
        ++kept;
      }
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(kept), entries.end());
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
  // Up to this many entries, sorting in place beats sorting indices.
  static constexpr std::size_t max_insertion_sorted = 16;

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
