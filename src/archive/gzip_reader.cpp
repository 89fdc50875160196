#include "archive/gzip_reader.hpp"

#include <algorithm>
#include <cstring>

namespace morvane::archive {

namespace {

// The inflater reads the caller's bytes in place; it is handed at most this many at a time.
constexpr std::size_t input_window_bytes = 32 * 1024;
// The zero-terminated file name and comment fields may hold at most this many
// bytes before their terminator.
constexpr std::size_t max_header_field_bytes = 65'535;

constexpr const char* eof_text = "unexpected end of file";
constexpr const char* bad_header_text = "invalid gzip header";
constexpr const char* checksum_text = "corrupt gzip stream does not have a matching checksum";
constexpr const char* field_too_long_text = "gzip header field too long";
constexpr const char* corrupt_deflate_text = "corrupt deflate stream";
constexpr const char* no_memory_text = "out of memory while decompressing";
constexpr const char* no_inflater_text = "cannot initialise the decompressor";

// Member header flags (RFC 1952, section 2.3.1).
constexpr unsigned char flag_hcrc = 0x02;
constexpr unsigned char flag_extra = 0x04;
constexpr unsigned char flag_name = 0x08;
constexpr unsigned char flag_comment = 0x10;
constexpr unsigned char flag_reserved = 0xe0;

std::uint32_t load_le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

}  // namespace

GzipReader::GzipReader(std::span<const unsigned char> data) : data_(data) {}

GzipReader::~GzipReader() = default;

bool GzipReader::parse_header() {
  const unsigned char* const start = data_.data() + member_start_;
  const unsigned char* p = start;
  const unsigned char* const end = data_.data() + data_.size();
  auto left = [&] { return static_cast<std::size_t>(end - p); };

  // ID1 ID2 CM FLG MTIME(4) XFL OS: the fixed ten bytes come first, whole.
  if (left() < 10) return fail(eof_text);
  if (p[0] != 0x1f || p[1] != 0x8b || p[2] != 8) return fail(bad_header_text);
  const unsigned char flags = p[3];
  if (flags & flag_reserved) return fail(bad_header_text);
  p += 10;

  if (flags & flag_extra) {
    if (left() < 2) return fail(eof_text);
    const std::size_t xlen = std::size_t(p[0]) | std::size_t(p[1]) << 8;
    p += 2;
    if (left() < xlen) return fail(eof_text);
    p += xlen;
  }
  for (const unsigned char field : {flag_name, flag_comment}) {
    if (!(flags & field)) continue;
    const std::size_t window = std::min(left(), max_header_field_bytes + 1);
    const void* nul = std::memchr(p, 0, window);
    if (nul == nullptr) return fail(left() > max_header_field_bytes ? field_too_long_text : eof_text);
    p = static_cast<const unsigned char*>(nul) + 1;
  }
  if (flags & flag_hcrc) {
    if (left() < 2) return fail(eof_text);
    // The header CRC is the low half of the CRC-32 of every header byte before it.
    const std::uint32_t crc = Inflater::crc32(0, std::span(start, p));
    const std::uint32_t stored = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
    if ((crc & 0xffffu) != stored) return fail(checksum_text);
    p += 2;
  }

  // Raw deflate: the gzip wrapper is handled here, not by the inflater.
  if (!inflater_.start()) return fail(no_inflater_text);
  window_ = std::span(p, std::size_t{0});
  crc_ = 0;
  length_ = 0;
  state_ = State::Body;
  return true;
}

bool GzipReader::finish() {
  // CRC32 then ISIZE, both little-endian, straight after the deflate data.
  const unsigned char* p = window_.data();
  const auto left = static_cast<std::size_t>(data_.data() + data_.size() - p);
  if (left < 8) return fail(eof_text);
  if (load_le32(p) != crc_ || load_le32(p + 4) != length_) return fail(checksum_text);
  // Another member follows only where the magic says so; anything else
  // after the last member (zero padding, say) is not examined.
  member_start_ = static_cast<std::size_t>(p + 8 - data_.data());
  const bool another = data_.size() - member_start_ >= 2 && data_[member_start_] == 0x1f &&
                       data_[member_start_ + 1] == 0x8b;
  state_ = another ? State::Header : State::Done;
  return true;
}

bool GzipReader::fail(const char* text) {
  if (!error_) error_ = PackageError::io(text);
  return false;
}

PackageResult<std::size_t> GzipReader::read(std::span<unsigned char> out) {
  const std::size_t produced = error_ ? 0 : inflate_into(out);
  if (produced == 0 && error_) return std::unexpected(*error_);
  return produced;
}

std::size_t GzipReader::inflate_into(std::span<unsigned char> out) {
  for (;;) {
    if (state_ == State::Trailer && !finish()) return 0;
    if (state_ == State::Header && !parse_header()) return 0;
    if (state_ != State::Body || out.empty()) return 0;
    const std::size_t produced = inflate_member(out);
    // A member that ends before giving this read anything hands over to the
    // next one, if there is one (an empty member gives nothing at all).
    if (produced > 0 || state_ != State::Trailer) return produced;
  }
}

std::size_t GzipReader::inflate_member(std::span<unsigned char> out) {
  const unsigned char* const end = data_.data() + data_.size();
  std::span<unsigned char> room = out;
  while (!room.empty()) {
    // With the window used up, the inflater still runs: it may hold output
    // decoded from bytes it has already consumed (the rest of a match that
    // did not fit the previous read).
    if (window_.empty()) {
      const unsigned char* next = window_.data() + window_.size();
      window_ = std::span(next, std::min(static_cast<std::size_t>(end - next), input_window_bytes));
    }
    const Inflater::Status status = inflater_.inflate(window_, room);
    if (status == Inflater::Status::End) {
      state_ = State::Trailer;
      break;
    }
    if (status == Inflater::Status::Progress) continue;
    // Nothing could be done for want of input: the next window brings more.
    // (With input and room for output left, the inflater always progresses;
    // if it ever did not, the stream is reported corrupt below rather than
    // tried again without end.)
    const bool input_used_up = status == Inflater::Status::NeedInput && window_.empty();
    if (input_used_up && (window_.data() != end || inflater_.input_ends())) continue;
    // Otherwise the input ended inside the deflate data, or the data is damaged.
    if (input_used_up) fail(eof_text);
    else if (status == Inflater::Status::NoMemory) fail(no_memory_text);
    else fail(corrupt_deflate_text);
    break;
  }
  const auto produced = out.first(out.size() - room.size());
  crc_ = Inflater::crc32(crc_, produced);
  length_ += static_cast<std::uint32_t>(produced.size());
  return produced.size();
}

}  // namespace morvane::archive
