#include "lockfile/json_writer.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "lockfile/string_scan.hpp"

namespace morvane::lockfile {
namespace {

// Decimal exponents written in positional notation; outside them the
// scientific form keeps very large and very small scores short.
constexpr int min_positional_exponent = -5;
constexpr int max_positional_exponent = 15;
constexpr std::size_t max_u32_chars = 10;

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

std::size_t escaped_size(std::string_view text) {
  std::size_t size = text.size() + 2;
  const char* const end = text.data() + text.size();
  for (const char* p = find_string_special(text.data(), end); p != end; p = find_string_special(p + 1, end)) {
    size += escape_table[static_cast<unsigned char>(*p)] == 'u' ? 5 : 1;
  }
  return size;
}

char* write_escaped(char* out, std::string_view text) {
  static constexpr char hex_digits[] = "0123456789abcdef";
  *out++ = '"';
  const char* run = text.data();
  const char* const end = run + text.size();
  for (;;) {
    const char* special = find_string_special(run, end);
    std::memcpy(out, run, static_cast<std::size_t>(special - run));
    out += special - run;
    if (special == end) break;
    const auto byte = static_cast<unsigned char>(*special);
    const char escape = escape_table[byte];
    *out++ = '\\';
    *out++ = escape;
    if (escape == 'u') {
      *out++ = '0';
      *out++ = '0';
      *out++ = hex_digits[byte >> 4];
      *out++ = hex_digits[byte & 0xF];
    }
    run = special + 1;
  }
  *out++ = '"';
  return out;
}

// Measures what BufferSink writes, strings as if none needed an escape and
// floats at their longest. Both run the same Writer, so no byte is missed;
// the measure looks at no string's bytes, which keeps it cheap.
class CountingSink {
 public:
  void byte(char) { ++size_; }
  void bytes(std::string_view s) { size_ += s.size(); }
  void spaces(std::size_t n) { size_ += n; }
  void string(std::string_view s) { size_ += s.size() + 2; }
  void number(std::uint32_t) { size_ += max_u32_chars; }
  void score(double) { size_ += max_float_chars; }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_ = 0;
};

// Writes into a buffer sized by CountingSink; only a string with escapes,
// longer than counted, makes it grow, by exactly its extra bytes.
class BufferSink {
 public:
  explicit BufferSink(std::string& buf) : buf_(buf), p_(buf.data()) {}
  void byte(char c) { *p_++ = c; }
  void bytes(std::string_view s) {
    std::memcpy(p_, s.data(), s.size());
    p_ += s.size();
  }
  void spaces(std::size_t n) {
    std::memset(p_, ' ', n);
    p_ += n;
  }
  void string(std::string_view s) {
    const char* const end = s.data() + s.size();
    if (find_string_special(s.data(), end) != end) {
      const std::size_t used = static_cast<std::size_t>(p_ - buf_.data());
      buf_.resize(buf_.size() + escaped_size(s) - (s.size() + 2));
      p_ = buf_.data() + used;
      p_ = write_escaped(p_, s);
      return;
    }
    *p_++ = '"';
    std::memcpy(p_, s.data(), s.size());
    p_ += s.size();
    *p_++ = '"';
  }
  void number(std::uint32_t v) { p_ = std::to_chars(p_, p_ + max_u32_chars, v).ptr; }
  void score(double v) { p_ = format_float(p_, v); }
  void finish() { buf_.resize(static_cast<std::size_t>(p_ - buf_.data())); }

 private:
  std::string& buf_;
  char* p_;
};

template <bool Pretty, class Sink>
class Writer {
 public:
  explicit Writer(Sink& out) : out_(out) {}

