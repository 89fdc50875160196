#include "lockfile/json_writer.hpp"

#include <array>
#include <cmath>

#include "lockfile/float_text.hpp"
#include "lockfile/string_scan.hpp"

namespace morvane::lockfile {
namespace {

// What follows the backslash for each byte that must be escaped inside a
// string: a letter for the five short escapes, 'u' for \u00XX.
constexpr std::array<char, 256> escape_table = [] {
  std::array<char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['\b'] = 'b';
  t['\t'] = 't';
  t['\n'] = 'n';
  t['\f'] = 'f';
  t['\r'] = 'r';
  t['"'] = '"';
  t['\\'] = '\\';
  return t;
}();

// Appends `text` between double quotes with exactly the string-special bytes
// escaped; every other byte, UTF-8 included, is copied as it is.
void append_string(std::string& out, std::string_view text) {
  static constexpr char hex_digits[] = "0123456789abcdef";
  out += '"';
  const char* run = text.data();
  const char* const end = run + text.size();
  for (;;) {
    const char* special = find_string_special(run, end);
    out.append(run, special);
    if (special == end) break;
    const auto byte = static_cast<unsigned char>(*special);
    const char escape = escape_table[byte];
    out += '\\';
    out += escape;
    if (escape == 'u') {
      out += "00";
      out += hex_digits[byte >> 4];
      out += hex_digits[byte & 0xF];
    }
    run = special + 1;
  }
  out += '"';
}

template <bool Pretty>
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  void lockfile(const Lockfile& doc) {
    begin('{');
    field("lockfileVersion");
    out_ += std::to_string(doc.lockfileVersion);
    field("skills");
    begin('{');
    for (const auto& [name, entry] : doc.skills) {
      key(name);
      lock_entry(entry);
    }
    end('}');
    end('}');
  }

 private:
  void lock_entry(const LockEntry& entry) {
    begin('{');
    field("resolved");
    append_string(out_, entry.resolved);
    field("integrity");
    append_string(out_, entry.integrity);
    field("permissions");
    permissions(entry.permissions);
    field("audit_score");
    if (entry.audit_score && std::isfinite(*entry.audit_score)) {
      append_float(out_, *entry.audit_score);
    } else {
      out_ += "null";
    }
    field("dependencies");
    begin('{');
    for (const auto& [name, range] : entry.dependencies) {
      key(name);
      append_string(out_, range);
    }
    end('}');
    end('}');
  }

  void permissions(const Permissions& perms) {
    begin('{');
    field("network");
    if (perms.network) {
      begin('{');
      field("outbound");
      text_list(perms.network->outbound);
      end('}');
    } else {
      out_ += "null";
    }
    field("filesystem");
    if (perms.filesystem) {
      begin('{');
      field("read");
      text_list(perms.filesystem->read);
      field("write");
      text_list(perms.filesystem->write);
      end('}');
    } else {
      out_ += "null";
    }
    field("subprocess");
    out_ += perms.subprocess ? (*perms.subprocess ? "true" : "false") : "null";
    end('}');
  }

  void text_list(const std::optional<TextList>& list) {
    if (!list) {
      out_ += "null";
      return;
    }
    begin('[');
    for (const auto& text : *list) {
      item();
      append_string(out_, text);
    }
    end(']');
  }

  void begin(char bracket) {
    out_ += bracket;
    ++depth_;
    empty_ = true;
  }

  // An empty container closes on its opening line: "{}", "[]". The container
  // was a value in its parent, so the parent is not empty.
  void end(char bracket) {
    --depth_;
    if (!empty_) line_break();
    out_ += bracket;
    empty_ = false;
  }

  // Each member or element: a comma after the one before, then its own line.
  void item() {
    if (!empty_) out_ += ',';
    empty_ = false;
    line_break();
  }

  // A member named by the format, whose name needs no escaping.
  void field(std::string_view name) {
    item();
    out_ += '"';
    out_ += name;
    out_ += Pretty ? "\": " : "\":";
  }

  // A member named by the document (a skill or a dependency).
  void key(std::string_view name) {
    item();
    append_string(out_, name);
    out_ += Pretty ? ": " : ":";
  }

  void line_break() {
    if constexpr (Pretty) {
      out_ += '\n';
      out_.append(2 * depth_, ' ');
    }
  }

  std::string& out_;
  std::size_t depth_ = 0;
  bool empty_ = true;  // no member or element yet in the innermost open container
};

}  // namespace

std::string to_json_compact(const Lockfile& lockfile, std::size_t size_hint) {
  std::string out;
  out.reserve(size_hint);
  Writer<false>(out).lockfile(lockfile);
  return out;
}

std::string to_json_pretty(const Lockfile& lockfile, std::size_t size_hint) {
  std::string out;
  out.reserve(size_hint);
  Writer<true>(out).lockfile(lockfile);
  return out;
}

}  // namespace morvane::lockfile
