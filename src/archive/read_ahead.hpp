// Runs a ByteSource on a thread of its own, a bounded distance ahead of the
// reader, so that decompressing the archive overlaps with writing its files.
//
// The consumer sees exactly the bytes, end and failure that reading the source
// directly would give, in the same order; only the sizes of the pieces differ.
// At most `slot_count` pieces of `slot_bytes` are held, so the memory used does
// not grow with the stream. A failure of the source to run at all (an
// exception such as std::bad_alloc on the reading thread) is rethrown to the
// consumer when it reaches that point of the stream. When no thread can be
// started, reads go straight to the source.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <expected>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "archive/byte_source.hpp"

namespace morvane::archive {

class ReadAhead final : public ByteSource {
 public:
  static constexpr std::size_t slot_bytes = 128 * 1024;
  static constexpr std::size_t slot_count = 3;

  explicit ReadAhead(ByteSource& source);
  ~ReadAhead() override;
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  std::expected<std::size_t, std::string> read(std::span<unsigned char> out) override;

 private:
  // A piece of the stream. The reading thread owns a slot while it is not
  // full; the consumer owns it while it is. `full` changes under the mutex.
  struct Slot {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size = 0;   // bytes held
    std::size_t taken = 0;  // bytes already handed to the consumer
    bool last = false;      // the stream ends here: no bytes, and `error` or the end
    bool failed = false;
    std::string error;
    bool full = false;
  };

  void produce() noexcept;

  ByteSource& source_;
  std::array<Slot, slot_count> slots_;
  std::size_t next_take_ = 0;  // the consumer's slot

  std::mutex mutex_;
  std::condition_variable filled_;   // a slot became full, or the thread faulted
  std::condition_variable drained_;  // a slot became free, or stop was asked
  bool stop_ = false;
  std::exception_ptr fault_;

  std::thread thread_;  // last, so that it starts after everything it uses exists
};

}  // namespace morvane::archive
