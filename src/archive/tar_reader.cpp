#include "archive/tar_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>

#include "common/utf8.hpp"

namespace morvane::archive {

namespace {

constexpr std::size_t block_bytes = 512;
// Decompressed bytes are staged here; file data is written straight out of it,
// so it also sets the largest write.
constexpr std::size_t buffer_bytes = 256 * 1024;

constexpr const char* eof_in_block_text = "failed to read entire block";
constexpr const char* eof_in_data_text = "unexpected EOF during skip";
constexpr const char* checksum_mismatch_text = "archive header checksum mismatch";
constexpr const char* orphan_records_text = "members found describing a future member but no future member found";
constexpr const char* two_long_names_text = "two long name entries describing the same member";
constexpr const char* two_pax_text = "two pax extensions entries describing the same member";
constexpr const char* size_overflow_text = "size overflow";
constexpr const char* sparse_not_gnu_text = "sparse entry type listed but not GNU header";
constexpr const char* skipped_limit_text = "skipped entry data exceeds 1GB limit";
constexpr const char* long_name_limit_text = "GNU long name record exceeds 1MB limit";
constexpr const char* long_link_limit_text = "GNU long link record exceeds 1MB limit";
constexpr const char* pax_limit_text = "pax extended header exceeds 1MB limit";
// Followed by the record's value.
constexpr const char* pax_size_text = "pax size record is not a number: ";
// Followed by the field's text, then " when getting ", the field's name,
// " for " and the entry path.
constexpr const char* numeric_not_utf8_text = "numeric field did not have utf-8 text: ";
constexpr const char* numeric_not_number_text = "numeric field was not a number: ";

// Header block layout (POSIX ustar; GNU reuses the prefix area for its own fields).
constexpr std::size_t name_at = 0, name_len = 100;
constexpr std::size_t size_at = 124, size_len = 12;
constexpr std::size_t checksum_at = 148, checksum_len = 8;
constexpr std::size_t type_at = 156;
constexpr std::size_t magic_at = 257;
constexpr std::size_t prefix_at = 345, prefix_len = 155;
// GNU sparse headers: "is extended" flag in the header and in each extension block.
constexpr std::size_t gnu_extended_at = 482;
constexpr std::size_t gnu_extension_extended_at = 504;

enum class Format { Old, Ustar, Gnu };

template <std::size_t N>
std::string_view field(const std::array<unsigned char, N>& b, std::size_t at, std::size_t len) {
  return {reinterpret_cast<const char*>(b.data()) + at, len};
}

// A text field ends at its first NUL byte, or fills the field.
std::string_view up_to_nul(std::string_view f) { return f.substr(0, f.find('\0')); }

Format format_of(const std::array<unsigned char, block_bytes>& h) {
  // POSIX: "ustar" NUL then version "00"; GNU: "ustar" then two spaces and a NUL.
  const std::string_view magic = field(h, magic_at, 8);
  if (magic == std::string_view("ustar  \0", 8)) return Format::Gnu;
  if (magic == std::string_view("ustar\0" "00", 8)) return Format::Ustar;
  return Format::Old;
}

// The entry path as the header block alone gives it.
void append_header_path(std::string& out, const std::array<unsigned char, block_bytes>& h) {
  const std::string_view name = up_to_nul(field(h, name_at, name_len));
  if (format_of(h) == Format::Ustar) {
    const std::string_view prefix = up_to_nul(field(h, prefix_at, prefix_len));
    if (!prefix.empty()) {
      out.append(prefix);
      out.push_back('/');
    }
  }
  out.append(name);
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool all_zero(const std::array<unsigned char, block_bytes>& h) {
  return std::all_of(h.begin(), h.end(), [](unsigned char c) { return c == 0; });
}

std::uint64_t padding_of(std::uint64_t n) { return (block_bytes - n % block_bytes) % block_bytes; }

// Walks the records of a pax extended header ("LEN KEY=VALUE\n", LEN counting
// the whole record) and returns the value of the first record with `key`.
// A record with a readable length but no "=" or no final newline is passed
// over; an unreadable length ends the walk.
std::optional<std::string_view> pax_value(std::string_view pax, std::string_view key) {
  std::size_t pos = 0;
  while (pos < pax.size()) {
    const std::size_t start = pos;
    const std::size_t space = pax.find(' ', start);
    if (space == std::string_view::npos || space == start) return std::nullopt;
    std::size_t len = 0;
    const auto [stop, ec] = std::from_chars(pax.data() + start, pax.data() + space, len);
    if (ec != std::errc{} || stop != pax.data() + space) return std::nullopt;
    const std::size_t head = space - start + 1;  // the length digits and their space
    if (len <= head || len > pax.size() - start) return std::nullopt;
    pos = start + len;
    const std::string_view record = pax.substr(start, len);
    if (record.back() != '\n') continue;
    const std::string_view body = record.substr(head, len - head - 1);
    const std::size_t eq = body.find('=');
    if (eq == std::string_view::npos) continue;
    if (body.substr(0, eq) == key) return body.substr(eq + 1);
  }
  return std::nullopt;
}

}  // namespace

TarReader::TarReader(ByteSource& source) : source_(source), buffer_(new unsigned char[buffer_bytes]) {}

bool TarReader::fail(std::string text) {
  if (!error_) error_ = PackageError::io(std::move(text));
  return false;
}

PackageResult<const TarEntry*> TarReader::next() {
  const TarEntry* entry = failed() ? nullptr : read_entry();
  if (failed()) return std::unexpected(*error_);
  return entry;
}

PackageResult<std::span<const unsigned char>> TarReader::data_chunk() {
  if (remaining_ > 0 && begin_ == end_) refill_for_data();
  if (failed()) return std::unexpected(*error_);
  const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, end_ - begin_));
  const std::span<const unsigned char> piece{buffer_.get() + begin_, take};
  begin_ += take;
  remaining_ -= take;
  return piece;
}

