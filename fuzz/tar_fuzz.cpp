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
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "archive/gzip_reader.hpp"
#include "archive/tar_reader.hpp"
#include "archive_bytes.hpp"

namespace {

using morvane::fuzz::tar_block_bytes;

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "tar invariant broken: %s %.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
  if (size == 0) return 0;
  const unsigned char control = raw[0];
  std::vector<unsigned char> tar(raw + 1, raw + size);
  if (!(control & 1)) morvane::fuzz::fix_checksums(tar);
  const bool pass_over_data = control & 2;
  const std::vector<unsigned char> gz = morvane::fuzz::gzip_stored(tar);

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
    if (++entries > tar.size() / tar_block_bytes) fail("more entries than header blocks");
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
