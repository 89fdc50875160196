// Archive byte helpers shared by the tar-level fuzz targets: setting header
// checksums right, and moving tar bytes in and out of a gzip member.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

namespace morvane::fuzz {

inline constexpr std::size_t tar_block_bytes = 512;

// Gives every 512-byte block that is not all zero the checksum of its own
// bytes, so that mutations of a header reach the fields behind the checksum
// test. Data blocks change too, which does not matter: they are only data.
inline void fix_checksums(std::vector<unsigned char>& tar) {
  constexpr std::size_t checksum_at = 148, checksum_len = 8;
  for (std::size_t at = 0; at + tar_block_bytes <= tar.size(); at += tar_block_bytes) {
    unsigned char* b = tar.data() + at;
    if (std::all_of(b, b + tar_block_bytes, [](unsigned char c) { return c == 0; })) continue;
    unsigned sum = checksum_len * ' ';
    for (std::size_t i = 0; i < tar_block_bytes; ++i)
      if (i < checksum_at || i >= checksum_at + checksum_len) sum += b[i];
    // Six octal digits, a NUL and a space, as tar writes it.
    std::snprintf(reinterpret_cast<char*>(b + checksum_at), checksum_len, "%06o", sum);
    b[checksum_at + checksum_len - 1] = ' ';
  }
}

// zlib's own gzip compression at `level` (0 to 9).
inline std::vector<unsigned char> gzip_deflate(std::span<const unsigned char> content, int level) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::vector<unsigned char> out(deflateBound(&zs, static_cast<uLong>(content.size())));
  zs.next_in = const_cast<unsigned char*>(content.data());
  zs.avail_in = static_cast<uInt>(content.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&zs, Z_FINISH);
  out.resize(rc == Z_STREAM_END ? zs.total_out : 0);
  deflateEnd(&zs);
  return out;
}

// The content of the first gzip member when it decodes cleanly within `cap`
// bytes; nothing otherwise.
inline std::optional<std::vector<unsigned char>> gunzip(std::span<const unsigned char> data, std::size_t cap) {
  z_stream zs{};
  if (inflateInit2(&zs, MAX_WBITS + 16) != Z_OK) return std::nullopt;
  std::vector<unsigned char> out(cap);
  zs.next_in = const_cast<unsigned char*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&zs, Z_FINISH);
  const std::size_t produced = zs.total_out;
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) return std::nullopt;
  out.resize(produced);
  return out;
}

}  // namespace morvane::fuzz
