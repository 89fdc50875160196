// Streaming reader of a gzip stream (RFC 1952) held in memory: one member, or
// several back to back, read as one stream of bytes.
//
// Member headers are parsed here; the deflate bodies go through a raw
// inflater (archive/inflater.hpp), fed from the caller's bytes in place
// through a fixed input window.
// Bytes after a member that do not begin with the gzip magic are not a member
// and are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "archive/byte_source.hpp"
#include "archive/inflater.hpp"

namespace morvane::archive {

class GzipReader : public ByteSource {
 public:
  explicit GzipReader(std::span<const unsigned char> data);
  ~GzipReader() override;
  GzipReader(const GzipReader&) = delete;
  GzipReader& operator=(const GzipReader&) = delete;

  // Decompresses up to out.size() bytes into out and returns how many were
  // produced. Returns 0 only at the end of the last member, after its trailer
  // has been checked; a trailer is examined only when a read asks for bytes
  // past the last one its member holds.
  PackageResult<std::size_t> read(std::span<unsigned char> out) override;

 private:
  enum class State { Header, Body, Trailer, Done };

  // Records the first failure; returns false.
  bool fail(const char* text);
  std::size_t inflate_into(std::span<unsigned char> out);
  // Inflates the current member's body until `out` is full or the body ends.
  std::size_t inflate_member(std::span<unsigned char> out);
  bool parse_header();
  // Checks the trailer and ends the member: the next one follows, or the stream ends.
  bool finish();

  std::span<const unsigned char> data_;
  std::size_t member_start_ = 0;  // offset in data_ of the current member's header
  State state_ = State::Header;
  Inflater inflater_;
  // The part of data_ handed to the inflater and not yet consumed by it. The
  // next window starts where this one ends; after a member's body it begins
  // at the trailer.
  std::span<const unsigned char> window_;
  std::uint32_t crc_ = 0;
  std::uint32_t length_ = 0;  // decompressed length modulo 2^32, as the trailer stores it
  // The first failure, reported by every read from then on. One met after
  // some bytes were produced waits for the next read, so that every byte
  // before the damage reaches the caller.
  std::optional<PackageError> error_;
};

}  // namespace morvane::archive
