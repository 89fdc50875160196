// The build's inflater (zlib-ng) against the system's zlib, on any bytes as
// raw deflate data.
//
// Both are fed the same way the gzip reader feeds its inflater: input through
// a window refilled when used up, output into pieces of varied size. Whatever
// the bytes, the two must produce exactly the same output, and end the same
// way: at the same offset after the last block, or both cut off (input used
// up inside the data), or both refusing the data as corrupt after the same
// output. So every byte before damage that zlib hands out, the build's
// inflater hands out too, and no other.
//
// The first byte chooses the sizes: its low three bits the output pieces,
// the next three the input window, and bit 6 whether the output size changes
// from call to call. The rest is the deflate data.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "archive/inflater.hpp"

namespace {

using morvane::archive::Inflater;
using Status = Inflater::Status;

// Deflate expands up to about a thousand times; past this much output
// neither side is followed further.
constexpr std::size_t max_output_bytes = 16 * 1024 * 1024;

constexpr std::size_t tiny_pieces_bytes = 64 * 1024;
constexpr std::array<std::size_t, 8> output_sizes = {1, 2, 3, 7, 258, 4096, 32768, 65536};
constexpr std::array<std::size_t, 8> window_sizes = {1, 2, 5, 64, 1024, 32768, 7, std::size_t(-1)};

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "inflaters disagree: %s\n", what);
  std::abort();
}

// zlib, driven through the same interface as the build's inflater.
class ZlibInflater {
 public:
  ZlibInflater() {
    if (inflateInit2(&zs_, -MAX_WBITS) != Z_OK) fail("zlib cannot start");
  }
  ~ZlibInflater() { inflateEnd(&zs_); }
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;

  bool input_ends() { return false; }

  Status inflate(std::span<const unsigned char>& in, std::span<unsigned char>& out) {
    zs_.next_in = const_cast<unsigned char*>(in.data());
    zs_.avail_in = static_cast<uInt>(in.size());
    zs_.next_out = out.data();
    zs_.avail_out = static_cast<uInt>(out.size());
    const int rc = ::inflate(&zs_, Z_NO_FLUSH);
    in = in.subspan(in.size() - zs_.avail_in);
    out = out.subspan(out.size() - zs_.avail_out);
    switch (rc) {
      case Z_OK: return Status::Progress;
      case Z_STREAM_END: return Status::End;
      case Z_BUF_ERROR: return Status::NeedInput;
      case Z_MEM_ERROR: return Status::NoMemory;
      default: return Status::Corrupt;
    }
  }

 private:
  z_stream zs_{};
};

enum class Ending { End, CutOff, Corrupt, Capped };

struct Run {
  std::vector<unsigned char> bytes;
  Ending ending = Ending::Corrupt;
  std::size_t end_offset = 0;  // where the deflate data ended, for Ending::End
};

template <typename Decoder>
Run run(Decoder& decoder, std::span<const unsigned char> data, unsigned char sizes) {
  const std::size_t window_size = window_sizes[(sizes >> 3) & 7];
  const bool varied = sizes & 0x40;
  Run result;
  std::vector<unsigned char> buffer(output_sizes.back());
  std::span<const unsigned char> window = data.first(0);
  for (std::size_t call = 0;; ++call) {
    if (window.empty()) {
      const std::size_t next = static_cast<std::size_t>(window.data() - data.data());
      window = data.subspan(next, std::min(data.size() - next, window_size));
    }
    // Tiny pieces cost a call per byte; past the first stretch of output
    // they give way to larger ones, so that long outputs stay quick.
    std::size_t want = output_sizes[(sizes + (varied ? call : 0)) & 7];
    if (result.bytes.size() > tiny_pieces_bytes) want = std::max<std::size_t>(want, 4096);
    std::span<unsigned char> room = std::span(buffer).first(want);
    const Status status = decoder.inflate(window, room);
    result.bytes.insert(result.bytes.end(), buffer.begin(),
                        buffer.begin() + static_cast<std::ptrdiff_t>(want - room.size()));
    if (result.bytes.size() > max_output_bytes) {
      result.ending = Ending::Capped;
      return result;
    }
    switch (status) {
      case Status::Progress: continue;
      case Status::End:
        result.ending = Ending::End;
        result.end_offset = static_cast<std::size_t>(window.data() - data.data());
        return result;
      case Status::NeedInput:
        if (!window.empty()) fail("no progress with input and room left");
        if (window.data() != data.data() + data.size() || decoder.input_ends()) continue;
        result.ending = Ending::CutOff;
        return result;
      case Status::NoMemory: fail("out of memory");
      case Status::Corrupt: result.ending = Ending::Corrupt; return result;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
  if (size == 0) return 0;
  const unsigned char sizes = raw[0];
  const std::span<const unsigned char> data(raw + 1, size - 1);

  Inflater ours;
  if (!ours.start()) fail("the build's inflater cannot start");
  const Run a = run(ours, data, sizes);
  ZlibInflater zlib;
  const Run b = run(zlib, data, sizes);

  if (a.ending == Ending::Capped || b.ending == Ending::Capped) {
    // One side reached the cap first; up to there the bytes agree.
    const std::size_t common = std::min(a.bytes.size(), b.bytes.size());
    if (!std::equal(a.bytes.begin(), a.bytes.begin() + static_cast<std::ptrdiff_t>(common), b.bytes.begin()))
      fail("different bytes");
    return 0;
  }
  if (a.ending != b.ending || a.bytes.size() != b.bytes.size())
    std::fprintf(stderr, "the build's inflater: ending %d after %zu bytes; zlib: ending %d after %zu bytes\n",
                 static_cast<int>(a.ending), a.bytes.size(), static_cast<int>(b.ending), b.bytes.size());
  if (a.ending != b.ending) fail("different endings");
  if (a.ending == Ending::End && a.end_offset != b.end_offset) fail("different end offsets");
  if (a.bytes != b.bytes) fail(a.bytes.size() != b.bytes.size() ? "different byte counts" : "different bytes");

  // The same inflater, started again, reads the same data the same way.
  if (!ours.start()) fail("the build's inflater cannot restart");
  const Run again = run(ours, data, sizes);
  if (again.ending != a.ending || again.bytes != a.bytes) fail("a restarted inflater reads differently");
  return 0;
}
