// The JSON syntax under the lockfile reader: a cursor that reads tokens,
// strings and numbers, skips whole values of any kind, and keeps the first
// error with its byte offset until it is reported as a line and a column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.hpp"
#include "common/scan.hpp"

namespace morvane::lockfile {

// The first error in a document, with the line (from 1) and the column (bytes
// after the last line feed before the error) where it was found.
struct JsonError {
  std::string message;
  std::size_t line = 0;
  std::size_t column = 0;

  // "<message> at line <line> column <column>"
  std::string display() const;
};

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

// The first byte of a number.
constexpr bool starts_number(char c) { return c == '-' || is_digit(c); }

// The bytes of one JSON number; it has been checked against the grammar.
struct Number {
  const char* begin;
  const char* end;
  bool negative;
  bool integral;  // no fraction and no exponent

  // The magnitude of an integral number when it fits 64 bits.
  bool integer_magnitude(std::uint64_t& out) const;
};

// A cursor over one JSON text. Every reading function returns false after
// recording the error; only a byte offset is kept until the error is built.
class JsonCursor {
 public:
  explicit JsonCursor(std::string_view text) : begin_(text.data()), end_(text.data() + text.size()), p_(begin_) {}

  JsonError error() const;

  // Bytes read so far, and bytes left to read.
  std::size_t bytes_read() const { return static_cast<std::size_t>(p_ - begin_); }
  std::size_t bytes_left() const { return static_cast<std::size_t>(end_ - p_); }

  // An error whose position counts the bytes up to the cursor.
  bool fail(std::string message) { return fail(std::move(message), p_); }
  // A syntax error at the byte under the cursor, which is counted, or at the
  // end of the text.
  bool syntax(Syntax s);
  // "invalid <what>: <found>, expected <expected>" (what: "type" or
  // "value"), up to the cursor.
  bool invalid(std::string_view what, std::string_view found, std::string_view expected) {
    return invalid(what, found, expected, p_);
  }
  // The schema's failures about a record's fields, up to the cursor:
  // "duplicate field `<name>`", "missing field `<name>`", and "invalid length
  // <found>, expected <record> with <count> element(s)" for an array form
  // that ends early.
  bool duplicate_field(std::string_view name);
  bool missing_field(std::string_view name);
  bool invalid_length(std::size_t found, std::string_view record, std::size_t count);

  void skip_whitespace() { p_ = skip_json_whitespace(p_, end_); }
  // Skips whitespace and reports whether a byte follows; at the end of the
  // text records `eof` and returns false. It runs before nearly every token,
  // inlined into each field's reader: as a call it costs more than its body.
  [[gnu::always_inline]] bool next_byte(Syntax eof) {
    skip_whitespace();
    return p_ < end_ || syntax(eof);
  }
  // The byte under the cursor; next_byte has found that there is one.
  char peek() const { return *p_; }
  // Only whitespace may follow the document.
  bool only_whitespace_left();

  // The cursor is on the first letter of `word`, already matched.
  bool literal(std::string_view word);
  bool colon();

  // The cursor is on the opening quote. Leaves the text in `out`: a view of
  // the input when it holds no escape, else of a decoded scratch buffer
  // (valid until the next string).
  bool string(std::string_view& out) {
    // Most strings hold no escape: one scan finds their closing quote.
    const char* const text = p_ + 1;
    p_ = find_string_special(text, end_);
    if (p_ != end_ && *p_ == '"') {
      out = std::string_view(text, static_cast<std::size_t>(p_ - text));
      ++p_;
      decoded_ = false;
      return true;
    }
    return string_with_escapes(text, out);
  }
  // Whether the last string read had escapes, so that its text is in the
  // scratch buffer.
  bool last_string_decoded() const { return decoded_; }

  // The cursor is on a minus sign or a digit. Checks the grammar (no leading
  // zeros, digits after the sign, the point and the exponent letter) and
  // leaves the cursor after the number.
  bool number(Number& n);
  // Correctly rounded. A value too small for a double reads as zero; one too
  // large is an error.
  bool to_double(const Number& n, double& out);
  // "integer `N`" for integers within the 64-bit ranges (-0 excepted), else
  // "floating point `X`" with X written as an audit score is.
  bool describe_number(const Number& n, std::string& out);

  // The cursor is on the first byte of a value that the field does not take:
  // reads the value (its own syntax errors come first) and reports what it is.
  bool reject(std::string_view expected);

  // Skips a value of any kind and depth, checked for well-formedness only.
  bool skip_value();

  // Members of an object whose '{' is under the cursor, up to and past its
  // '}': for each key (a view valid until the next string is read)
  // `on_member` reads the colon and the value.
  template <class OnMember>
  bool members(OnMember&& on_member) {
    ++p_;
    for (bool first = true;; first = false) {
      if (!next_byte(Syntax::EofObject)) return false;
      if (*p_ == '}') break;
      if (!first && !separator('}', Syntax::ExpectedObjectCommaOrEnd)) return false;
      if (*p_ != '"') return syntax(Syntax::KeyMustBeAString);
      std::string_view key;
      if (!string(key) || !on_member(key)) return false;
    }
    ++p_;
    return true;
  }

  // Elements of an array whose '[' is under the cursor, up to and past its
  // ']', each read by `on_element` given the element's index.
  template <class OnElement>
  bool elements(OnElement&& on_element) {
    ++p_;
    for (std::size_t index = 0;; ++index) {
      if (!next_byte(Syntax::EofList)) return false;
      if (*p_ == ']') break;
      if (index > 0 && !separator(']', Syntax::ExpectedListCommaOrEnd)) return false;
      if (!on_element(index)) return false;
    }
    ++p_;
    return true;
  }

 private:
  bool fail(std::string message, const char* counted_end);
  bool invalid(std::string_view what, std::string_view found, std::string_view expected, const char* counted_end);

  // The comma between two members or elements, and the byte after it, which
  // must not close the container.
  bool separator(char close, Syntax expected) {
    if (*p_ != ',') return syntax(expected);
    ++p_;
    if (!next_byte(Syntax::EofValue)) return false;
    return *p_ != close || syntax(Syntax::TrailingComma);
  }
  // The rest of string(): the text began at `run`, and the cursor is on the
  // first byte after it that is no plain text (or at the end).
  bool string_with_escapes(const char* run, std::string_view& out);
  bool escape();
  bool unicode_escape();
  // The cursor is on the first byte of a value that is not an object or an
  // array: reads it and, when `found` is given, says what it is.
  bool scalar(std::string* found);
  bool hex4(std::uint32_t& out);
  bool digits();
  bool skip_key();

  const char* const begin_;
  const char* const end_;
  const char* p_;

  std::string scratch_;     // decoded text of the last string with escapes
  bool decoded_ = false;    // the last string had escapes
  std::vector<char> open_;  // closing brackets of the containers open while skipping a value

  std::string error_message_;
  std::size_t error_offset_ = 0;
};

}  // namespace morvane::lockfile
