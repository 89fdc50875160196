// The gzip reader alone, on any bytes.
//
// The reader's output is compared with zlib's own gzip decoding of every
// member (a further member is read where the gzip magic follows a trailer):
// both accept the same streams and produce the same bytes, except that the
// reader refuses file-name and comment fields longer than 65,535 bytes, which
// zlib takes. Every failure is described by one of the reader's known texts.
// Reads come in varied sizes (one byte at a time included), so that the
// reader's hand-over of bytes produced before damage is exercised.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/gzip_reader.hpp"

namespace {

// Inputs are small, but deflate expands up to about a thousand times; past
// this much output neither side is followed further.
constexpr std::size_t max_output_bytes = 64 * 1024 * 1024;

constexpr std::array<std::string_view, 7> known_failures = {
    "unexpected end of file",
    "invalid gzip header",
    "corrupt gzip stream does not have a matching checksum",
    "gzip header field too long",
    "corrupt deflate stream",
    "out of memory while decompressing",
    "cannot initialise the decompressor",
};

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "gzip invariant broken: %s %.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

struct Decoded {
  std::vector<unsigned char> bytes;
  std::optional<std::string> error;  // empty when the last member was read through its trailer
  bool capped = false;
  std::vector<std::size_t> member_starts;  // where each member's header begins (zlib's side only)
};

bool starts_member(std::span<const unsigned char> data, std::size_t at) {
  return data.size() - at >= 2 && data[at] == 0x1f && data[at + 1] == 0x8b;
}

Decoded read_with_reader(std::span<const unsigned char> data, bool small_reads) {
  static constexpr std::array<std::size_t, 5> small_sizes = {1, 3, 512, 7, 4096};
  morvane::archive::GzipReader reader(data);
  Decoded out;
  std::vector<unsigned char> buffer(65536);
  for (std::size_t round = 0;; ++round) {
    const std::size_t want = small_reads ? small_sizes[round % small_sizes.size()] : buffer.size();
    auto got = reader.read(std::span(buffer).first(want));
    if (!got) {
      out.error = got.error().text;
      return out;
    }
    if (*got > want) fail("a read produced more than asked for");
    if (*got == 0) {
      // The end stays the end.
      auto again = reader.read(std::span(buffer).first(want));
      if (!again || *again != 0) fail("a read after the end produced something");
      return out;
    }
    out.bytes.insert(out.bytes.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*got));
    if (out.bytes.size() > max_output_bytes) {
      out.capped = true;
      return out;
    }
  }
}

Decoded read_with_zlib(std::span<const unsigned char> data) {
  Decoded out;
  z_stream zs{};
  if (inflateInit2(&zs, MAX_WBITS + 16) != Z_OK) fail("inflateInit2");
  zs.next_in = const_cast<unsigned char*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  out.member_starts.push_back(0);
  std::vector<unsigned char> buffer(65536);
  for (;;) {
    zs.next_out = buffer.data();
    zs.avail_out = static_cast<uInt>(buffer.size());
    const int rc = inflate(&zs, Z_NO_FLUSH);
    out.bytes.insert(out.bytes.end(), buffer.begin(), buffer.end() - zs.avail_out);
    if (rc == Z_STREAM_END) {
      const std::size_t next = data.size() - zs.avail_in;
      if (!starts_member(data, next)) break;
      out.member_starts.push_back(next);
      if (inflateReset(&zs) != Z_OK) fail("inflateReset");
      continue;
    }
    if (rc != Z_OK || (zs.avail_in == 0 && zs.avail_out != 0)) {
      out.error = zs.msg ? zs.msg : "truncated";
      break;
    }
    if (out.bytes.size() > max_output_bytes) {
      out.capped = true;
      break;
    }
  }
  inflateEnd(&zs);
  return out;
}

// Whether the file name or comment field of the member header at `start`
// runs longer than the reader allows. Only called on members that zlib read,
// so the header is well formed.
bool has_long_header_field(std::span<const unsigned char> data, std::size_t start) {
  constexpr std::size_t max_field = 65'535;
  const unsigned char flags = data[start + 3];
  std::size_t pos = start + 10;
  if (flags & 0x04) pos += 2 + (std::size_t(data[pos]) | std::size_t(data[pos + 1]) << 8);
  for (const int bit : {0x08, 0x10}) {
    if (!(flags & bit)) continue;
    const std::size_t start = pos;
    while (data[pos] != 0) ++pos;
    if (pos - start > max_field) return true;
    ++pos;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
  const std::span<const unsigned char> data(raw, size);
  const Decoded ours = read_with_reader(data, size % 2 == 1);
  if (ours.error) {
    if (std::find(known_failures.begin(), known_failures.end(), *ours.error) == known_failures.end())
      fail("unknown failure text:", *ours.error);
  }
  const Decoded theirs = read_with_zlib(data);
  if (ours.capped || theirs.capped) return 0;

  if (!ours.error && theirs.error) fail("the reader accepted what zlib refuses:", *theirs.error);
  auto has_long_field = [&] {
    return std::any_of(theirs.member_starts.begin(), theirs.member_starts.end(),
                       [&](std::size_t start) { return has_long_header_field(data, start); });
  };
  if (ours.error && !theirs.error && !(*ours.error == "gzip header field too long" && has_long_field()))
    fail("the reader refused what zlib accepts:", *ours.error);
  if (!ours.error && ours.bytes != theirs.bytes) fail("the reader and zlib produced different bytes");
  // Bytes handed over before a failure are the member's own, up to the damage.
  const std::size_t common = std::min(ours.bytes.size(), theirs.bytes.size());
  if (!std::equal(ours.bytes.begin(), ours.bytes.begin() + static_cast<std::ptrdiff_t>(common), theirs.bytes.begin()))
    fail("the reader and zlib disagree on the bytes before a failure");
  if (ours.error && !theirs.error && ours.bytes.size() > theirs.bytes.size()) fail("more bytes than the member holds");
  return 0;
}
