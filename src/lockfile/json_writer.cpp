#include "lockfile/json_writer.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <system_error>

namespace morvane::lockfile {
namespace {

// Decimal exponents written in positional notation; outside them the
// scientific form keeps very large and very small scores short.
constexpr int min_positional_exponent = -5;
constexpr int max_positional_exponent = 15;

// What follows the backslash for each byte that must be escaped inside a
// string: a letter for the five short escapes, 'u' for \u00XX, 0 for none.
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

template <bool Pretty>
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  void lockfile(const Lockfile& doc) {
    out_ += '{';
    ++depth_;
    first_key("lockfileVersion");
    unsigned_number(doc.lockfileVersion);
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
    append_json_string(out_, entry.resolved);
    next_key("integrity");
    append_json_string(out_, entry.integrity);
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
        append_json_string(out_, range);
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
        append_json_string(out_, text);
      }
      close(']');
    }
  }

  void unsigned_number(std::uint32_t value) {
    char buf[16];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    out_.append(buf, result.ptr);
  }

  void open(char bracket) {
    out_ += bracket;
    ++depth_;
  }

  // Only non-empty containers are opened, so every close follows a member.
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

  // Field names need no escaping: they are written as they are.
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
    append_json_string(out_, name);
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

// Bytes needed when no string needs an escape, so that one reservation
// normally holds the whole text.
template <bool Pretty>
std::size_t estimated_size(const Lockfile& doc) {
  // Keys, quotes, separators and literals of one entry; the indented layout
  // adds a line break and indentation of up to ten spaces per line.
  constexpr std::size_t entry_overhead = Pretty ? 420 : 200;
  constexpr std::size_t string_overhead = Pretty ? 16 : 4;
  std::size_t size = 64;
  auto list_size = [&](const std::optional<TextList>& list) {
    if (!list) return;
    for (const auto& text : *list) size += text.size() + string_overhead;
  };
  for (const auto& [name, entry] : doc.skills) {
    size += entry_overhead + name.size() + entry.resolved.size() + entry.integrity.size();
    if (const auto& net = entry.permissions.network) list_size(net->outbound);
    if (const auto& fs = entry.permissions.filesystem) {
      list_size(fs->read);
      list_size(fs->write);
    }
    for (const auto& [dep, range] : entry.dependencies) size += dep.size() + range.size() + 2 * string_overhead;
  }
  return size;
}

template <bool Pretty>
std::string write_document(const Lockfile& doc) {
  std::string out;
  out.reserve(estimated_size<Pretty>(doc));
  Writer<Pretty>(out).lockfile(doc);
  return out;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char hex_digits[] = "0123456789abcdef";
  out += '"';
  const char* run = text.data();
  const char* const end = run + text.size();
  for (const char* p = run; p != end; ++p) {
    const char escape = escape_table[static_cast<unsigned char>(*p)];
    if (escape == 0) continue;
    out.append(run, p);
    run = p + 1;
    out += '\\';
    out += escape;
    if (escape == 'u') {
      const auto byte = static_cast<unsigned char>(*p);
      out += "00";
      out += hex_digits[byte >> 4];
      out += hex_digits[byte & 0xF];
    }
  }
  out.append(run, end);
  out += '"';
}

void append_float(std::string& out, double value) {
  // The shortest round-trip digits in scientific form, "-d.ddde+XX", give the
  // digits and the decimal exponent of the first digit; the layout is ours.
  char buf[40];
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  const std::string_view sci(buf, static_cast<std::size_t>(result.ptr - buf));

  std::size_t pos = 0;
  if (sci[pos] == '-') {
    out += '-';
    ++pos;
  }
  const std::size_t e_pos = sci.find('e');
  char digits[24];
  std::size_t n = 0;
  for (std::size_t i = pos; i < e_pos; ++i)
    if (sci[i] != '.') digits[n++] = sci[i];
  const char* exp_begin = sci.data() + e_pos + 1;
  if (*exp_begin == '+') ++exp_begin;
  int exponent = 0;
  std::from_chars(exp_begin, sci.data() + sci.size(), exponent);

  if (exponent < min_positional_exponent || exponent > max_positional_exponent) {
    out += digits[0];
    if (n > 1) {
      out += '.';
      out.append(digits + 1, n - 1);
    }
    out += exponent < 0 ? "e-" : "e+";
    char exp_buf[8];
    const auto exp_result = std::to_chars(exp_buf, exp_buf + sizeof exp_buf, exponent < 0 ? -exponent : exponent);
    out.append(exp_buf, exp_result.ptr);
  } else if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(digits, n);
  } else {
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (n <= whole) {
      out.append(digits, n);
      out.append(whole - n, '0');
      out += ".0";
    } else {
      out.append(digits, whole);
      out += '.';
      out.append(digits + whole, n - whole);
    }
  }
}

std::string to_json_compact(const Lockfile& lockfile) { return write_document<false>(lockfile); }

std::string to_json_pretty(const Lockfile& lockfile) { return write_document<true>(lockfile); }

}  // namespace morvane::lockfile
