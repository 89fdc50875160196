// The tar reader alone, on any archive bytes.
//
// The input's first byte steers the run, the rest is the tar archive:
//   bit 0 clear: every header-aligned 512-byte block that is not all zero gets
//                a correct checksum before reading, so that mutations reach the
//                fields behind the checksum test; set: checksums are left alone.
//   bit 1 set:   entry data is passed over instead of read.
//   bits 2-7:    N; when not zero, each read of the source gives at most N * 7
//                bytes, as a decompressor hands out pieces of any size.
// The reader pulls the raw archive bytes from an in-memory byte source and
// reads to the archive's end or its first failure. Checked: every entry's
// data has exactly its announced length (more is never invented, less is a
// failure), failures carry a description, and the entries and their data fit
// in the archive.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/byte_source.hpp"
#include "archive/tar_reader.hpp"
#include "archive_bytes.hpp"

namespace {

using morvane::fuzz::tar_block_bytes;

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "tar invariant broken: %s %.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

// The archive bytes, handed out in pieces of at most `piece` bytes.
class RawTar : public morvane::archive::ByteSource {
 public:
  RawTar(std::span<const unsigned char> bytes, std::size_t piece) : rest_(bytes), piece_(piece) {}
  morvane::archive::PackageResult<std::size_t> read(std::span<unsigned char> out) override {
    const std::size_t n = std::min({out.size(), rest_.size(), piece_});
    std::copy_n(rest_.begin(), n, out.begin());
    rest_ = rest_.subspan(n);
    return n;
  }

 private:
  std::span<const unsigned char> rest_;
  std::size_t piece_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
  if (size == 0) return 0;
  const unsigned char control = raw[0];
  std::vector<unsigned char> tar(raw + 1, raw + size);
  if (!(control & 1)) morvane::fuzz::fix_checksums(tar);
  const bool pass_over_data = control & 2;
  const std::size_t piece = (control >> 2) * std::size_t{7};

  RawTar source(tar, piece == 0 ? tar.size() : piece);
  morvane::archive::TarReader reader(source);
  std::size_t entries = 0;
  std::uint64_t data_read = 0;
  for (;;) {
    auto next = reader.next();
    if (!next) {
      if (next.error().text.empty()) fail("a failure without a description");
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
        if (chunk.error().text.empty()) fail("a failure without a description");
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
