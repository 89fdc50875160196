#include "lockfile/json_reader.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <span>
#include <system_error>
#include <utility>
#include <vector>

#include "common/utf8.hpp"
#include "lockfile/float_text.hpp"
#include "lockfile/string_scan.hpp"

namespace morvane::lockfile {
namespace {

enum class Syntax : unsigned char {
  EofValue,
  EofObject,
  EofList,
  EofString,
  ExpectedValue,
  ExpectedIdent,
  ExpectedColon,
  ExpectedObjectCommaOrEnd,
  ExpectedListCommaOrEnd,
  KeyMustBeAString,
  TrailingComma,
  TrailingCharacters,
  InvalidEscape,
  InvalidNumber,
  NumberOutOfRange,
  ControlCharacter,
  LoneLeadingSurrogate,
  UnexpectedEndOfHexEscape,
};

constexpr std::string_view syntax_text(Syntax s) {
  switch (s) {
    case Syntax::EofValue: return "EOF while parsing a value";
    case Syntax::EofObject: return "EOF while parsing an object";
    case Syntax::EofList: return "EOF while parsing a list";
    case Syntax::EofString: return "EOF while parsing a string";
    case Syntax::ExpectedValue: return "expected value";
    case Syntax::ExpectedIdent: return "expected ident";
    case Syntax::ExpectedColon: return "expected `:`";
    case Syntax::ExpectedObjectCommaOrEnd: return "expected `,` or `}`";
    case Syntax::ExpectedListCommaOrEnd: return "expected `,` or `]`";
    case Syntax::KeyMustBeAString: return "key must be a string";
    case Syntax::TrailingComma: return "trailing comma";
    case Syntax::TrailingCharacters: return "trailing characters";
    case Syntax::InvalidEscape: return "invalid escape";
    case Syntax::InvalidNumber: return "invalid number";
    case Syntax::NumberOutOfRange: return "number out of range";
    case Syntax::ControlCharacter: return "control character (\\u0000-\\u001F) found while parsing a string";
    case Syntax::LoneLeadingSurrogate: return "lone leading surrogate in hex escape";
    case Syntax::UnexpectedEndOfHexEscape: return "unexpected end of hex escape";
  }
  return "invalid JSON";
}

// How a record may be written: an object with these keys, or an array of the
// field values in this order.
struct RecordShape {
  std::string_view name;          // "struct LockEntry"
  std::string_view length_text;   // "struct LockEntry with 5 elements"
  std::span<const std::string_view> fields;
  std::uint32_t required;         // bit i: an object must hold fields[i]
  std::size_t min_elements;       // an array may leave off only the fields after these
};

constexpr std::string_view lockfile_fields[] = {"lockfileVersion", "skills"};
constexpr std::string_view lock_entry_fields[] = {"resolved", "integrity", "permissions", "audit_score",
                                                  "dependencies"};
constexpr std::string_view permissions_fields[] = {"network", "filesystem", "subprocess"};
constexpr std::string_view network_fields[] = {"outbound"};
constexpr std::string_view filesystem_fields[] = {"read", "write"};

constexpr RecordShape lockfile_shape{"struct Lockfile", "struct Lockfile with 2 elements", lockfile_fields, 0b11, 2};
// `dependencies` may be left off an array too: it defaults to an empty map.
constexpr RecordShape lock_entry_shape{"struct LockEntry", "struct LockEntry with 5 elements", lock_entry_fields,
                                       0b111, 4};
constexpr RecordShape permissions_shape{"struct Permissions", "struct Permissions with 3 elements",
                                        permissions_fields, 0, 3};
constexpr RecordShape network_shape{"struct NetworkPermissions", "struct NetworkPermissions with 1 element",
                                    network_fields, 0, 1};
constexpr RecordShape filesystem_shape{"struct FilesystemPermissions",
                                       "struct FilesystemPermissions with 2 elements", filesystem_fields, 0, 2};

// The index of the field named `key`, or the number of fields.
std::size_t field_index(const RecordShape& shape, std::string_view key) {
  for (std::size_t i = 0; i < shape.fields.size(); ++i) {
    const std::string_view name = shape.fields[i];
    if (name.size() == key.size() && name[0] == key[0] && std::memcmp(name.data(), key.data(), key.size()) == 0)
      return i;
  }
  return shape.fields.size();
}

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr bool is_whitespace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// 0..15 for a hex digit, -1 otherwise.
constexpr int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "string \"...\"": the text between double quotes, with a backslash before
// each double quote and backslash and JSON-style escapes for control
// characters (C0, DEL and C1), so that the message stays on one line.
std::string describe_string(std::string_view text) {
  static constexpr char hex_digits[] = "0123456789abcdef";
  std::string out = "string \"";
  out.reserve(out.size() + text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    unsigned code = 0x100;  // none
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      code = c;
    } else if (c == 0xC2 && i + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9F) {
        code = next;
        ++i;
      }
    }
    if (code == 0x100) {
      out += static_cast<char>(c);
    } else {
      out += "\\u00";
      out += hex_digits[code >> 4];
      out += hex_digits[code & 0xF];
    }
  }
  out += '"';
  return out;
}

