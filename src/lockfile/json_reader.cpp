#include "lockfile/json_reader.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/bytes.hpp"
#include "common/scan.hpp"
#include "lockfile/json_syntax.hpp"

namespace morvane::lockfile {
namespace {

class Reader;

// Whether the `n` bytes at `a` and at `b` are equal. Names and keys are
// short: a few overlapping loads of eight or four bytes, not a call.
bool same_bytes(const char* a, const char* b, std::size_t n) {
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8)
      if (load8(a + i) != load8(b + i)) return false;
    return load8(a + n - 8) == load8(b + n - 8);
  }
  if (n >= 4) return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

bool same_text(std::string_view a, std::string_view b) {
  return a.size() == b.size() && same_bytes(a.data(), b.data(), a.size());
}

// Whether `a` sorts before `b`: by unsigned bytes, a prefix first; eight
// bytes at a time, compared as big-endian numbers.
bool less_text(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x = load8(a.data() + i);
    std::uint64_t y = load8(b.data() + i);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little) {
        x = std::byteswap(x);
        y = std::byteswap(y);
      }
      return x < y;
    }
  }
  for (; i < n; ++i) {
    if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
  }
  return a.size() < b.size();
}

// Up to this many items, sorting by insertion beats a general sort.
constexpr std::size_t max_small_sort = 16;

// Puts the items of `all` from `first` on in ascending order of their keys'
// bytes (`key_of(item)`) and keeps only the last of equal keys. Lists already
// in order, as this library writes them, cost one pass.
template <class T, class KeyOf>
void sort_keep_last(std::vector<T>& all, std::size_t first, KeyOf key_of) {
  const std::span<T> items = std::span(all).subspan(first);
  auto in_order = [&](const T& a, const T& b) { return less_text(key_of(a), key_of(b)); };
  if (std::adjacent_find(items.begin(), items.end(), [&](const T& a, const T& b) { return !in_order(a, b); }) ==
      items.end()) {
    return;
  }
  auto last_of_its_key = [&](std::span<const T> sorted, std::size_t i) {
    return i + 1 == sorted.size() || !same_text(key_of(sorted[i + 1]), key_of(sorted[i]));
  };
  if (items.size() <= max_small_sort) {
    // Stable: of equal keys, the last to arrive comes last.
    for (std::size_t i = 1; i < items.size(); ++i) {
      const T item = items[i];
      std::size_t j = i;
      for (; j > 0 && in_order(item, items[j - 1]); --j) items[j] = items[j - 1];
      items[j] = item;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < items.size(); ++i)
      if (last_of_its_key(items, i)) items[kept++] = items[i];
    all.resize(first + kept);
    return;
  }
  // Keys tend to share a prefix ("skill-0..."): past the prefix that all of
  // them share, eight bytes as one number (zero bytes past a key's end) order
  // most pairs without a byte comparison. A smaller number always means a
  // smaller key; equal numbers leave it to the whole keys.
  const std::string_view first_key = key_of(items[0]);
  std::size_t shared = first_key.size();
  for (const T& item : items) {
    const std::string_view key = key_of(item);
    std::size_t k = 0;
    while (k < std::min(shared, key.size()) && first_key[k] == key[k]) ++k;
    shared = k;
  }
  struct Key {
    std::uint64_t head;
    std::string_view key;
    std::size_t index;  // the item's place, which breaks ties between equal keys
  };
  std::vector<Key> order;
  order.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string_view key = key_of(items[i]);
    std::uint64_t head = 0;
    for (std::size_t k = shared; k < shared + 8; ++k)
      head = head << 8 | (k < key.size() ? static_cast<unsigned char>(key[k]) : 0u);
    order.push_back(Key{head, key, i});
  }
  std::sort(order.begin(), order.end(), [](const Key& a, const Key& b) {
    if (a.head != b.head) return a.head < b.head;
    if (!same_text(a.key, b.key)) return less_text(a.key, b.key);
    return a.index < b.index;
  });
  // The items are put in place by following the cycles of the order, one
  // item held aside per cycle, so that no second list of them is made: place
  // k takes the item at from[k]. The items kept fill the first places, in
  // key order; those dropped fill the last ones, to be cut off.
  std::vector<std::size_t> from(order.size());
  std::size_t kept = 0;
  std::size_t dropped = order.size();
  for (std::size_t i = 0; i < order.size(); ++i) {
    const bool last = i + 1 == order.size() || !same_text(order[i + 1].key, order[i].key);
    from[last ? kept++ : --dropped] = order[i].index;
  }
  constexpr std::size_t placed = static_cast<std::size_t>(-1);
  for (std::size_t start = 0; start < from.size(); ++start) {
    if (from[start] == placed || from[start] == start) continue;
    T held = std::move(items[start]);
    std::size_t k = start;
    while (from[k] != start) {
      items[k] = std::move(items[from[k]]);
      const std::size_t next = from[k];
      from[k] = placed;
      k = next;
    }
    items[k] = std::move(held);
    from[k] = placed;
  }
  all.resize(first + kept);
}

