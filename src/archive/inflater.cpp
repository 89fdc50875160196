#include "archive/inflater.hpp"

#include <algorithm>
#include <limits>

#if MORVANE_ZLIB_NG
#include <zlib-ng.h>
#else
#include <zlib.h>
#endif

namespace morvane::archive {

// The two libraries differ only in names: zlib-ng's own interface prefixes
// them and takes fixed-width types.
#if MORVANE_ZLIB_NG
using ZStream = zng_stream;
constexpr auto inflate_init_raw = [](ZStream* s) { return zng_inflateInit2(s, -MAX_WBITS); };
constexpr auto inflate_reset = zng_inflateReset;
constexpr auto inflate_step = zng_inflate;
constexpr auto inflate_end = zng_inflateEnd;
constexpr auto crc32_of = zng_crc32_z;
#define INFLATER_TEXT "zlib-ng " ZLIBNG_VERSION
#else
using ZStream = z_stream;
constexpr auto inflate_init_raw = [](ZStream* s) { return inflateInit2(s, -MAX_WBITS); };
constexpr auto inflate_reset = ::inflateReset;
constexpr auto inflate_step = ::inflate;
constexpr auto inflate_end = ::inflateEnd;
constexpr auto crc32_of = ::crc32_z;
// The version of the headers the build saw (a shared zlib may be newer).
#define INFLATER_TEXT "zlib " ZLIB_VERSION
#endif

// Which inflater this build has, kept in the library's read-only data, where
// a reader of the file's bytes finds it ("morvane_core inflater: zlib-ng
// 2.3.3"); stripping removes symbols, not data. The module adds no name for it.
[[gnu::used, gnu::retain]] constexpr char build_inflater[] = "morvane_core inflater: " INFLATER_TEXT;

struct Inflater::Stream {
  ZStream zs{};
  bool ready = false;

  ~Stream() {
    if (ready) inflate_end(&zs);
  }
};

Inflater::Inflater() : stream_(std::make_unique<Stream>()) {}

Inflater::~Inflater() = default;

bool Inflater::start() {
  Stream& s = *stream_;
  if (s.ready) return inflate_reset(&s.zs) == Z_OK;
  s.zs = ZStream{};
  s.ready = inflate_init_raw(&s.zs) == Z_OK;
  return s.ready;
}

// The most bytes handed to the library at a time on either side: its counts
// are 32-bit. A caller with more sees a Progress and calls again.
constexpr std::size_t max_bytes_per_call = std::size_t{1} << 30;
static_assert(max_bytes_per_call <= std::numeric_limits<decltype(ZStream::avail_in)>::max() &&
              max_bytes_per_call <= std::numeric_limits<decltype(ZStream::avail_out)>::max());

Inflater::Status Inflater::inflate(std::span<const unsigned char>& in, std::span<unsigned char>& out) {
  ZStream& zs = stream_->zs;
  const std::size_t in_given = std::min(in.size(), max_bytes_per_call);
  const std::size_t out_given = std::min(out.size(), max_bytes_per_call);
  zs.next_in = const_cast<unsigned char*>(in.data());
  zs.avail_in = static_cast<decltype(zs.avail_in)>(in_given);
  zs.next_out = out.data();
  zs.avail_out = static_cast<decltype(zs.avail_out)>(out_given);
  const int rc = inflate_step(&zs, Z_NO_FLUSH);
  in = in.subspan(in_given - zs.avail_in);
  out = out.subspan(out_given - zs.avail_out);
  switch (rc) {
    case Z_OK: return Status::Progress;
    case Z_STREAM_END: return Status::End;
    case Z_BUF_ERROR: return Status::NeedInput;
    case Z_MEM_ERROR: return Status::NoMemory;
    default: return Status::Corrupt;  // Z_DATA_ERROR; Z_NEED_DICT cannot occur in raw deflate
  }
}

std::uint32_t Inflater::crc32(std::uint32_t crc, std::span<const unsigned char> bytes) {
  return static_cast<std::uint32_t>(crc32_of(crc, bytes.data(), bytes.size()));
}

}  // namespace morvane::archive