// The bytes of one JSON number; it has been checked against the grammar.
struct Number {
  const char* begin;
  const char* end;
  bool negative;
  bool integral;  // no fraction and no exponent
};

// The magnitude of an integral number when it fits 64 bits.
bool integer_magnitude(const Number& n, std::uint64_t& out) {
  const char* digits = n.begin + (n.negative ? 1 : 0);
  const auto [ptr, ec] = std::from_chars(digits, n.end, out);
  return ec == std::errc{} && ptr == n.end;
}

// Power of ten of the first non-zero digit (saturated); only its sign is used,
// to tell a value too large for a double from one too small.
long long decimal_magnitude(const Number& n) {
  constexpr long long saturation = 1'000'000'000;
  const char* p = n.begin + (n.negative ? 1 : 0);
  const char* const int_begin = p;
  while (p < n.end && is_digit(*p)) ++p;
  long long magnitude = 0;
  if (*int_begin != '0') {
    magnitude = std::min<long long>(p - int_begin - 1, saturation);
  } else {
    magnitude = -1;
    if (p < n.end && *p == '.') {
      for (++p; p < n.end && *p == '0' && magnitude > -saturation; ++p) --magnitude;
    }
  }
  while (p < n.end && *p != 'e' && *p != 'E') ++p;
  if (p == n.end) return magnitude;
  ++p;
  const bool negative_exponent = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  long long exponent = 0;
  for (; p < n.end && exponent < saturation; ++p) exponent = exponent * 10 + (*p - '0');
  return magnitude + (negative_exponent ? -exponent : exponent);
}

// Reads one lockfile. Every reading function returns false after recording
// the first error; only a byte offset is kept until the error is reported.
class Reader {
 public:
  explicit Reader(std::string_view text) : begin_(text.data()), end_(text.data() + text.size()), p_(begin_) {}

  bool document(Lockfile& doc) {
    if (!lockfile(doc)) return false;
    skip_whitespace();
    if (p_ != end_) return syntax(Syntax::TrailingCharacters);
    return true;
  }

  JsonError error() const {
    const std::string_view counted(begin_, error_offset_);
    const std::size_t line_feeds = static_cast<std::size_t>(std::count(counted.begin(), counted.end(), '\n'));
    const std::size_t last = counted.rfind('\n');
    const std::size_t column = last == std::string_view::npos ? counted.size() : counted.size() - last - 1;
    return JsonError{error_message_, line_feeds + 1, column};
  }

 private:
  // ---- Errors. The position counts the bytes up to `counted_end`.

  bool fail(std::string message, const char* counted_end) {
    error_message_ = std::move(message);
    error_offset_ = static_cast<std::size_t>(counted_end - begin_);
    return false;
  }

  // A syntax error at the byte under the cursor, which is counted, or at the
  // end of the text.
  bool syntax(Syntax s) { return fail(std::string(syntax_text(s)), p_ < end_ ? p_ + 1 : end_); }

  bool invalid_type(std::string_view found, std::string_view expected, const char* counted_end) {
    std::string message = "invalid type: ";
    message += found;
    message += ", expected ";
    message += expected;
    return fail(std::move(message), counted_end);
  }

  bool invalid_value(std::string_view found, std::string_view expected) {
    std::string message = "invalid value: ";
    message += found;
    message += ", expected ";
    message += expected;
    return fail(std::move(message), p_);
  }

  // ---- Tokens.

  void skip_whitespace() {
    while (p_ < end_ && is_whitespace(*p_)) ++p_;
  }

  // Skips whitespace and reports whether a byte follows; at the end of the
  // text records `eof` and returns false.
  bool next_byte(Syntax eof) {
    skip_whitespace();
    return p_ < end_ || syntax(eof);
  }