// The most fields a record may have: the readers keep the fields seen in 32 bits.
constexpr std::size_t max_record_fields = 32;

// Whether a record may be written without a field. An array form holds the
// fields in table order and may stop early only before Defaulted fields.
enum class Presence {
  Required,   // an object must hold it, and an array must reach it
  Optional,   // an object may leave it out (it stays absent); an array must reach it
  Defaulted,  // an object and the end of an array may both leave it out (it keeps its default)
};

// One field of a record: its JSON key, whether it may be left out, and how its
// value is read into the record. A record's fields are one table of these.
template <class Record>
struct Field {
  std::string_view name;
  Presence presence;
  bool (*read)(Reader&, Record&);
};

// Reads one lockfile into a document of views: each field reader takes the
// value of one field, and a record reader takes an object or an array of them.
// Texts stay where they are in the JSON text; only those with escapes are
// decoded into the document's own storage.
class Reader : private JsonCursor {
 public:
  Reader(std::string_view text, Lockfile& doc) : JsonCursor(text), doc_(doc) {}
  using JsonCursor::bytes_left;
  using JsonCursor::bytes_read;
  using JsonCursor::error;

  bool document();

  // The readers that the field tables name, one per kind of field value.
  bool text(std::string_view& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (peek() != '"') return reject("a string");
    if (!string(out)) return false;
    out = keep(out);
    return true;
  }

  bool u32(std::uint32_t& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (!starts_number(peek())) return reject("u32");
    Number n;
    if (!number(n)) return false;
    std::uint64_t magnitude;
    if (n.integral && !n.negative && n.integer_magnitude(magnitude) &&
        magnitude <= std::numeric_limits<std::uint32_t>::max()) {
      out = static_cast<std::uint32_t>(magnitude);
      return true;
    }
    std::string found;
    if (!describe_number(n, found)) return false;
    // Integers are out of range; every other number has the wrong type.
    return invalid(found.starts_with("integer") ? "value" : "type", found, "u32");
  }

