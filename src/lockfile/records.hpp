// The lockfile's records: plain values that own their texts, lists and maps.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

  // Inserts, or replaces the value of an existing key.
  V& insert_or_assign(std::string key, V value) {
    auto it = lower_bound(key);
    if (it != entries_.end() && it->first == key) {
      it->second = std::move(value);
      return it->second;
    }
    return entries_.insert(it, Entry{std::move(key), std::move(value)})->second;
  }

  const V* find(std::string_view key) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, std::string_view k) { return std::string_view(e.first) < k; });
    return it != entries_.end() && it->first == key ? &it->second : nullptr;
  }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  bool operator==(const SortedMap&) const = default;

 private:
  typename std::vector<Entry>::iterator lower_bound(std::string_view key) {
    return std::lower_bound(entries_.begin(), entries_.end(), key,
                            [](const Entry& e, std::string_view k) { return std::string_view(e.first) < k; });
  }

  void normalise() {
    auto key_less = [](const Entry& a, const Entry& b) { return a.first < b.first; };
    auto strictly_ascending = [&] {
      for (std::size_t i = 1; i < entries_.size(); ++i)
        if (!key_less(entries_[i - 1], entries_[i])) return false;
      return true;
    };
    // Documents this library wrote are already in order: one pass, no sort.
    if (strictly_ascending()) return;
    std::stable_sort(entries_.begin(), entries_.end(), key_less);
    // Keep the last entry of every run of equal keys.
    std::size_t out = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (i + 1 < entries_.size() && entries_[i + 1].first == entries_[i].first) continue;
      if (out != i) entries_[out] = std::move(entries_[i]);
      ++out;
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(out), entries_.end());
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