  // The cursor is on the first letter of `word`, already matched.
  bool literal(std::string_view word) {
    for (std::size_t i = 1; i < word.size(); ++i) {
      ++p_;
      if (p_ == end_) return syntax(Syntax::EofValue);
      if (*p_ != word[i]) return syntax(Syntax::ExpectedIdent);
    }
    ++p_;
    return true;
  }

  bool colon() {
    if (!next_byte(Syntax::EofObject)) return false;
    if (*p_ != ':') return syntax(Syntax::ExpectedColon);
    ++p_;
    return true;
  }

  // The cursor is on the opening quote. Leaves the text in `out`: a view of
  // the input when it holds no escape, else of the decoded scratch buffer
  // (valid until the next string). With Decode false only checks the string.
  template <bool Decode>
  bool string(std::string_view& out) {
    ++p_;
    const char* run = p_;
    bool decoded = false;
    if constexpr (Decode) scratch_.clear();
    for (;;) {
      p_ = find_string_special(p_, end_);
      if (p_ == end_) return syntax(Syntax::EofString);
      const char c = *p_;
      if (c == '"') {
        if constexpr (Decode) {
          if (decoded) {
            scratch_.append(run, p_);
            out = scratch_;
          } else {
            out = std::string_view(run, static_cast<std::size_t>(p_ - run));
          }
        }
        ++p_;
        return true;
      }
      if (c != '\\') return syntax(Syntax::ControlCharacter);
      if constexpr (Decode) scratch_.append(run, p_);
      decoded = true;
      ++p_;
      if (!escape<Decode>()) return false;
      run = p_;
    }
  }

  // The cursor is after a backslash; leaves it after the escape.
  template <bool Decode>
  bool escape() {
    if (p_ == end_) return syntax(Syntax::EofString);
    char decoded;
    switch (*p_) {
      case '"': decoded = '"'; break;
      case '\\': decoded = '\\'; break;
      case '/': decoded = '/'; break;
      case 'b': decoded = '\b'; break;
      case 'f': decoded = '\f'; break;
      case 'n': decoded = '\n'; break;
      case 'r': decoded = '\r'; break;
      case 't': decoded = '\t'; break;
      case 'u': {
        ++p_;
        return unicode_escape<Decode>();
      }
      default: return syntax(Syntax::InvalidEscape);
    }
    if constexpr (Decode) scratch_ += decoded;
    ++p_;
    return true;
  }

