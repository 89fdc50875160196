// The lockfile's records: plain values that own their texts, lists and maps.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <optional>
#include <span>
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
    // Documents this library wrote are already in order: one pass, no sort.
    auto not_ascending = [](const Entry& a, const Entry& b) { return !(a.first < b.first); };
    if (std::adjacent_find(entries.begin(), entries.end(), not_ascending) == entries.end()) {
      SortedMap map;
      map.entries_ = std::move(entries);
      return map;
    }
    return take_entries(entries);
  }

  // The same, moving the entries out of `entries`, which keeps its size.
  static SortedMap take_entries(std::span<Entry> entries) {
    // Indices are sorted rather than entries, which are large: each entry is
    // then moved once. Stable, so of equal keys the last to arrive comes last.
    auto less = [&](std::size_t a, std::size_t b) {
      return std::string_view(entries[a].first) < std::string_view(entries[b].first);
    };
    if (entries.size() <= max_small) {
      // A skill's dependencies: sorted by insertion, with no buffer allocated.
      std::array<std::uint8_t, max_small> order;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        std::size_t j = i;
        for (; j > 0 && less(i, order[j - 1]); --j) order[j] = order[j - 1];
        order[j] = static_cast<std::uint8_t>(i);
      }
      return take_in_order(entries, std::span<const std::uint8_t>(order.data(), entries.size()));
    }
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), less);
    return take_in_order(entries, std::span<const std::size_t>(order));
  }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  bool operator==(const SortedMap&) const = default;

 private:
  // Up to this many entries, sorting by insertion beats a general sort.
  static constexpr std::size_t max_small = 16;

  template <class Index>
  static SortedMap take_in_order(std::span<Entry> entries, std::span<const Index> order) {
    SortedMap map;
    map.entries_.reserve(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      // Of a run of equal keys keep the last.
      if (i + 1 < order.size() && entries[order[i + 1]].first == entries[order[i]].first) continue;
      map.entries_.push_back(std::move(entries[order[i]]));
    }
    return map;
  }

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