  void lockfile(const Lockfile& doc) {
    out_.byte('{');
    ++depth_;
    first_key("lockfileVersion");
    out_.number(doc.lockfileVersion);
    next_key("skills");
    if (doc.skills.empty()) {
      out_.bytes("{}");
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
    out_.string(entry.resolved);
    next_key("integrity");
    out_.string(entry.integrity);
    next_key("permissions");
    permissions(entry.permissions);
    next_key("audit_score");
    if (entry.audit_score && std::isfinite(*entry.audit_score)) {
      out_.score(*entry.audit_score);
    } else {
      out_.bytes("null");
    }
    next_key("dependencies");
    if (entry.dependencies.empty()) {
      out_.bytes("{}");
    } else {
      open('{');
      bool first = true;
      for (const auto& [name, range] : entry.dependencies) {
        member_separator(first);
        key_string(name);
        out_.string(range);
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
      out_.bytes("null");
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
      out_.bytes("null");
    }
    next_key("subprocess");
    out_.bytes(perms.subprocess ? (*perms.subprocess ? "true" : "false") : "null");
    close('}');
  }

  void text_list(const std::optional<TextList>& list) {
    if (!list) {
      out_.bytes("null");
    } else if (list->empty()) {
      out_.bytes("[]");
    } else {
      open('[');
      bool first = true;
      for (const auto& text : *list) {
        member_separator(first);
        out_.string(text);
      }
      close(']');
    }
  }

  void open(char bracket) {
    out_.byte(bracket);
    ++depth_;
  }

  // Only containers with members are opened, so a line break always belongs
  // before the closing bracket.
  void close(char bracket) {
    --depth_;
    line_break();
    out_.byte(bracket);
  }

  void member_separator(bool& first) {
    if (!first) out_.byte(',');
    first = false;
    line_break();
  }

  // Field names need no escaping.
  void first_key(std::string_view name) {
    line_break();
    raw_key(name);
  }
  void next_key(std::string_view name) {
    out_.byte(',');
    line_break();
    raw_key(name);
  }
  void raw_key(std::string_view name) {
    out_.byte('"');
    out_.bytes(name);
    out_.bytes(Pretty ? "\": " : "\":");
  }
  void key_string(std::string_view name) {
    out_.string(name);
    out_.bytes(Pretty ? ": " : ":");
  }

  void line_break() {
    if constexpr (Pretty) {
      out_.byte('\n');
      out_.spaces(2 * depth_);
    }
  }

  Sink& out_;
  std::size_t depth_ = 0;
};

// Measures, then writes; `spare` bytes of capacity are left after the text.
template <bool Pretty>
std::string write_document(const Lockfile& doc, std::size_t spare) {
  CountingSink counter;
  Writer<Pretty, CountingSink>(counter).lockfile(doc);
  std::string out(counter.size() + spare, '\0');
  BufferSink sink(out);
  Writer<Pretty, BufferSink>(sink).lockfile(doc);
  sink.finish();
  return out;
}

}  // namespace

char* format_float(char* out, double value) {
  // The shortest round-trip digits in scientific form, "-d.ddde+XX", give the
  // digits and the decimal exponent of the first digit; the layout is ours.
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  const char* p = buf;
  if (*p == '-') {
    *out++ = '-';
    ++p;
  }
  char digits[20];
  std::size_t n = 0;
  for (; *p != 'e'; ++p)
    if (*p != '.') digits[n++] = *p;
  ++p;
  if (*p == '+') ++p;
  int exponent = 0;
  std::from_chars(p, result.ptr, exponent);

  if (exponent < min_positional_exponent || exponent > max_positional_exponent) {
    *out++ = digits[0];
    if (n > 1) {
      *out++ = '.';
      std::memcpy(out, digits + 1, n - 1);
      out += n - 1;
    }
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    return std::to_chars(out, out + 4, exponent < 0 ? -exponent : exponent).ptr;
  }
  if (exponent < 0) {
    const auto zeros = static_cast<std::size_t>(-exponent - 1);
    *out++ = '0';
    *out++ = '.';
    std::memset(out, '0', zeros);
    out += zeros;
    std::memcpy(out, digits, n);
    return out + n;
  }
  const auto whole = static_cast<std::size_t>(exponent) + 1;
  if (n <= whole) {
    std::memcpy(out, digits, n);
    std::memset(out + n, '0', whole - n);
    out += whole;
    *out++ = '.';
    *out++ = '0';
    return out;
  }
  std::memcpy(out, digits, whole);
  out += whole;
  *out++ = '.';
  std::memcpy(out, digits + whole, n - whole);
  return out + (n - whole);
}

void append_float(std::string& out, double value) {
  char buf[max_float_chars];
  out.append(buf, format_float(buf, value));
}

std::string to_json_compact(const Lockfile& lockfile) { return write_document<false>(lockfile, 0); }

std::string to_json_pretty(const Lockfile& lockfile) { return write_document<true>(lockfile, 1); }

}  // namespace morvane::lockfile
