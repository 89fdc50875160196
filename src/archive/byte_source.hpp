// A stream of bytes pulled in pieces: the gzip reader, or a reader that runs
// one ahead of its consumer on another thread.
#pragma once

#include <cstddef>
#include <expected>
#include <span>
#include <string>

namespace morvane::archive {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Fills the front of `out` and returns how many bytes were written there:
  // at least one while the stream lasts, 0 at its end. Failures are described
  // by their display text; every byte before a failure is delivered first.
  virtual std::expected<std::size_t, std::string> read(std::span<unsigned char> out) = 0;

 protected:
  ByteSource() = default;
  ByteSource(const ByteSource&) = default;
  ByteSource& operator=(const ByteSource&) = default;
};

}  // namespace morvane::archive
