#include "common/posix.hpp"

#include <sys/stat.h>
#include <unistd.h>

#if MORVANE_LINUX_CALLS
// musl from 1.2.5 declares statx in <sys/stat.h>, where the kernel's
// <linux/stat.h> would declare it again; glibc from 2.28 includes the kernel's
// header there itself. Older C libraries declare nothing of statx.
#ifndef STATX_TYPE
#include <linux/stat.h>
#endif
#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000  // the kernel's value (Linux 5.8 on), which musl's header lacks
#endif
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#elif defined(__APPLE__)
#include <stdlib.h>  // arc4random_buf
#else
#include <sys/random.h>  // getentropy
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace morvane {
namespace {

// Which system calls this build makes, kept in the library's read-only data
// for a reader of the file's bytes (the tests, to know which paths to expect).
// Nothing refers to it: `retain` keeps a linker that drops unreferenced
// sections (zig's, for the release wheels) from dropping it.
#if MORVANE_LINUX_CALLS
[[gnu::used, gnu::retain]] constexpr char build_system_calls[] = "morvane_core system calls: linux";
#else
[[gnu::used, gnu::retain]] constexpr char build_system_calls[] = "morvane_core system calls: portable";
#endif

}  // namespace

namespace {

// strerror_r has two declarations. The GNU one (glibc with _GNU_SOURCE, which
// C++ compilers define there) returns the text, which may be a static string
// rather than buf. The XSI one (musl, macOS, the BSDs) returns 0 or an error
// number and writes the text into buf; for a number it does not know, macOS
// fills buf with "Unknown error: N" and returns EINVAL, as strerror says.
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }
[[maybe_unused]] const char* strerror_result(int, const char* buf) { return buf[0] != '\0' ? buf : nullptr; }

}  // namespace

std::string os_error_text(int errnum) {
  char buf[256] = {};
  const char* text = strerror_result(::strerror_r(errnum, buf, sizeof buf), buf);
  std::string out = text ? text : "Unknown error";
  out += " (os error ";
  out += std::to_string(errnum);
  out += ')';
  return out;
}

std::expected<std::string, std::string> system_path(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) {
    return std::unexpected("file name contained an unexpected NUL byte");
  }
  return std::string(path);
}

int openat_retrying(int dir, const char* path, int flags, mode_t mode) {
  int fd;
  do fd = ::openat(dir, path, flags, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

bool random_bytes(void* out, std::size_t size) {
#if MORVANE_LINUX_CALLS
  // The system call itself: glibc has its getrandom wrapper only from 2.25 on,
  // and the release wheels run on glibc 2.17.
  return ::syscall(SYS_getrandom, out, size, 0) == static_cast<long>(size);
#elif defined(__APPLE__)
  ::arc4random_buf(out, size);
  return true;
#else
  return ::getentropy(out, size) == 0;
#endif
}

bool is_descriptor_link(const char* path) {
  struct stat link{}, proc{};
  return ::lstat(path, &link) == 0 && S_ISLNK(link.st_mode) && ::stat("/proc/self/fd", &proc) == 0 &&
         link.st_dev == proc.st_dev;
}

int stat_entry(int dir, const char* name, EntryStat& out) {
#if MORVANE_LINUX_CALLS && defined(SYS_statx) && defined(STATX_ATTR_MOUNT_ROOT)
  // The system call itself, as glibc has its statx wrapper only from 2.28 on.
  struct statx stx{};
  if (::syscall(SYS_statx, dir, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &stx) == 0) {
    if (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) {
      out.st = {};
      out.st.st_dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
      out.st.st_ino = stx.stx_ino;
      out.st.st_mode = stx.stx_mode;
      out.st.st_nlink = stx.stx_nlink;
      out.st.st_uid = stx.stx_uid;
      out.st.st_gid = stx.stx_gid;
      out.st.st_size = static_cast<off_t>(stx.stx_size);
      out.mount_root = (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
      return 0;
    }
  } else if (errno != ENOSYS && errno != EPERM) {
    // ENOSYS: a kernel before 4.11; EPERM: a container's system-call filter
    // that does not know statx.
    return -1;
  }
#endif
  if (::fstatat(dir, name, &out.st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  struct stat dir_st{};
  out.mount_root = ::fstat(dir, &dir_st) == 0 && dir_st.st_dev != out.st.st_dev;
  return 0;
}

std::expected<void, std::string> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), std::min(bytes.size(), max_io_bytes));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error_text(errno));
    }
    if (n == 0) return std::unexpected("failed to write whole buffer");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace morvane
