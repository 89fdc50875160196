#include "lockfile/json_syntax.hpp"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <utility>

#include "common/utf8.hpp"
#include "lockfile/float_text.hpp"
#include "common/bytes.hpp"
#include "common/scan.hpp"

namespace morvane::lockfile {
namespace {

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

}  // namespace

std::string JsonError::display() const {
  std::string out = message;
  out += " at line ";
  out += std::to_string(line);
  out += " column ";
  out += std::to_string(column);
  return out;
}

bool Number::integer_magnitude(std::uint64_t& out) const {
  const char* digits = begin + (negative ? 1 : 0);
  const auto [ptr, ec] = std::from_chars(digits, end, out);
  return ec == std::errc{} && ptr == end;
}

JsonError JsonCursor::error() const {
  const std::string_view counted(begin_, error_offset_);
  const std::size_t line_feeds = static_cast<std::size_t>(std::count(counted.begin(), counted.end(), '\n'));
  const std::size_t last = counted.rfind('\n');
  const std::size_t column = last == std::string_view::npos ? counted.size() : counted.size() - last - 1;
  return JsonError{error_message_, line_feeds + 1, column};
}

bool JsonCursor::fail(std::string message, const char* counted_end) {
  error_message_ = std::move(message);
  error_offset_ = static_cast<std::size_t>(counted_end - begin_);
  return false;
}

bool JsonCursor::syntax(Syntax s) { return fail(std::string(syntax_text(s)), p_ < end_ ? p_ + 1 : end_); }

bool JsonCursor::invalid(std::string_view what, std::string_view found, std::string_view expected,
                         const char* counted_end) {
  std::string message = "invalid ";
  message += what;
  message += ": ";
  message += found;
  message += ", expected ";
  message += expected;
  return fail(std::move(message), counted_end);
}

bool JsonCursor::only_whitespace_left() {
  skip_whitespace();
  return p_ == end_ || syntax(Syntax::TrailingCharacters);
}

bool JsonCursor::literal(std::string_view word) {
  for (std::size_t i = 1; i < word.size(); ++i) {
    ++p_;
    if (p_ == end_) return syntax(Syntax::EofValue);
    if (*p_ != word[i]) return syntax(Syntax::ExpectedIdent);
  }
  ++p_;
  return true;
}

bool JsonCursor::colon() {
  if (!next_byte(Syntax::EofObject)) return false;
  if (*p_ != ':') return syntax(Syntax::ExpectedColon);
  ++p_;
  return true;
}

bool JsonCursor::string_with_escapes(const char* run, std::string_view& out) {
  decoded_ = false;
  scratch_.clear();
  for (;;) {
    if (p_ == end_) return syntax(Syntax::EofString);
    const char c = *p_;
    if (c == '"') {
      if (decoded_) {
        scratch_.append(run, p_);
        out = scratch_;
      } else {
        out = std::string_view(run, static_cast<std::size_t>(p_ - run));
      }
      ++p_;
      return true;
    }
    if (c != '\\') return syntax(Syntax::ControlCharacter);
    scratch_.append(run, p_);
    decoded_ = true;
    ++p_;
    if (!escape()) return false;
    run = p_;
    p_ = find_string_special(p_, end_);
  }
}

// The cursor is after a backslash; leaves it after the escape.
bool JsonCursor::escape() {
  // The letters of the short escapes, and what each stands for.
  constexpr std::string_view letters = "\"\\/bfnrt";
  constexpr std::string_view decoded = "\"\\/\b\f\n\r\t";
  if (p_ == end_) return syntax(Syntax::EofString);
  if (*p_ == 'u') {
    ++p_;
    return unicode_escape();
  }
  const std::size_t k = letters.find(*p_);
  if (k == std::string_view::npos) return syntax(Syntax::InvalidEscape);
  scratch_ += decoded[k];
  ++p_;
  return true;
}

// Four hex digits; the cursor ends after them.
bool JsonCursor::hex4(std::uint32_t& out) {
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
bool JsonCursor::unicode_escape() {
  std::uint32_t unit;
  if (!hex4(unit)) return false;
  // A lone trailing surrogate keeps the leading one's text: callers already match that text.
  if (unit >= 0xDC00 && unit <= 0xDFFF) return fail(std::string(syntax_text(Syntax::LoneLeadingSurrogate)));
  if (unit < 0xD800 || unit > 0xDBFF) {
    append_utf8(scratch_, unit);
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
  if (trailing < 0xDC00 || trailing > 0xDFFF) return fail(std::string(syntax_text(Syntax::LoneLeadingSurrogate)));
  append_utf8(scratch_, 0x10000 + ((unit - 0xD800) << 10) + (trailing - 0xDC00));
  return true;
}

bool JsonCursor::number(Number& n) {
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
bool JsonCursor::digits() {
  ++p_;
  if (p_ == end_) return syntax(Syntax::EofValue);
  if (!is_digit(*p_)) return syntax(Syntax::InvalidNumber);
  while (++p_ < end_ && is_digit(*p_)) {
  }
  return true;
}

bool JsonCursor::to_double(const Number& n, double& out) {
  const auto [ptr, ec] = std::from_chars(n.begin, n.end, out);
  if (ec == std::errc{}) return true;
  if (decimal_magnitude(n) < 0) {
    out = n.negative ? -0.0 : 0.0;
    return true;
  }
  return fail(std::string(syntax_text(Syntax::NumberOutOfRange)), n.end);
}

bool JsonCursor::describe_number(const Number& n, std::string& out) {
  std::uint64_t magnitude;
  constexpr std::uint64_t max_negative_magnitude = std::uint64_t{1} << 63;
  if (n.integral && n.integer_magnitude(magnitude) &&
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

bool JsonCursor::duplicate_field(std::string_view name) {
  return fail("duplicate field `" + std::string(name) + "`");
}

bool JsonCursor::missing_field(std::string_view name) { return fail("missing field `" + std::string(name) + "`"); }

bool JsonCursor::invalid_length(std::size_t found, std::string_view record, std::size_t count) {
  return fail("invalid length " + std::to_string(found) + ", expected " + std::string(record) + " with " +
              std::to_string(count) + (count == 1 ? " element" : " elements"));
}

bool JsonCursor::reject(std::string_view expected) {
  if (*p_ == '[') return invalid("type", "sequence", expected, p_);
  if (*p_ == '{') return invalid("type", "map", expected, p_);
  std::string found;
  return scalar(&found) && invalid("type", found, expected);
}

bool JsonCursor::scalar(std::string* found) {
  const char c = *p_;
  if (c == 'n' || c == 't' || c == 'f') {
    if (!literal(c == 'n' ? "null" : c == 't' ? "true" : "false")) return false;
    if (found) *found = c == 'n' ? "null" : c == 't' ? "boolean `true`" : "boolean `false`";
    return true;
  }
  if (c == '"') {
    std::string_view text;
    if (!string(text)) return false;
    if (found) *found = describe_string(text);
    return true;
  }
  if (!starts_number(c)) return syntax(Syntax::ExpectedValue);
  Number n;
  return number(n) && (!found || describe_number(n, *found));
}

// A stack of open brackets replaces recursion, so depth costs one byte of
// memory per level and no C++ stack.
bool JsonCursor::skip_value() {
  open_.clear();
  for (;;) {
    // A value is expected here.
    if (!next_byte(Syntax::EofValue)) return false;
    if (*p_ == '{' || *p_ == '[') {
      const char close = *p_ == '{' ? '}' : ']';
      ++p_;
      if (!next_byte(close == '}' ? Syntax::EofObject : Syntax::EofList)) return false;
      if (*p_ != close) {
        if (close == '}' && !skip_key()) return false;
        open_.push_back(close);
        continue;
      }
      ++p_;
    } else if (!scalar(nullptr)) {
      return false;
    }
    // A value has ended: close brackets until a comma asks for another.
    for (;;) {
      if (open_.empty()) return true;
      const char close = open_.back();
      const bool in_object = close == '}';
      if (!next_byte(in_object ? Syntax::EofObject : Syntax::EofList)) return false;
      if (*p_ == close) {
        ++p_;
        open_.pop_back();
        continue;
      }
      if (!separator(close, in_object ? Syntax::ExpectedObjectCommaOrEnd : Syntax::ExpectedListCommaOrEnd))
        return false;
      if (in_object && !skip_key()) return false;
      break;
    }
  }
}

// A member key and its colon, with the cursor on the key's first byte.
bool JsonCursor::skip_key() {
  if (*p_ != '"') return syntax(Syntax::KeyMustBeAString);
  std::string_view unused;
  return string(unused) && colon();
}

}  // namespace morvane::lockfile
