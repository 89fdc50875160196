// Reader of a tar archive (v7, ustar, GNU and pax forms) streamed out of a
// byte source, one entry at a time, in archive order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archive/byte_source.hpp"

namespace morvane::archive {

// A GNU long-name or long-link record, or a pax extended header, larger than
// this is refused: such records are read whole into memory.
inline constexpr std::uint64_t max_metadata_record_bytes = 1'048'576;
// Data that is read past rather than written (entries passed over and the
// metadata records themselves) may add up to this much; beyond it the archive
// is refused so that a small archive cannot make the call inflate without end.
inline constexpr std::uint64_t max_skipped_bytes = 1'073'741'824;

struct TarEntry {
  std::string path;               // bytes, from the long name, the pax path or the header's name fields
  unsigned char type = 0;         // type flag byte
  std::uint64_t header_size = 0;  // the header block's own size field
  std::uint64_t data_size = 0;    // bytes of data that follow: the pax size record when there is one
};

// As Go's archive/tar parser does, the reader keeps its first failure: every
// step after it does nothing, so a run of steps needs one check at its end,
// and every later call reports the same failure again.
class TarReader {
 public:
  explicit TarReader(ByteSource& source);

  // Moves to the next entry, passing over whatever is left of the current
  // one's data. Returns nullptr at the end of the archive. The entry stays
  // valid until the next call.
  PackageResult<const TarEntry*> next();

  // The next piece of the current entry's data, straight out of the reader's
  // buffer; empty once all of it has been read. The piece stays valid until
  // the next call on the reader.
  PackageResult<std::span<const unsigned char>> data_chunk();

 private:
  using Block = std::array<unsigned char, 512>;

  bool failed() const { return error_.has_value(); }
  // Records `text` unless a failure is already recorded; returns false.
  bool fail(std::string text);

  const TarEntry* read_entry();
  bool read_metadata(unsigned char type, std::uint64_t size);
  void apply_pax();
  std::uint64_t parse_octal(std::string_view field, const char* what);
  std::uint64_t parse_size();

  std::size_t read_source(std::span<unsigned char> into);
  std::size_t buffer_at_least(std::size_t n);
  // Refills the fully consumed buffer while entry data or padding is still
  // owed, so that running out of input is an EOF inside the data.
  bool refill_for_data();
  // False at a clean end of the input, or after a failure.
  bool read_block(Block& block);
  void skip(std::uint64_t n);
  void read_record(std::uint64_t size, std::string& into);
  void count_skipped(std::uint64_t n);
  void advance_position(std::uint64_t data_size);

  ByteSource& source_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t begin_ = 0;  // unread buffered bytes are [begin_, end_)
  std::size_t end_ = 0;
  std::optional<PackageError> error_;  // the first failure

  Block header_{};
  TarEntry entry_;
  std::uint64_t remaining_ = 0;  // data of the current entry not yet read
  std::uint64_t padding_ = 0;    // zero bytes after it, up to the next block boundary
  std::uint64_t position_ = 0;   // archive offset of the next header block
  std::uint64_t skipped_ = 0;

  // Records that describe the next real entry.
  bool has_long_name_ = false;
  bool has_long_link_ = false;
  bool has_pax_ = false;
  std::string long_name_;
  std::string pax_;
};

}  // namespace morvane::archive