  // The score and its spelling, which the writers take its digits from.
  bool audit_score(LockEntry& entry) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (peek() == 'n') {
      entry.audit_score.reset();
      entry.audit_score_spelled = {};
      return literal("null");
    }
    if (!starts_number(peek())) return reject("f64");
    Number n;
    double value;
    if (!number(n) || !to_double(n, value)) return false;
    entry.audit_score = value;
    entry.audit_score_spelled = std::string_view(n.begin, static_cast<std::size_t>(n.end - n.begin));
    return true;
  }

  bool optional_bool(std::optional<bool>& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    switch (peek()) {
      case 'n': out.reset(); return literal("null");
      case 't': out = true; return literal("true");
      case 'f': out = false; return literal("false");
      default: return reject("a boolean");
    }
  }

  // The elements go to the end of the document's texts.
  bool optional_text_list(TextRange& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (peek() == 'n') {
      out = TextRange{};
      return literal("null");
    }
    if (peek() != '[') return reject("a sequence");
    const std::size_t first = doc_.texts.size();
    if (!elements([&](std::size_t) { return text(doc_.texts.emplace_back()); })) return false;
    out = TextRange{first, doc_.texts.size() - first, true};
    return true;
  }

  // The members go to the end of the document's dependencies, where they are
  // then put in key order, each key once.
  bool dependencies(LockEntry& entry) {
    const std::size_t first = doc_.dependencies.size();
    const bool read = map([&](std::string_view name) {
      // The key is kept before the value is read: it may be in the scratch buffer.
      auto& dep = doc_.dependencies.emplace_back(keep(name), std::string_view());
      return text(dep.second);
    });
    if (!read) return false;
    sort_keep_last(doc_.dependencies, first, [](const Lockfile::Dependency& d) { return d.first; });
    entry.first_dependency = first;
    entry.dependency_count = doc_.dependencies.size() - first;
    return true;
  }

  // These read records, so they follow the tables.
  bool skills();
  void reserve_like_the_first(std::size_t skills_start);
  bool permissions(EntryPermissions& out);

  // null, or the part of the permissions that `Part` names, read as a record
  // (`name`, `fields`) whose lists start absent.
  template <auto Part>
  bool optional_part(std::string_view name, std::span<const Field<EntryPermissions>> fields, EntryPermissions& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    (out.*Part).reset();
    if (peek() == 'n') return literal("null");
    (out.*Part).emplace();
    return record(name, fields, out);
  }

 private:
  // A record given as an object or as an array of its fields; `name` is what
  // the failure texts call it ("struct LockEntry").
  template <class Record>
  bool record(std::string_view name, std::type_identity_t<std::span<const Field<Record>>> fields, Record& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (peek() == '{') return record_object(fields, out);
    if (peek() == '[') return record_array(name, fields, out);
    return reject(name);
  }

  template <class Record>
  bool record_object(std::span<const Field<Record>> fields, Record& out) {
    std::uint32_t seen = 0;  // bit i: fields[i] has been read (no record has more than max_record_fields)
    const bool read = members([&](std::string_view key) {
      const std::size_t index = field_index(fields, key);
      if (index == fields.size()) return colon() && skip_value();
      if (seen >> index & 1) {
        skip_whitespace();
        return duplicate_field(fields[index].name);
      }
      seen |= std::uint32_t{1} << index;
      return colon() && fields[index].read(*this, out);
    });
    if (!read) return false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].presence == Presence::Required && !(seen >> i & 1))
        return missing_field(fields[i].name);
    }
    return true;
  }

  template <class Record>
  bool record_array(std::string_view name, std::span<const Field<Record>> fields, Record& out) {
    const std::size_t count = fields.size();
    std::size_t found = 0;
    const bool read = elements([&](std::size_t index) {
      // More elements than fields: the separator was a comma.
      if (index == count) return syntax(Syntax::TrailingCharacters);
      found = index + 1;
      return fields[index].read(*this, out);
    });
    if (!read) return false;
    for (std::size_t i = found; i < count; ++i) {
      if (fields[i].presence != Presence::Defaulted) {
        return invalid_length(found, name, count);
      }
    }
    return true;
  }

  // The index of the field named `key`, or the number of fields.
  template <class Record>
  static std::size_t field_index(std::span<const Field<Record>> fields, std::string_view key) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string_view name = fields[i].name;
      if (name.size() == key.size() && name[0] == key[0] && same_bytes(name.data(), key.data(), key.size()))
        return i;
    }
    return fields.size();
  }

  // An object whose members all hold values of one kind, read by
  // `value(key)` after the colon; `key` may point into the scratch buffer.
  template <class ReadValue>
  bool map(ReadValue&& value) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (peek() != '{') return reject("a map");
    return members([&](std::string_view key) { return colon() && value(key); });
  }

  // The text just read, moved into the document when it is in the scratch
  // buffer (it had escapes), else left viewing the JSON text.
  std::string_view keep(std::string_view text) {
    if (!last_string_decoded()) return text;
    return doc_.decoded.emplace_back(text);
  }

  Lockfile& doc_;
};

// The records' fields, in the order of their array form. A new field is one
// row here and one member of the record.
constexpr Field<Lockfile> lockfile_fields[] = {
    {"lockfileVersion", Presence::Required, [](Reader& r, Lockfile& d) { return r.u32(d.lockfileVersion); }},
    {"skills", Presence::Required, [](Reader& r, Lockfile&) { return r.skills(); }},
};

constexpr Field<LockEntry> lock_entry_fields[] = {
    {"resolved", Presence::Required, [](Reader& r, LockEntry& e) { return r.text(e.resolved); }},
    {"integrity", Presence::Required, [](Reader& r, LockEntry& e) { return r.text(e.integrity); }},
    {"permissions", Presence::Required, [](Reader& r, LockEntry& e) { return r.permissions(e.permissions); }},
    {"audit_score", Presence::Optional, [](Reader& r, LockEntry& e) { return r.audit_score(e); }},
    {"dependencies", Presence::Defaulted, [](Reader& r, LockEntry& e) { return r.dependencies(e); }},
};

// The network and filesystem parts are records of their own in the document,
// read into the permissions that hold them (one reader for all three keeps
// the hot path small).
constexpr Field<EntryPermissions> network_fields[] = {
    {"outbound", Presence::Optional,
     [](Reader& r, EntryPermissions& p) { return r.optional_text_list(p.network->outbound); }},
};

