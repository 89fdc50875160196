// The tar reader alone, on any archive bytes.
//
// The input's first byte steers the run, the rest is the tar archive:
//   bit 0 clear: every header-aligned 512-byte block that is not all zero gets
//                a correct checksum before reading, so that mutations reach the
//                fields behind the checksum test; set: checksums are left alone.
//   bit 1 set:   entry data is passed over instead of read.
// The archive is wrapped in a stored gzip member (the reader pulls from the
// gzip reader) and read to its end or first failure. Checked: every entry's
// data has exactly its announced length (more is never invented, less is a
// failure), failures carry a description, and the entries and their data fit
// in the archive.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "archive/gzip_reader.hpp"
#include "archive/tar_reader.hpp"

namespace {

constexpr std::size_t block_bytes = 512;

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "tar invariant broken: %s %.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

void put_le32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// One gzip member holding `content` in stored deflate blocks: cheap to make
// and to read, so the run's time goes to the tar reader.
std::vector<unsigned char> gzip_stored(std::span<const unsigned char> content) {
  std::vector<unsigned char> out = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 0xff};
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min<std::size_t>(content.size() - pos, 65535);
    const bool last = pos + n == content.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<unsigned char>(n));
    out.push_back(static_cast<unsigned char>(n >> 8));
    out.push_back(static_cast<unsigned char>(~n));
    out.push_back(static_cast<unsigned char>(~n >> 8));
    out.insert(out.end(), content.begin() + static_cast<std::ptrdiff_t>(pos),
               content.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
  } while (pos < content.size());
  put_le32(out, static_cast<std::uint32_t>(crc32(0, content.data(), static_cast<uInt>(content.size()))));
  put_le32(out, static_cast<std::uint32_t>(content.size()));
  return out;
}

void fix_checksums(std::vector<unsigned char>& tar) {
  for (std::size_t at = 0; at + block_bytes <= tar.size(); at += block_bytes) {
    unsigned char* b = tar.data() + at;
    bool zero = true;
    for (std::size_t i = 0; i < block_bytes && zero; ++i) zero = b[i] == 0;
    if (zero) continue;
    unsigned sum = 8 * ' ';
    for (std::size_t i = 0; i < block_bytes; ++i)
      if (i < 148 || i >= 156) sum += b[i];
    std::snprintf(reinterpret_cast<char*>(b + 148), 8, "%06o", sum);
    b[155] = ' ';
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
  if (size == 0) return 0;
  const unsigned char control = raw[0];
  std::vector<unsigned char> tar(raw + 1, raw + size);
  if (!(control & 1)) fix_checksums(tar);
  const bool pass_over_data = control & 2;
  const std::vector<unsigned char> gz = gzip_stored(tar);

  morvane::archive::GzipReader gzip(gz);
  morvane::archive::TarReader reader(gzip);
  std::size_t entries = 0;
  std::uint64_t data_read = 0;
  for (;;) {
    auto next = reader.next();
    if (!next) {
      if (next.error().empty()) fail("a failure without a description");
      return 0;
    }
    const morvane::archive::TarEntry* entry = *next;
    if (entry == nullptr) break;
    // Each entry takes at least its own header block.
    if (++entries > tar.size() / block_bytes) fail("more entries than header blocks");
    if (pass_over_data) continue;
    std::uint64_t got = 0;
    for (;;) {
      auto chunk = reader.data_chunk();
      if (!chunk) {
        if (chunk.error().empty()) fail("a failure without a description");
        if (got >= entry->data_size) fail("a data failure after all the data");
        return 0;
      }
      if (chunk->empty()) break;
      got += chunk->size();
      if (got > entry->data_size) fail("more data than the entry announced", entry->path);
    }
    if (got != entry->data_size) fail("less data than the entry announced", entry->path);
    data_read += got;
    if (data_read > tar.size()) fail("more data than the archive holds");
  }
  return 0;
}
