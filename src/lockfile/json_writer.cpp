#include "lockfile/json_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "lockfile/float_text.hpp"
#include "common/bytes.hpp"
#include "common/scan.hpp"

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

// The output text, written through a pointer into a string that is kept as
// long as the room asked for so far; each write asks for its room first, so
// the bytes themselves are stored without a check per byte. Room that is
// never written is cut off at the end (and, in a large block, never backed by
// memory).
class Output {
 public:
  Output(std::string& text, std::size_t size_hint) : text_(text) { grow(std::max<std::size_t>(size_hint, 64)); }

  // Makes room for `n` more bytes.
  void room(std::size_t n) {
    if (static_cast<std::size_t>(end_ - p_) < n) grow(n);
  }
  // These write into the room made before.
  void put(char c) { *p_++ = c; }
  void put(std::string_view bytes) {
    copy_bytes(p_, bytes.data(), bytes.size());
    p_ += bytes.size();
  }
  void put_spaces(std::size_t n) {
    // Indentation is short: copied from a run of spaces, like other short
    // pieces, rather than set by the C library's memset.
    static constexpr char spaces[] = "                                ";
    if (n < sizeof spaces) {
      copy_bytes(p_, spaces, n);
    } else {
      std::memset(p_, ' ', n);
    }
    p_ += n;
  }

  // `text` between double quotes with exactly the string-special bytes
  // escaped; every other byte, UTF-8 included, is copied as it is.
  void string(std::string_view text) {
    room(text.size() + 2);
    put('"');
    const char* run = text.data();
    const char* const end = run + text.size();
    for (;;) {
      const char* special = find_string_special(run, end);
      put(std::string_view(run, static_cast<std::size_t>(special - run)));
      if (special == end) break;
      // An escape takes at most six bytes (a backslash, u and four digits),
      // then come the rest of the text and the closing quote.
      room(6 + static_cast<std::size_t>(end - special));
      const auto byte = static_cast<unsigned char>(*special);
      const char escape = escape_table[byte];
      put('\\');
      put(escape);
      if (escape == 'u') {
        put("00");
        put(hex_digits[byte >> 4]);
        put(hex_digits[byte & 0xF]);
      }
      run = special + 1;
    }
    put('"');
  }

  void finish() { text_.resize(static_cast<std::size_t>(p_ - text_.data())); }

 private:
  void grow(std::size_t n) {
    const auto used = static_cast<std::size_t>(p_ - text_.data());
    // Only the written bytes are kept across the move to a larger block.
    text_.resize(used);
    const std::size_t size = std::max(used + n, 2 * used);
    text_.resize_and_overwrite(size, [](char*, std::size_t k) { return k; });
    p_ = text_.data() + used;
    end_ = text_.data() + text_.size();
  }

  std::string& text_;
  char* p_ = text_.data();
  char* end_ = p_;
};

template <bool Pretty>
class Writer {
 public:
  Writer(Output& out, const Lockfile& doc, Spelling spelling) : out_(out), doc_(doc), spelling_(spelling) {}

  void lockfile() {
    begin('{');
    field("lockfileVersion");
    char digits[std::numeric_limits<std::uint32_t>::digits10 + 1];
    const char* const digits_end = std::to_chars(digits, digits + sizeof digits, doc_.lockfileVersion).ptr;
    raw(std::string_view(digits, static_cast<std::size_t>(digits_end - digits)));
    field("skills");
    begin('{');
    for (const LockEntry& entry : doc_.skills) {
      key(entry.name);
      lock_entry(entry);
    }
    end('}');
    end('}');
  }

