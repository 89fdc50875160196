// A raw-deflate inflater (RFC 1951, no wrapper): zlib-ng where the build has
// it, the system's zlib otherwise. Both decode the same streams to the same
// bytes and stop at the same point of a damaged or cut-off stream; zlib-ng
// takes about half the time. Which one a build has is chosen when it is
// configured; nothing here depends on it but inflater.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace morvane::archive {

class Inflater {
 public:
  enum class Status {
    Progress,   // room for output or input ran out; call again with more
    End,        // the last block is decoded and every byte of it handed out
    NeedInput,  // nothing could be done: the input given is used up
    Corrupt,    // the bytes are not deflate data
    NoMemory,
  };

  Inflater();
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Makes the inflater ready for a new stream (the first call sets up the
  // library's state, later ones reset it). False if that cannot be done.
  bool start();

  // Decodes from `in` into `out`, and moves the front of each past what was
  // consumed and produced. After End, `in` begins at the first byte after the
  // deflate data. Output decoded from input already consumed may be held
  // back when `out` is full; it comes out on the next call, even with no
  // input. Needs a successful start().
  Status inflate(std::span<const unsigned char>& in, std::span<unsigned char>& out);

  // CRC-32 (the gzip one) of `bytes`, continuing from `crc`.
  static std::uint32_t crc32(std::uint32_t crc, std::span<const unsigned char> bytes);

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};

}  // namespace morvane::archive