const TarEntry* TarReader::read_entry() {
  // What is left of the current entry: its data counts as skipped, its padding does not.
  count_skipped(remaining_);
  skip(remaining_ + padding_);
  remaining_ = padding_ = 0;

  for (;;) {
    const bool got = read_block(header_);
    if (failed()) return nullptr;
    // The archive ends at the first all-zero block, or where the stream ends
    // on a block boundary.
    if (!got || all_zero(header_)) {
      if (has_long_name_ || has_long_link_ || has_pax_) fail(orphan_records_text);
      return nullptr;
    }
    advance_position(block_bytes);

    // The checksum counts its own field as eight spaces.
    const std::uint64_t stored = parse_octal(field(header_, checksum_at, checksum_len), "cksum");
    std::uint64_t sum = 8 * std::uint64_t(' ');
    for (std::size_t i = 0; i < block_bytes; ++i) {
      if (i < checksum_at || i >= checksum_at + checksum_len) sum += header_[i];
    }
    if (sum != stored) fail(checksum_mismatch_text);
    const std::uint64_t size = parse_size();
    const Format format = format_of(header_);
    const unsigned char type = header_[type_at];
    if (type == 'S' && format != Format::Gnu) fail(sparse_not_gnu_text);
    if (failed()) return nullptr;

    // Long-name, long-link and pax records describe the next real entry; old
    // (pre-ustar) headers with these flags are ordinary entries.
    if (format != Format::Old && (type == 'L' || type == 'K' || type == 'x')) {
      if (!read_metadata(type, size)) return nullptr;
      continue;
    }

    entry_.type = type;
    entry_.header_size = size;
    entry_.data_size = size;
    entry_.path.clear();
    if (has_long_name_) {
      std::string_view name = long_name_;
      if (!name.empty() && name.back() == '\0') name.remove_suffix(1);
      entry_.path.assign(name);
    } else {
      append_header_path(entry_.path, header_);
    }
    if (has_pax_) apply_pax();
    has_long_name_ = has_long_link_ = has_pax_ = false;

    // An old-style GNU sparse header may be followed by extension blocks that
    // carry more of the sparse map, ahead of the data.
    if (type == 'S' && header_[gnu_extended_at] != 0) {
      Block extension;
      do {
        if (!read_block(extension)) fail(eof_in_block_text);
        advance_position(block_bytes);
        count_skipped(block_bytes);
      } while (!failed() && extension[gnu_extension_extended_at] != 0);
    }

    advance_position(entry_.data_size);
    if (failed()) return nullptr;
    remaining_ = entry_.data_size;
    padding_ = padding_of(entry_.data_size);
    return &entry_;
  }
}

// Keeps a long-name, long-link or pax record for the next real entry.
bool TarReader::read_metadata(unsigned char type, std::uint64_t size) {
  bool& seen = type == 'L' ? has_long_name_ : type == 'K' ? has_long_link_ : has_pax_;
  if (seen) return fail(type == 'x' ? two_pax_text : two_long_names_text);
  if (size > max_metadata_record_bytes) {
    return fail(type == 'L' ? long_name_limit_text : type == 'K' ? long_link_limit_text : pax_limit_text);
  }
  advance_position(size);
  count_skipped(size);
  // Link targets are never used (links are refused), so a long link is only read past.
  if (type == 'K') {
    skip(size);
  } else {
    read_record(size, type == 'L' ? long_name_ : pax_);
  }
  skip(padding_of(size));
  seen = true;
  return !failed();
}