 private:
  void lock_entry(const LockEntry& entry) {
    begin('{');
    field("resolved");
    string(entry.resolved);
    field("integrity");
    string(entry.integrity);
    field("permissions");
    permissions(entry.permissions);
    field("audit_score");
    if (entry.audit_score && std::isfinite(*entry.audit_score)) {
      number_.clear();
      if (entry.audit_score_spelled.empty() || spelling_ == Spelling::Recomputed) {
        append_float(number_, *entry.audit_score);
      } else {
        append_float(number_, *entry.audit_score, entry.audit_score_spelled);
      }
      raw(number_);
    } else {
      raw("null");
    }
    field("dependencies");
    begin('{');
    for (const auto& [name, range] : doc_.dependencies_of(entry)) {
      key(name);
      string(range);
    }
    end('}');
    end('}');
  }

  void permissions(const EntryPermissions& perms) {
    begin('{');
    field("network");
    if (perms.network) {
      begin('{');
      field("outbound");
      text_list(perms.network->outbound);
      end('}');
    } else {
      raw("null");
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
      raw("null");
    }
    field("subprocess");
    raw(perms.subprocess ? (*perms.subprocess ? "true" : "false") : "null");
    end('}');
  }

  void text_list(const TextRange& list) {
    if (!list.present) {
      raw("null");
      return;
    }
    begin('[');
    for (const std::string_view element : doc_.list(list)) {
      item();
      string(element);
    }
    end(']');
  }

  // A text between double quotes. One that lies in the JSON text the
  // document was read from holds no byte that needs an escape, and is copied
  // without a look at its bytes.
  void string(std::string_view s) {
    if (spelling_ == Spelling::AsRead && doc_.in_source(s)) {
      out_.room(s.size() + 2);
      out_.put('"');
      out_.put(s);
      out_.put('"');
    } else {
      out_.string(s);
    }
  }

  // Bytes of the layout itself: literals, numbers, brackets.
  void raw(std::string_view bytes) {
    out_.room(bytes.size());
    out_.put(bytes);
  }

  void begin(char bracket) {
    out_.room(1);
    out_.put(bracket);
    ++depth_;
    empty_ = true;
  }

  // An empty container closes on its opening line: "{}", "[]". The container
  // was a value in its parent, so the parent is not empty.
  void end(char bracket) {
    --depth_;
    if (!empty_) line_break();
    out_.room(1);
    out_.put(bracket);
    empty_ = false;
  }

  // Each member or element: a comma after the one before, then its own line.
  void item() {
    if (!empty_) {
      out_.room(1);
      out_.put(',');
    }
    empty_ = false;
    line_break();
  }

  // A member named by the format, whose name needs no escaping.
  void field(std::string_view name) {
    item();
    out_.room(name.size() + 4);
    out_.put('"');
    out_.put(name);
    out_.put(Pretty ? "\": " : "\":");
  }

  // A member named by the document (a skill or a dependency).
  void key(std::string_view name) {
    item();
    string(name);
    raw(Pretty ? ": " : ":");
  }

  void line_break() {
    if constexpr (Pretty) {
      out_.room(1 + 2 * depth_);
      out_.put('\n');
      out_.put_spaces(2 * depth_);
    }
  }

  Output& out_;
  const Lockfile& doc_;
  const Spelling spelling_;
  std::size_t depth_ = 0;
  bool empty_ = true;   // no member or element yet in the innermost open container
  std::string number_;  // the text of the audit score being written
};

// The size of the text the document was read from is a close guess of the
// compact layout's size, and twice it a generous one of the indented
// layout's: the output then grows rarely (each time copying what it holds),
// and room reserved in a large block but never written is not backed by
// memory.
template <bool Pretty>
std::string write(const Lockfile& doc, Spelling spelling) {
  std::string text;
  Output out(text, (Pretty ? 2 : 1) * doc.json.size() + 1);
  Writer<Pretty>(out, doc, spelling).lockfile();
  out.finish();
  return text;
}

}  // namespace

std::string to_json_compact(const Lockfile& doc, Spelling spelling) { return write<false>(doc, spelling); }

std::string to_json_pretty(const Lockfile& doc, Spelling spelling) { return write<true>(doc, spelling); }

}  // namespace morvane::lockfile
