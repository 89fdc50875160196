// The system calls that the lockfile and archive subsystems share, in one
// shape: a call interrupted by a signal is repeated, and a failure is the
// system's description, "<text> (os error N)", e.g. "No such file or
// directory (os error 2)". Each subsystem wraps that text in its own failure
// value.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

// Linux-only calls (openat2, O_PATH, O_TMPFILE, statx, getrandom) are made
// where the system has them, unless the build asks for the portable paths
// alone (MORVANE_PORTABLE_ONLY): that is how the paths of other systems are
// tested on Linux. Every Linux-only call has a portable path beside it.
#if defined(__linux__) && !MORVANE_PORTABLE_ONLY
#define MORVANE_LINUX_CALLS 1
#else
#define MORVANE_LINUX_CALLS 0
#endif

namespace morvane {

// Flags of a directory handle that only anchors *at calls. Linux's O_PATH
// needs search permission on the directory alone; elsewhere the handle is
// opened for reading, which needs read permission as well.
#if MORVANE_LINUX_CALLS
inline constexpr int directory_handle_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
inline constexpr int directory_handle_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// The largest count one read or write call is asked for (the largest signed
// 32-bit value, which every platform's read and write accept).
inline constexpr std::size_t max_io_bytes = 2'147'483'647;

// The system's text for an error number, followed by " (os error N)".
std::string os_error_text(int errnum);

// `path` as the NUL-terminated text a system call takes. A path holding a NUL
// byte is refused before any system call, so that it is never cut short.
std::expected<std::string, std::string> system_path(std::string_view path);

// openat, repeated while it fails with EINTR. -1 with errno set on failure.
int openat_retrying(int dir, const char* path, int flags, mode_t mode = 0);

// Fills `out` with `size` (at most 256) random bytes; false when the system
// has none to give.
bool random_bytes(void* out, std::size_t size);

// Whether the symbolic link at `path` is one of the system's descriptor links
// (/proc/self/fd/N and the like, which /dev/stdout and /dev/fd/N lead to on
// Linux), which stand for an open file rather than a name: a link of the proc
// file system. Where there is no /proc there are none.
bool is_descriptor_link(const char* path);

// What fstatat says of `name` in `dir` (a final link is not followed), and
// whether the entry is the root of a mount: a file mounted over the name, as a
// bind mount makes.
struct EntryStat {
  struct stat st;
  bool mount_root;
};

// 0, or -1 with errno set. The mount question is answered by statx's
// mount-root attribute where the system has it (Linux 5.8 and later); else by
// comparing the device numbers of the entry and of `dir`, which also differ
// without a mount where a file system spans several devices (overlayfs over
// layers on different file systems).
int stat_entry(int dir, const char* name, EntryStat& out);

// Writes all of `bytes`, in calls of at most 2147483647 bytes, going on after
// partial writes and repeating a call that a signal interrupts. A call that
// writes nothing fails with "failed to write whole buffer".
std::expected<void, std::string> write_all(int fd, std::string_view bytes);

}  // namespace morvane
