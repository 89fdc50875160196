#include "lockfile/json_reader.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "lockfile/json_syntax.hpp"

namespace morvane::lockfile {
namespace {

// How a record may be written: an object with these keys, or an array of the
// field values in this order.
struct RecordShape {
  std::string_view name;  // "struct LockEntry"
  std::span<const std::string_view> fields;
  std::uint32_t required;    // bit i: an object must hold fields[i]
  std::size_t min_elements;  // an array may leave off only the fields after these
};

constexpr std::string_view lockfile_fields[] = {"lockfileVersion", "skills"};
constexpr std::string_view lock_entry_fields[] = {"resolved", "integrity", "permissions", "audit_score",
                                                  "dependencies"};
constexpr std::string_view permissions_fields[] = {"network", "filesystem", "subprocess"};
constexpr std::string_view network_fields[] = {"outbound"};
constexpr std::string_view filesystem_fields[] = {"read", "write"};

constexpr RecordShape lockfile_shape{"struct Lockfile", lockfile_fields, 0b11, 2};
// `dependencies` may be left off an array too: it defaults to an empty map.
constexpr RecordShape lock_entry_shape{"struct LockEntry", lock_entry_fields, 0b111, 4};
constexpr RecordShape permissions_shape{"struct Permissions", permissions_fields, 0, 3};
constexpr RecordShape network_shape{"struct NetworkPermissions", network_fields, 0, 1};
constexpr RecordShape filesystem_shape{"struct FilesystemPermissions", filesystem_fields, 0, 2};

// The index of the field named `key`, or the number of fields.
std::size_t field_index(const RecordShape& shape, std::string_view key) {
  for (std::size_t i = 0; i < shape.fields.size(); ++i) {
    const std::string_view name = shape.fields[i];
    if (name.size() == key.size() && name[0] == key[0] && std::memcmp(name.data(), key.data(), key.size()) == 0)
      return i;
  }
  return shape.fields.size();
}

// Reads one lockfile straight into its records: each field reader takes the
// value of one field, and a record reader takes an object or an array of them.
class Reader : private JsonCursor {
 public:
  using JsonCursor::JsonCursor;
  using JsonCursor::error;

  bool document(Lockfile& doc) {
    return record(lockfile_shape, [&](std::size_t field) {
      return field == 0 ? u32(doc.lockfileVersion) : skills(doc.skills);
    }) && only_whitespace_left();
  }

 private:
  // A record given as an object or as an array of its fields; `field(i)` reads
  // the value of field i into the record.
  template <class ReadField>
  bool record(const RecordShape& shape, ReadField&& field) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (peek() == '{') return record_object(shape, field);
    if (peek() == '[') return record_array(shape, field);
    return reject(shape.name);
  }

  template <class ReadField>
  bool record_object(const RecordShape& shape, ReadField& field) {
    std::uint32_t seen = 0;
    const bool read = members([&](std::string_view key) {
      const std::size_t index = field_index(shape, key);
      if (index == shape.fields.size()) return colon() && skip_value();
      if (seen >> index & 1) {
        skip_whitespace();
        return fail("duplicate field `" + std::string(shape.fields[index]) + "`");
      }
      seen |= std::uint32_t{1} << index;
      return colon() && field(index);
    });
    if (!read) return false;
    if (const std::uint32_t missing = shape.required & ~seen) {
      return fail("missing field `" + std::string(shape.fields[std::countr_zero(missing)]) + "`");
    }
    return true;
  }

  template <class ReadField>
  bool record_array(const RecordShape& shape, ReadField& field) {
    const std::size_t count = shape.fields.size();
    std::size_t found = 0;
    const bool read = elements([&](std::size_t index) {
      // More elements than fields: the separator was a comma.
      if (index == count) return syntax(Syntax::TrailingCharacters);
      found = index + 1;
      return field(index);
    });
    if (!read) return false;
    if (found < shape.min_elements) {
      return fail("invalid length " + std::to_string(found) + ", expected " + std::string(shape.name) + " with " +
                  std::to_string(count) + (count == 1 ? " element" : " elements"));
    }
    return true;
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

  bool skills(SortedMap<LockEntry>& out) {
    std::vector<SortedMap<LockEntry>::Entry> entries;
    const bool read = map([&](std::string_view name) {
      auto& entry = entries.emplace_back(std::string(name), LockEntry{});
      return lock_entry(entry.second);
    });
    if (!read) return false;
    out = SortedMap<LockEntry>::from_entries(std::move(entries));
    return true;
  }

  bool lock_entry(LockEntry& entry) {
    return record(lock_entry_shape, [&](std::size_t field) {
      switch (field) {
        case 0: return text(entry.resolved);
        case 1: return text(entry.integrity);
        case 2: return permissions(entry.permissions);
        case 3: return optional_f64(entry.audit_score);
        default: return dependencies(entry.dependencies);
      }
    });
  }

  bool dependencies(SortedMap<std::string>& out) {
    dependencies_.clear();
    const bool read = map([&](std::string_view name) {
      auto& dep = dependencies_.emplace_back(std::string(name), std::string());
      return text(dep.second);
    });
    if (!read) return false;
    out = SortedMap<std::string>::from_entries(std::vector<SortedMap<std::string>::Entry>(
        std::make_move_iterator(dependencies_.begin()), std::make_move_iterator(dependencies_.end())));
    return true;
  }

  bool permissions(Permissions& perms) {
    return record(permissions_shape, [&](std::size_t field) {
      switch (field) {
        case 0: return optional_network(perms.network);
        case 1: return optional_filesystem(perms.filesystem);
        default: return optional_bool(perms.subprocess);
      }
    });
  }

  bool optional_network(std::optional<NetworkPermissions>& out) {
    return nullable(out, [&] {
      auto& network = out.emplace();
      return record(network_shape, [&](std::size_t) { return optional_text_list(network.outbound); });
    });
  }

  bool optional_filesystem(std::optional<FilesystemPermissions>& out) {
    return nullable(out, [&] {
      auto& filesystem = out.emplace();
      return record(filesystem_shape, [&](std::size_t field) {
        return optional_text_list(field == 0 ? filesystem.read : filesystem.write);
      });
    });
  }

  std::vector<std::string> texts_;                           // elements of the list being read
  std::vector<SortedMap<std::string>::Entry> dependencies_;  // members of the map being read
};

}  // namespace

std::expected<Lockfile, JsonError> parse_lockfile(std::string_view text) {
  Reader reader(text);
  Lockfile doc;
  if (!reader.document(doc)) return std::unexpected(reader.error());
  return doc;
}

}  // namespace morvane::lockfile