constexpr Field<EntryPermissions> filesystem_fields[] = {
    {"read", Presence::Optional,
     [](Reader& r, EntryPermissions& p) { return r.optional_text_list(p.filesystem->read); }},
    {"write", Presence::Optional,
     [](Reader& r, EntryPermissions& p) { return r.optional_text_list(p.filesystem->write); }},
};

constexpr Field<EntryPermissions> permissions_fields[] = {
    {"network", Presence::Optional,
     [](Reader& r, EntryPermissions& p) {
       return r.optional_part<&EntryPermissions::network>("struct NetworkPermissions", network_fields, p);
     }},
    {"filesystem", Presence::Optional,
     [](Reader& r, EntryPermissions& p) {
       return r.optional_part<&EntryPermissions::filesystem>("struct FilesystemPermissions", filesystem_fields, p);
     }},
    {"subprocess", Presence::Optional, [](Reader& r, EntryPermissions& p) { return r.optional_bool(p.subprocess); }},
};

// Every record fits the readers' mask of the fields seen.
static_assert(std::max({std::size(lockfile_fields), std::size(lock_entry_fields), std::size(permissions_fields),
                        std::size(network_fields), std::size(filesystem_fields)}) <= max_record_fields);

bool Reader::document() {
  return record("struct Lockfile", lockfile_fields, doc_) && only_whitespace_left();
}

// Skills read before the lists are sized after them.
constexpr std::size_t sampled_skills = 64;

// Room in the document's lists for the rest of the text, were its skills like
// those read so far (and one in eight more), so that a large lockfile's lists
// are not grown again and again. The three lists together are given at most
// as many bytes as the text has, each its share of what it asks: odd first
// skills cannot make the guess a large block. (A list that outgrows its room
// grows as it would have without it.)
void Reader::reserve_like_the_first(std::size_t skills_start) {
  const std::size_t read = doc_.skills.size();
  const std::size_t per_skill = std::max<std::size_t>((bytes_read() - skills_start) / read, 1);
  const std::size_t more = bytes_left() / per_skill;
  const std::size_t expected = read + more + more / 8;
  const std::size_t scale = expected / read + 1;
  // Each list's wish in bytes, held to the text's length first so that the
  // sum cannot overflow.
  const std::size_t text_bytes = doc_.json.size();
  auto wish = [&](const auto& list, std::size_t count) {
    using Element = typename std::remove_cvref_t<decltype(list)>::value_type;
    return std::min(count, text_bytes / sizeof(Element)) * sizeof(Element);
  };
  const std::size_t wishes[] = {wish(doc_.skills, expected), wish(doc_.texts, doc_.texts.size() * scale),
                                wish(doc_.dependencies, doc_.dependencies.size() * scale)};
  const double total = static_cast<double>(wishes[0]) + static_cast<double>(wishes[1]) + static_cast<double>(wishes[2]);
  const double share = total > static_cast<double>(text_bytes) ? static_cast<double>(text_bytes) / total : 1.0;
  auto reserve = [&](auto& list, std::size_t bytes) {
    using Element = typename std::remove_cvref_t<decltype(list)>::value_type;
    list.reserve(static_cast<std::size_t>(static_cast<double>(bytes) * share) / sizeof(Element));
  };
  reserve(doc_.skills, wishes[0]);
  reserve(doc_.texts, wishes[1]);
  reserve(doc_.dependencies, wishes[2]);
}

// The entries are read in the order they come and then put in name order; of
// several with one name the last stays.
bool Reader::skills() {
  auto& entries = doc_.skills;
  const std::size_t start = bytes_read();
  const bool read = map([&](std::string_view name) {
    if (entries.size() == sampled_skills) reserve_like_the_first(start);
    auto& entry = entries.emplace_back();
    entry.name = keep(name);
    return record("struct LockEntry", lock_entry_fields, entry);
  });
  if (!read) return false;
  sort_keep_last(entries, 0, [](const LockEntry& e) { return e.name; });
  return true;
}

bool Reader::permissions(EntryPermissions& out) { return record("struct Permissions", permissions_fields, out); }

std::expected<Lockfile, JsonError> parse(Lockfile doc) {
  Reader reader(doc.json, doc);
  if (!reader.document()) return std::unexpected(reader.error());
  return doc;
}

}  // namespace

std::expected<Lockfile, JsonError> parse_lockfile(Bytes text) {
  Lockfile doc;
  doc.source = std::move(text);
  doc.json = doc.source.view();
  return parse(std::move(doc));
}

std::expected<Lockfile, JsonError> parse_lockfile(std::string_view text) {
  Lockfile doc;
  doc.json = text;
  return parse(std::move(doc));
}

}  // namespace morvane::lockfile
