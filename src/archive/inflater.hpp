// A raw-deflate inflater (RFC 1951, no wrapper): ISA-L where the build has it
// (zlib-ng reading what ISA-L finds damaged or cut off), else zlib-ng, else
// the system's zlib. All decode the same streams to the same bytes and stop
// at the same point of a damaged or cut-off stream; zlib-ng takes about half
// zlib's time, ISA-L about two thirds of zlib-ng's. Which one a build has is
// chosen when it is configured; nothing here depends on it but inflater.cpp.
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
  // consumed and produced. The input of a stream is one buffer, handed over
  // in pieces, each starting where the last call left `in`: after End, `in`
  // begins at the first byte after the deflate data, which may lie before
  // the piece given (an inflater that read ahead gives those bytes back).
  // Output decoded from input already consumed may be held back when `out`
  // is full; it comes out on the next call, even with no input. Needs a
  // successful start().
  Status inflate(std::span<const unsigned char>& in, std::span<unsigned char>& out);

  // Tells the inflater that the input given so far is all there is, once
  // inflate() has used it up and said NeedInput. True if it has more to say
  // about that input (call inflate() again, with no input, until it says
  // NeedInput again, or Corrupt); false if not. Some inflaters decode the
  // last bits of input only once they know no more follows.
  bool input_ends();

  // CRC-32 (the gzip one) of `bytes`, continuing from `crc`.
  static std::uint32_t crc32(std::uint32_t crc, std::span<const unsigned char> bytes);

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};

}  // namespace morvane::archive
