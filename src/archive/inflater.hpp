// The raw-deflate inflater under the gzip reader: zlib-ng's own interface
// where the build has it, zlib's otherwise. Both decode the same streams to
// the same bytes and fail at the same point with the same codes; only the
// names differ, and zlib-ng takes about half the time.
#pragma once

#include <cstddef>
#include <cstdint>

#if MORVANE_ZLIB_NG
#include <zlib-ng.h>
#else
#include <zlib.h>
#endif

namespace morvane::archive::inflater {

#if MORVANE_ZLIB_NG
using Stream = zng_stream;
inline int init_raw(Stream* s) { return zng_inflateInit2(s, -MAX_WBITS); }
inline int reset(Stream* s) { return zng_inflateReset(s); }
inline int inflate(Stream* s) { return zng_inflate(s, Z_NO_FLUSH); }
inline void end(Stream* s) { zng_inflateEnd(s); }
inline std::uint32_t crc32(std::uint32_t crc, const unsigned char* p, std::size_t n) {
  return zng_crc32_z(crc, p, n);
}
#else
using Stream = z_stream;
inline int init_raw(Stream* s) { return ::inflateInit2(s, -MAX_WBITS); }
inline int reset(Stream* s) { return ::inflateReset(s); }
inline int inflate(Stream* s) { return ::inflate(s, Z_NO_FLUSH); }
inline void end(Stream* s) { ::inflateEnd(s); }
inline std::uint32_t crc32(std::uint32_t crc, const unsigned char* p, std::size_t n) {
  return static_cast<std::uint32_t>(::crc32_z(crc, p, n));
}
#endif

}  // namespace morvane::archive::inflater
