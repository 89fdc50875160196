#include "lockfile/json_reader.hpp"

#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "lockfile/json_syntax.hpp"

namespace morvane::lockfile {
namespace {

class Reader;

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

// Reads one lockfile straight into its records: each field reader takes the
// value of one field, and a record reader takes an object or an array of them.
class Reader : private JsonCursor {
 public:
  using JsonCursor::JsonCursor;
  using JsonCursor::error;

  bool document(Lockfile& doc);

  // The readers that the field tables name, one per kind of field value.
  bool text(std::string& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (peek() != '"') return reject("a string");
    std::string_view view;
    if (!string(view)) return false;
    out.assign(view);
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

  bool optional_f64(std::optional<double>& out) {
    return nullable(out, [&] {
      if (!starts_number(peek())) return reject("f64");
      Number n;
      double value;
      if (!number(n) || !to_double(n, value)) return false;
      out = value;
      return true;
    });
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

  bool optional_text_list(std::optional<TextList>& out) {
    return nullable(out, [&] {
      if (peek() != '[') return reject("a sequence");
      texts_.clear();
      if (!elements([&](std::size_t) { return text(texts_.emplace_back()); })) return false;
      // Collected in a reused buffer so that the list is allocated once, at its size.
      out.emplace(std::make_move_iterator(texts_.begin()), std::make_move_iterator(texts_.end()));
      return true;
    });
  }

  bool dependencies(SortedMap<std::string>& out) {
    dependencies_.clear();
    const bool read = map([&](std::string_view name) {
      auto& dep = dependencies_.emplace_back(std::string(name), std::string());
      return text(dep.second);
    });
    if (!read) return false;
    out = SortedMap<std::string>::take_entries(dependencies_);
    return true;
  }

  // These read records, so they follow the tables.
  bool skills(SortedMap<LockEntry>& out);
  bool permissions(Permissions& out);
  bool optional_network(std::optional<NetworkPermissions>& out);
  bool optional_filesystem(std::optional<FilesystemPermissions>& out);

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
    std::uint32_t seen = 0;  // bit i: fields[i] has been read (no record has more than 32 fields)
    const bool read = members([&](std::string_view key) {
      const std::size_t index = field_index(fields, key);
      if (index == fields.size()) return colon() && skip_value();
      if (seen >> index & 1) {
        skip_whitespace();
        return fail("duplicate field `" + std::string(fields[index].name) + "`");
      }
      seen |= std::uint32_t{1} << index;
      return colon() && fields[index].read(*this, out);
    });
    if (!read) return false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].presence == Presence::Required && !(seen >> i & 1))
        return fail("missing field `" + std::string(fields[i].name) + "`");
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
        return fail("invalid length " + std::to_string(found) + ", expected " + std::string(name) + " with " +
                    std::to_string(count) + (count == 1 ? " element" : " elements"));
      }
    }
    return true;
  }

  // The index of the field named `key`, or the number of fields.
  template <class Record>
  static std::size_t field_index(std::span<const Field<Record>> fields, std::string_view key) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string_view name = fields[i].name;
      if (name.size() == key.size() && name[0] == key[0] && std::memcmp(name.data(), key.data(), key.size()) == 0)
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

  // A value that may be null, which makes `out` absent; `read` reads any
  // other value.
  template <class T, class Read>
  bool nullable(std::optional<T>& out, Read&& read) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (peek() == 'n') {
      out.reset();
      return literal("null");
    }
    return read();
  }

  std::vector<std::string> texts_;                           // elements of the list being read
  std::vector<SortedMap<std::string>::Entry> dependencies_;  // members of the map being read
};

// The records' fields, in the order of their array form. A new field is one
// row here and one member of the record.
constexpr Field<Lockfile> lockfile_fields[] = {
    {"lockfileVersion", Presence::Required, [](Reader& r, Lockfile& d) { return r.u32(d.lockfileVersion); }},
    {"skills", Presence::Required, [](Reader& r, Lockfile& d) { return r.skills(d.skills); }},
};

constexpr Field<LockEntry> lock_entry_fields[] = {
    {"resolved", Presence::Required, [](Reader& r, LockEntry& e) { return r.text(e.resolved); }},
    {"integrity", Presence::Required, [](Reader& r, LockEntry& e) { return r.text(e.integrity); }},
    {"permissions", Presence::Required, [](Reader& r, LockEntry& e) { return r.permissions(e.permissions); }},
    {"audit_score", Presence::Optional, [](Reader& r, LockEntry& e) { return r.optional_f64(e.audit_score); }},
    {"dependencies", Presence::Defaulted, [](Reader& r, LockEntry& e) { return r.dependencies(e.dependencies); }},
};

constexpr Field<Permissions> permissions_fields[] = {
    {"network", Presence::Optional, [](Reader& r, Permissions& p) { return r.optional_network(p.network); }},
    {"filesystem", Presence::Optional, [](Reader& r, Permissions& p) { return r.optional_filesystem(p.filesystem); }},
    {"subprocess", Presence::Optional, [](Reader& r, Permissions& p) { return r.optional_bool(p.subprocess); }},
};

constexpr Field<NetworkPermissions> network_fields[] = {
    {"outbound", Presence::Optional,
     [](Reader& r, NetworkPermissions& n) { return r.optional_text_list(n.outbound); }},
};

constexpr Field<FilesystemPermissions> filesystem_fields[] = {
    {"read", Presence::Optional, [](Reader& r, FilesystemPermissions& f) { return r.optional_text_list(f.read); }},
    {"write", Presence::Optional, [](Reader& r, FilesystemPermissions& f) { return r.optional_text_list(f.write); }},
};

bool Reader::document(Lockfile& doc) {
  return record("struct Lockfile", lockfile_fields, doc) && only_whitespace_left();
}

bool Reader::skills(SortedMap<LockEntry>& out) {
  std::vector<SortedMap<LockEntry>::Entry> entries;
  const bool read = map([&](std::string_view name) {
    auto& entry = entries.emplace_back(std::string(name), LockEntry{});
    return record("struct LockEntry", lock_entry_fields, entry.second);
  });
  if (!read) return false;
  out = SortedMap<LockEntry>::from_entries(std::move(entries));
  return true;
}

bool Reader::permissions(Permissions& out) { return record("struct Permissions", permissions_fields, out); }

bool Reader::optional_network(std::optional<NetworkPermissions>& out) {
  return nullable(out, [&] { return record("struct NetworkPermissions", network_fields, out.emplace()); });
}

bool Reader::optional_filesystem(std::optional<FilesystemPermissions>& out) {
  return nullable(out, [&] { return record("struct FilesystemPermissions", filesystem_fields, out.emplace()); });
}

}  // namespace

std::expected<Lockfile, JsonError> parse_lockfile(std::string_view text) {
  Reader reader(text);
  Lockfile doc;
  if (!reader.document(doc)) return std::unexpected(reader.error());
  return doc;
}

}  // namespace morvane::lockfile