void TarReader::apply_pax() {
  if (!has_long_name_) {
    if (auto path = pax_value(pax_, "path")) entry_.path.assign(*path);
  }
  const auto size = pax_value(pax_, "size");
  if (!size) return;
  // Decimal digits only: no sign, no white space.
  std::uint64_t value = 0;
  const char* const end = size->data() + size->size();
  const auto [stop, ec] = std::from_chars(size->data(), end, value);
  if (ec != std::errc{} || stop != end) {
    std::string text = pax_size_text;
    append_utf8_lossy(text, *size);
    fail(std::move(text));
    return;
  }
  entry_.data_size = value;
}

// An octal numeric field: text up to the first NUL, surrounding white space
// allowed. `what` names the field in the failure text.
std::uint64_t TarReader::parse_octal(std::string_view f, const char* what) {
  const std::string_view text = up_to_nul(f);
  auto refuse = [&](const char* problem) {
    std::string out = problem;
    append_utf8_lossy(out, text);
    out += " when getting ";
    out += what;
    out += " for ";
    std::string path;
    append_header_path(path, header_);
    append_utf8_lossy(out, path);
    fail(std::move(out));
    return std::uint64_t{0};
  };
  if (!is_valid_utf8(text)) return refuse(numeric_not_utf8_text);
  const char* first = text.data();
  const char* last = text.data() + text.size();
  while (first < last && is_space(*first)) ++first;
  while (last > first && is_space(last[-1])) --last;
  // Octal digits only between the spaces: no sign, and no value past 64 bits.
  std::uint64_t value = 0;
  const auto [stop, ec] = std::from_chars(first, last, value, 8);
  if (ec != std::errc{} || stop != last) return refuse(numeric_not_number_text);
  return value;
}

// The size field: octal text, or, when its first byte has the high bit set, a
// big-endian binary number in its last eight bytes (the GNU base-256 form).
std::uint64_t TarReader::parse_size() {
  if (header_[size_at] & 0x80) {
    std::uint64_t value = 0;
    for (std::size_t i = size_at + size_len - 8; i < size_at + size_len; ++i) value = value << 8 | header_[i];
    return value;
  }
  return parse_octal(field(header_, size_at, size_len), "size");
}

std::size_t TarReader::read_source(std::span<unsigned char> into) {
  if (failed()) return 0;
  auto got = source_.read(into);
  // The source's failure is the reader's first: none is recorded yet.
  if (!got) error_ = std::move(got.error());
  return got.value_or(0);
}

std::size_t TarReader::buffer_at_least(std::size_t n) {
  if (end_ - begin_ >= n) return end_ - begin_;
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  while (end_ < n) {
    const std::size_t got = read_source({buffer_.get() + end_, buffer_bytes - end_});
    if (got == 0) break;
    end_ += got;
  }
  return end_;
}

bool TarReader::read_block(Block& block) {
  const std::size_t have = buffer_at_least(block_bytes);
  if (failed() || have == 0) return false;
  if (have < block_bytes) return fail(eof_in_block_text);
  std::memcpy(block.data(), buffer_.get() + begin_, block_bytes);
  begin_ += block_bytes;
  return true;
}

bool TarReader::refill_for_data() {
  begin_ = end_ = 0;
  end_ = read_source({buffer_.get(), buffer_bytes});
  return end_ > 0 || fail(eof_in_data_text);
}

void TarReader::skip(std::uint64_t n) {
  for (;;) {
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(n, end_ - begin_));
    begin_ += take;
    n -= take;
    if (n == 0 || !refill_for_data()) return;
  }
}

void TarReader::read_record(std::uint64_t size, std::string& into) {
  into.resize(static_cast<std::size_t>(size));
  for (std::size_t filled = 0; filled < into.size();) {
    if (begin_ == end_ && !refill_for_data()) return;
    const std::size_t take = std::min(into.size() - filled, end_ - begin_);
    std::memcpy(into.data() + filled, buffer_.get() + begin_, take);
    begin_ += take;
    filled += take;
  }
}

void TarReader::count_skipped(std::uint64_t n) {
  if (n > max_skipped_bytes - skipped_) {
    fail(skipped_limit_text);
  } else {
    skipped_ += n;
  }
}

void TarReader::advance_position(std::uint64_t data_size) {
  // The data and its padding, added to the position, must not wrap around.
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  if (data_size > max - (block_bytes - 1) || data_size + padding_of(data_size) > max - position_) {
    fail(size_overflow_text);
  } else {
    position_ += data_size + padding_of(data_size);
  }
}

}  // namespace morvane::archive
