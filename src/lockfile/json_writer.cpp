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
    out_ += '{';
    ++depth_;
    first_key("lockfileVersion");
    out_ += std::to_string(doc.lockfileVersion);
    next_key("skills");
    if (doc.skills.empty()) {
      out_ += "{}";
    } else {
      open('{');
      bool first = true;
      for (const auto& [name, entry] : doc.skills) {
        member_separator(first);
        key_string(name);
        lock_entry(entry);
      }
      close('}');
    }
    close('}');
  }

 private:
  void lock_entry(const LockEntry& entry) {
    open('{');
    first_key("resolved");
    append_string(out_, entry.resolved);
    next_key("integrity");
    append_string(out_, entry.integrity);
    next_key("permissions");
    permissions(entry.permissions);
    next_key("audit_score");
    if (entry.audit_score && std::isfinite(*entry.audit_score)) {
      append_float(out_, *entry.audit_score);
    } else {
      out_ += "null";
    }
    next_key("dependencies");
    if (entry.dependencies.empty()) {
      out_ += "{}";
    } else {
      open('{');
      bool first = true;
      for (const auto& [name, range] : entry.dependencies) {
        member_separator(first);
        key_string(name);
        append_string(out_, range);
      }
      close('}');
    }
    close('}');
  }

  void permissions(const Permissions& perms) {
    open('{');
    first_key("network");
    if (perms.network) {
      open('{');
      first_key("outbound");
      text_list(perms.network->outbound);
      close('}');
    } else {
      out_ += "null";
    }
    next_key("filesystem");
    if (perms.filesystem) {
      open('{');
      first_key("read");
      text_list(perms.filesystem->read);
      next_key("write");
      text_list(perms.filesystem->write);
      close('}');
    } else {
      out_ += "null";
    }
    next_key("subprocess");
    out_ += perms.subprocess ? (*perms.subprocess ? "true" : "false") : "null";
    close('}');
  }

  void text_list(const std::optional<TextList>& list) {
    if (!list) {
      out_ += "null";
    } else if (list->empty()) {
      out_ += "[]";
    } else {
      open('[');
      bool first = true;
      for (const auto& text : *list) {
        member_separator(first);
        append_string(out_, text);
      }
      close(']');
    }
  }

  void open(char bracket) {
    out_ += bracket;
    ++depth_;
  }

  // Only containers with members are opened, so a line break always belongs
  // before the closing bracket.
  void close(char bracket) {
    --depth_;
    line_break();
    out_ += bracket;
  }

  void member_separator(bool& first) {
    if (!first) out_ += ',';
    first = false;
    line_break();
  }

  // Field names need no escaping.
  void first_key(std::string_view name) {
    line_break();
    raw_key(name);
  }
  void next_key(std::string_view name) {
    out_ += ',';
    line_break();
    raw_key(name);
  }
  void raw_key(std::string_view name) {
    out_ += '"';
    out_ += name;
    out_ += Pretty ? "\": " : "\":";
  }
  void key_string(std::string_view name) {
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
