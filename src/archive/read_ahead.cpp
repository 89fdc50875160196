#include "archive/read_ahead.hpp"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

namespace morvane::archive {

ReadAhead::ReadAhead(ByteSource& source) : source_(source) {
  for (Slot& slot : slots_) slot.bytes.reset(new unsigned char[slot_bytes]);
  try {
    thread_ = std::thread([this] { produce(); });
  } catch (const std::system_error&) {
    // No thread to be had (resource limits): read directly instead.
  }
}

ReadAhead::~ReadAhead() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  drained_.notify_all();
  thread_.join();
}

void ReadAhead::produce() noexcept {
  try {
    for (std::size_t next_fill = 0;; next_fill = (next_fill + 1) % slot_count) {
      Slot& slot = slots_[next_fill];
      {
        std::unique_lock lock(mutex_);
        drained_.wait(lock, [&] { return stop_ || !slot.full; });
        if (stop_) return;
      }
      // The slot is this thread's until it is marked full.
      auto got = source_.read({slot.bytes.get(), slot_bytes});
      slot.taken = 0;
      if (got) {
        slot.size = *got;
        slot.last = *got == 0;
      } else {
        slot.size = 0;
        slot.last = true;
        slot.failed = true;
        slot.error = std::move(got.error());
      }
      {
        std::lock_guard lock(mutex_);
        slot.full = true;
      }
      filled_.notify_one();
      if (slot.last) return;
    }
  } catch (...) {
    {
      std::lock_guard lock(mutex_);
      fault_ = std::current_exception();
    }
    filled_.notify_one();
  }
}

std::expected<std::size_t, std::string> ReadAhead::read(std::span<unsigned char> out) {
  if (!thread_.joinable()) return source_.read(out);
  Slot& slot = slots_[next_take_];
  {
    std::unique_lock lock(mutex_);
    filled_.wait(lock, [&] { return slot.full || fault_ != nullptr; });
    // Every piece filled before the fault has been handed over by now.
    if (!slot.full) std::rethrow_exception(fault_);
  }
  // The end and a failure stay in their slot, so every later read repeats them.
  if (slot.last) {
    if (slot.failed) return std::unexpected(slot.error);
    return 0;
  }
  if (out.empty()) return 0;
  const std::size_t n = std::min(out.size(), slot.size - slot.taken);
  std::memcpy(out.data(), slot.bytes.get() + slot.taken, n);
  slot.taken += n;
  if (slot.taken == slot.size) {
    {
      std::lock_guard lock(mutex_);
      slot.full = false;
    }
    drained_.notify_one();
    next_take_ = (next_take_ + 1) % slot_count;
  }
  return n;
}

}  // namespace morvane::archive