  // Four hex digits; the cursor ends after them.
  bool hex4(std::uint32_t& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
      if (p_ == end_) return syntax(Syntax::EofString);
      const int v = hex_value(*p_);
      if (v < 0) return syntax(Syntax::InvalidEscape);
      out = out << 4 | static_cast<std::uint32_t>(v);
      ++p_;
    }
    return true;
  }

  // The cursor is after "\u". A character outside the basic plane comes as a
  // leading surrogate escape immediately followed by a trailing one; lone
  // surrogates cannot be written in UTF-8 and are refused.
  template <bool Decode>
  bool unicode_escape() {
    std::uint32_t unit;
    if (!hex4(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail(std::string(syntax_text(Syntax::LoneLeadingSurrogate)), p_);
    if (unit < 0xD800 || unit > 0xDBFF) {
      if constexpr (Decode) append_utf8(scratch_, unit);
      return true;
    }
    if (p_ == end_) return syntax(Syntax::EofString);
    if (*p_ != '\\') return syntax(Syntax::UnexpectedEndOfHexEscape);
    ++p_;
    if (p_ == end_) return syntax(Syntax::EofString);
    if (*p_ != 'u') return syntax(Syntax::UnexpectedEndOfHexEscape);
    ++p_;
    std::uint32_t trailing;
    if (!hex4(trailing)) return false;
    if (trailing < 0xDC00 || trailing > 0xDFFF)
      return fail(std::string(syntax_text(Syntax::LoneLeadingSurrogate)), p_);
    if constexpr (Decode) append_utf8(scratch_, 0x10000 + ((unit - 0xD800) << 10) + (trailing - 0xDC00));
    return true;
  }

  // The cursor is on a minus sign or a digit. Checks the grammar (no leading
  // zeros, digits after the sign, the point and the exponent letter) and
  // leaves the cursor after the number.
  bool number(Number& n) {
    n.begin = p_;
    n.negative = *p_ == '-';
    n.integral = true;
    if (n.negative) ++p_;
    if (p_ == end_) return syntax(Syntax::EofValue);
    if (*p_ == '0') {
      ++p_;
      if (p_ < end_ && is_digit(*p_)) return syntax(Syntax::InvalidNumber);
    } else if (is_digit(*p_)) {
      while (++p_ < end_ && is_digit(*p_)) {
      }
    } else {
      return syntax(Syntax::InvalidNumber);
    }
    if (p_ < end_ && *p_ == '.') {
      n.integral = false;
      if (!digits()) return false;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      n.integral = false;
      if (p_ + 1 < end_ && (p_[1] == '+' || p_[1] == '-')) ++p_;
      if (!digits()) return false;
    }
    n.end = p_;
    return true;
  }

  // The cursor is on the byte before a required run of digits.
  bool digits() {
    ++p_;
    if (p_ == end_) return syntax(Syntax::EofValue);
    if (!is_digit(*p_)) return syntax(Syntax::InvalidNumber);
    while (++p_ < end_ && is_digit(*p_)) {
    }
    return true;
  }

  // Correctly rounded. A value too small for a double reads as zero; one too
  // large is an error.
  bool to_double(const Number& n, double& out) {
    const auto [ptr, ec] = std::from_chars(n.begin, n.end, out);
    if (ec == std::errc{}) return true;
    if (decimal_magnitude(n) < 0) {
      out = n.negative ? -0.0 : 0.0;
      return true;
    }
    return fail(std::string(syntax_text(Syntax::NumberOutOfRange)), n.end);
  }

  // "integer `N`" for integers within the 64-bit ranges (-0 excepted), else
  // "floating point `X`" with X written as an audit score is.
  bool describe_number(const Number& n, std::string& out) {
    std::uint64_t magnitude;
    constexpr std::uint64_t max_negative_magnitude = std::uint64_t{1} << 63;
    if (n.integral && integer_magnitude(n, magnitude) &&
        (!n.negative || (magnitude != 0 && magnitude <= max_negative_magnitude))) {
      out = "integer `";
      out.append(n.begin, n.end);
      out += '`';
      return true;
    }
    double value;
    if (!to_double(n, value)) return false;
    out = "floating point `";
    append_float(out, value);
    out += '`';
    return true;
  }

  // The cursor is on the first byte of a value that the field does not take:
  // reads the value (its own syntax errors come first) and reports what it is.
  bool reject(std::string_view expected) {
    const char* const start = p_;
    std::string found;
    switch (*p_) {
      case 'n':
        if (!literal("null")) return false;
        found = "null";
        break;
      case 't':
        if (!literal("true")) return false;
        found = "boolean `true`";
        break;
      case 'f':
        if (!literal("false")) return false;
        found = "boolean `false`";
        break;
      case '"': {
        std::string_view text;
        if (!string<true>(text)) return false;
        found = describe_string(text);
        break;
      }
      case '[': return invalid_type("sequence", expected, start);
      case '{': return invalid_type("map", expected, start);
      default: {
        if (*p_ != '-' && !is_digit(*p_)) return syntax(Syntax::ExpectedValue);
        Number n;
        if (!number(n) || !describe_number(n, found)) return false;
        break;
      }
    }
    return invalid_type(found, expected, p_);
  }

  // ---- Containers. Both loops leave the cursor on the closing bracket.

  // Members of an object whose '{' is under the cursor: for each key (a view
  // valid until the next string is read) `on_member` reads the colon and value.
  template <class OnMember>
  bool members(OnMember&& on_member) {
    ++p_;
    for (bool first = true;; first = false) {
      if (!next_byte(Syntax::EofObject)) return false;
      if (*p_ == '}') return true;
      if (!first) {
        if (*p_ != ',') return syntax(Syntax::ExpectedObjectCommaOrEnd);
        ++p_;
        if (!next_byte(Syntax::EofValue)) return false;
        if (*p_ == '}') return syntax(Syntax::TrailingComma);
      }
      if (*p_ != '"') return syntax(Syntax::KeyMustBeAString);
      std::string_view key;
      if (!string<true>(key) || !on_member(key)) return false;
    }
  }

  // Elements of an array whose '[' is under the cursor, read by `on_element`
  // (given the element's index) for as long as it returns true.
  template <class OnElement>
  bool elements(OnElement&& on_element) {
    ++p_;
    for (std::size_t index = 0;; ++index) {
      if (!next_byte(Syntax::EofList)) return false;
      if (*p_ == ']') return true;
      if (index > 0) {
        if (*p_ != ',') return syntax(Syntax::ExpectedListCommaOrEnd);
        ++p_;
        if (!next_byte(Syntax::EofValue)) return false;
        if (*p_ == ']') return syntax(Syntax::TrailingComma);
      }
      if (!on_element(index)) return false;
    }
  }

  // A record given as an object or as an array of its fields; `field(i)` reads
  // the value of field i into the record.
  template <class ReadField>
  bool record(const RecordShape& shape, ReadField&& field) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (*p_ == '{') return record_object(shape, field);
    if (*p_ == '[') return record_array(shape, field);
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
        return fail("duplicate field `" + std::string(shape.fields[index]) + "`", p_);
      }
      seen |= std::uint32_t{1} << index;
      return colon() && field(index);
    });
    if (!read) return false;
    ++p_;
    if (const std::uint32_t missing = shape.required & ~seen) {
      return fail("missing field `" + std::string(shape.fields[std::countr_zero(missing)]) + "`", p_);
    }
    return true;
  }

  template <class ReadField>
  bool record_array(const RecordShape& shape, ReadField& field) {
    const std::size_t count = shape.fields.size();
    std::size_t found = 0;
    const bool read = elements([&](std::size_t index) {
      if (index == count) {
        // More elements than fields: the separator was a comma.
        return syntax(Syntax::TrailingCharacters);
      }
      found = index + 1;
      return field(index);
    });
    if (!read) return false;
    ++p_;
    if (found < shape.min_elements) {
      return fail("invalid length " + std::to_string(found) + ", expected " + std::string(shape.length_text), p_);
    }
    return true;
  }

  // ---- Skipping a value of an unknown member: any kind and any depth,
  // checked for well-formedness only. A stack of open brackets replaces
  // recursion, so depth costs one byte of memory per level and no C++ stack.
  bool skip_value() {
    open_.clear();
    for (;;) {
      // A value is expected here.
      if (!next_byte(Syntax::EofValue)) return false;
      switch (*p_) {
        case '{':
          ++p_;
          if (!next_byte(Syntax::EofObject)) return false;
          if (*p_ == '}') {
            ++p_;
            break;
          }
          if (!skip_key()) return false;
          open_.push_back('{');
          continue;
        case '[':
          ++p_;
          if (!next_byte(Syntax::EofList)) return false;
          if (*p_ == ']') {
            ++p_;
            break;
          }
          open_.push_back('[');
          continue;
        case '"': {
          std::string_view unused;
          if (!string<false>(unused)) return false;
          break;
        }
        case 'n':
          if (!literal("null")) return false;
          break;
        case 't':
          if (!literal("true")) return false;
          break;
        case 'f':
          if (!literal("false")) return false;
          break;
        default: {
          if (*p_ != '-' && !is_digit(*p_)) return syntax(Syntax::ExpectedValue);
          Number n;
          if (!number(n)) return false;
          break;
        }
      }
      // A value has ended: close brackets until a comma asks for another.
      for (;;) {
        if (open_.empty()) return true;
        const bool in_object = open_.back() == '{';
        if (!next_byte(in_object ? Syntax::EofObject : Syntax::EofList)) return false;
        const char close = in_object ? '}' : ']';
        if (*p_ == close) {
          ++p_;
          open_.pop_back();
          continue;
        }
        if (*p_ != ',') return syntax(in_object ? Syntax::ExpectedObjectCommaOrEnd : Syntax::ExpectedListCommaOrEnd);
        ++p_;
        if (!next_byte(Syntax::EofValue)) return false;
        if (*p_ == close) return syntax(Syntax::TrailingComma);
        if (in_object && !skip_key()) return false;
        break;
      }
    }
  }

  // A member key and its colon, with the cursor on the key's first byte.
  bool skip_key() {
    if (*p_ != '"') return syntax(Syntax::KeyMustBeAString);
    std::string_view unused;
    return string<false>(unused) && colon();
  }

  // ---- Field values.

  bool text(std::string& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (*p_ != '"') return reject("a string");
    std::string_view view;
    if (!string<true>(view)) return false;
    out.assign(view);
    return true;
  }

  bool u32(std::uint32_t& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (*p_ != '-' && !is_digit(*p_)) return reject("u32");
    Number n;
    if (!number(n)) return false;
    std::uint64_t magnitude;
    if (n.integral && integer_magnitude(n, magnitude)) {
      if (!n.negative && magnitude <= std::numeric_limits<std::uint32_t>::max()) {
        out = static_cast<std::uint32_t>(magnitude);
        return true;
      }
    }
    std::string found;
    if (!describe_number(n, found)) return false;
    // Integers are out of range; every other number has the wrong type.
    if (found.starts_with("integer")) return invalid_value(found, "u32");
    return invalid_type(found, "u32", p_);
  }

  bool optional_f64(std::optional<double>& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (*p_ == 'n') {
      out.reset();
      return literal("null");
    }
    if (*p_ != '-' && !is_digit(*p_)) return reject("f64");
    Number n;
    double value;
    if (!number(n) || !to_double(n, value)) return false;
    out = value;
    return true;
  }

  bool optional_bool(std::optional<bool>& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    switch (*p_) {
      case 'n': out.reset(); return literal("null");
      case 't': out = true; return literal("true");
      case 'f': out = false; return literal("false");
      default: return reject("a boolean");
    }
  }

  bool optional_text_list(std::optional<TextList>& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (*p_ == 'n') {
      out.reset();
      return literal("null");
    }
    if (*p_ != '[') return reject("a sequence");
    texts_.clear();
    const bool read = elements([&](std::size_t) { return text(texts_.emplace_back()); });
    if (!read) return false;
    ++p_;
    // Collected in a reused buffer so that the list is allocated once, at its size.
    out.emplace(std::make_move_iterator(texts_.begin()), std::make_move_iterator(texts_.end()));
    return true;
  }

  // An object whose members all hold values of one kind, read by
  // `value(key)` after the colon; `key` may point into the scratch buffer.
  template <class ReadValue>
  bool map(ReadValue&& value) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (*p_ != '{') return reject("a map");
    if (!members([&](std::string_view key) { return colon() && value(key); })) return false;
    ++p_;
    return true;
  }

  // ---- Records.

  bool lockfile(Lockfile& doc) {
    return record(lockfile_shape, [&](std::size_t field) {
      return field == 0 ? u32(doc.lockfileVersion) : skills(doc.skills);
    });
  }

  bool skills(SortedMap<LockEntry>& out) {
    // A deque never moves its entries while it grows, and hands them over
    // block by block: the map is built without a second full copy in memory.
    std::deque<SortedMap<LockEntry>::Entry> collected;
    const bool read = map([&](std::string_view name) {
      auto& entry = collected.emplace_back(std::string(name), LockEntry{});
      return lock_entry(entry.second);
    });
    if (!read) return false;
    std::vector<SortedMap<LockEntry>::Entry> entries;
    entries.reserve(collected.size());
    while (!collected.empty()) {
      entries.push_back(std::move(collected.front()));
      collected.pop_front();
    }
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
    if (!next_byte(Syntax::EofValue)) return false;
    if (*p_ == 'n') {
      out.reset();
      return literal("null");
    }
    auto& network = out.emplace();
    return record(network_shape, [&](std::size_t) { return optional_text_list(network.outbound); });
  }

  bool optional_filesystem(std::optional<FilesystemPermissions>& out) {
    if (!next_byte(Syntax::EofValue)) return false;
    if (*p_ == 'n') {
      out.reset();
      return literal("null");
    }
    auto& filesystem = out.emplace();
    return record(filesystem_shape, [&](std::size_t field) {
      return optional_text_list(field == 0 ? filesystem.read : filesystem.write);
    });
  }

  const char* const begin_;
  const char* const end_;
  const char* p_;

  std::string scratch_;              // decoded text of the last string with escapes
  std::vector<char> open_;           // brackets opened while skipping a value
  std::vector<std::string> texts_;   // elements of the list being read
  std::vector<SortedMap<std::string>::Entry> dependencies_;  // members of the map being read

  std::string error_message_;
  std::size_t error_offset_ = 0;
};

}  // namespace

std::string JsonError::display() const {
  std::string out = message;
  out += " at line ";
  out += std::to_string(line);
  out += " column ";
  out += std::to_string(column);
  return out;
}

std::expected<Lockfile, JsonError> parse_lockfile(std::string_view text) {
  Reader reader(text);
  Lockfile doc;
  if (!reader.document(doc)) return std::unexpected(reader.error());
  return doc;
}

}  // namespace morvane::lockfile
