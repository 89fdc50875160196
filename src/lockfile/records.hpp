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

#include "common/permissions_record.hpp"

namespace morvane::lockfile {

using morvane::FilesystemPermissions;
using morvane::NetworkPermissions;
using morvane::Permissions;
using morvane::TextList;

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
    map.entries_ = std::move(entries);
    map.normalise();
    return map;
  }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  bool operator==(const SortedMap&) const = default;

 private:
  void normalise() {
    const std::size_t n = entries_.size();
    auto key_less = [&](std::size_t a, std::size_t b) { return entries_[a].first < entries_[b].first; };
    bool ascending = true;
    for (std::size_t i = 1; i < n && ascending; ++i) ascending = key_less(i - 1, i);
    // Documents this library wrote are already in order: one pass, no sort.
    if (ascending) return;

    if (n <= small_map_entries) {
      sort_small();
      return;
    }
    // Sort indices rather than entries, then move every entry at most once.
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), key_less);
    // Of a run of equal keys keep the last, which arrived last.
    // The dropped ones go to the end, to be erased.
    std::vector<bool> kept(n);
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 1 < n && entries_[order[i + 1]].first == entries_[order[i]].first) continue;
      kept[order[i]] = true;
      order[count++] = order[i];
    }
    for (std::size_t i = 0, next = count; i < n; ++i)
      if (!kept[i]) order[next++] = i;

    // Position i takes the entry at order[i]: follow each cycle of that
    // permutation with one entry held aside.
    std::vector<bool> placed(n);
    for (std::size_t start = 0; start < n; ++start) {
      if (placed[start]) continue;
      placed[start] = true;
      if (order[start] == start) continue;
      Entry held = std::move(entries_[start]);
      std::size_t dest = start;
      while (order[dest] != start) {
        entries_[dest] = std::move(entries_[order[dest]]);
        dest = order[dest];
        placed[dest] = true;
      }
      entries_[dest] = std::move(held);
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(count), entries_.end());
  }

  // Maps up to this size (a skill's dependencies, typically) are sorted in
  // place by insertion, which needs no memory of its own.
  static constexpr std::size_t small_map_entries = 16;

  void sort_small() {
    // Stable: an entry moves left past greater keys only, so of equal keys
    // the one that arrived last stays last.
    for (std::size_t i = 1; i < entries_.size(); ++i) {
      std::size_t j = i;
      while (j > 0 && entries_[i].first < entries_[j - 1].first) --j;
      if (j == i) continue;
      Entry held = std::move(entries_[i]);
      std::move_backward(entries_.begin() + static_cast<std::ptrdiff_t>(j),
                         entries_.begin() + static_cast<std::ptrdiff_t>(i),
                         entries_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      entries_[j] = std::move(held);
    }
    std::size_t count = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (i + 1 < entries_.size() && entries_[i + 1].first == entries_[i].first) continue;
      if (count != i) entries_[count] = std::move(entries_[i]);
      ++count;
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(count), entries_.end());
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
