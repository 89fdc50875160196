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

// Linux-only calls (openat2, O_PATH, O_TMPFILE, statx, the FS_IOC_GETFLAGS
// ioctl, statfs's file-system magic, getrandom) are made where the system has
// them, unless the build asks for the portable paths alone
// (MORVANE_PORTABLE_ONLY): that is how the paths of other systems are tested
// on Linux. They are all made in posix.cpp, each
// behind a function below with its portable path beside it, so that one file
// shows what each platform does.
#if defined(__linux__) && !MORVANE_PORTABLE_ONLY
#define MORVANE_LINUX_CALLS 1
#else
#define MORVANE_LINUX_CALLS 0
#endif

// Every size and offset of a file fits (the build asks glibc's 32-bit systems
// for 64-bit ones).
static_assert(sizeof(off_t) == 8, "off_t must have 64 bits: build with _FILE_OFFSET_BITS=64");

namespace morvane {

// Flags of a directory handle that only anchors *at calls, so that search
// permission on the directory is enough: Linux's O_PATH; O_SEARCH where the
// system defines it (macOS, the BSDs, musl); elsewhere the handle is opened
// for reading, which needs read permission as well.
#if MORVANE_LINUX_CALLS
inline constexpr int directory_handle_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
inline constexpr bool directory_handle_needs_read = false;
#elif defined(O_SEARCH)
inline constexpr int directory_handle_flags = O_SEARCH | O_DIRECTORY | O_CLOEXEC;
inline constexpr bool directory_handle_needs_read = false;
#else
inline constexpr int directory_handle_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
inline constexpr bool directory_handle_needs_read = true;
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

// Opens the directory at `path` (relative to `dir`) as a handle with
// directory_handle_flags and `extra_flags` (O_NOFOLLOW, say). Where the kernel
// refuses the C library's O_SEARCH with EINVAL (one older than the headers it
// was built with), the handle is opened for reading instead. -1 with errno set
// on failure.
int open_directory_handle(int dir, const char* path, int extra_flags = 0);

// Fills `out` with `size` (at most 256) random bytes; false when the system
// has none to give.
bool random_bytes(void* out, std::size_t size);

// Whether the symbolic link at `path` is one of the system's descriptor links
// (/proc/self/fd/N and the like, which /dev/stdout and /dev/fd/N lead to on
// Linux), which stand for an open file rather than a name: a link in a folder
// of the proc file system, wherever that is mounted. Where there is no such
// file system there are none.
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

// Whether the directory open as `dir` is append-only or immutable, so that no
// name in it can be removed or renamed over: a temporary file made there
// could neither take the target's name nor be removed again. Linux answers
// through statx, else through the folder's flags (which needs `dir` open for
// reading); macOS and the BSDs through st_flags. False where the system
// cannot tell (then a refused rename says so, too late to leave nothing
// behind).
bool folder_refuses_rename(int dir);

// Opens the existing directory at the multi-component path `rel` below
// `parent` in one call, refusing to pass through any symbolic link or to leave
// `parent` (Linux's openat2). -1 with errno set on failure; errno is one that
// beneath_unavailable accepts where the system has no such call.
int open_beneath(int parent, const char* rel);
// Errors by which open_beneath says it cannot be used here at all: missing
// from the system or the kernel, or refused by a system-call filter.
bool beneath_unavailable(int err);

// A new regular file in the directory `dir` that has no name (Linux's
// O_TMPFILE), open for writing, with permission bits `mode` less the umask.
// -1 with errno set on failure; EOPNOTSUPP where the system has no such files.
int open_unnamed_file(int dir, mode_t mode);

// Gives the unnamed file open as `fd` the name `name` in `dir`: through the
// descriptor itself where the caller may, else through the proc file system.
// 0, or the error number: EEXIST for a name taken; ENOENT where neither way
// is open to the caller (or the system has no unnamed files).
int link_unnamed_file(int fd, int dir, const char* name);

// Writes all of `bytes`, in calls of at most 2147483647 bytes, going on after
// partial writes and repeating a call that a signal interrupts. A call that
// writes nothing fails with "failed to write whole buffer".
std::expected<void, std::string> write_all(int fd, std::string_view bytes);

}  // namespace morvane
