#include "common/posix.hpp"

#include <sys/stat.h>
#include <unistd.h>

// Each Linux-only call is made here alone, each with the portable path beside
// it; the Darwin and BSD lines are compiled for macOS by CI's cross-build, and
// are not run here.
#if MORVANE_LINUX_CALLS
// musl from 1.2.5 declares statx in <sys/stat.h>, where the kernel's
// <linux/stat.h> would declare it again; glibc from 2.28 includes the kernel's
// header there itself. Older C libraries declare nothing of statx.
#ifndef STATX_TYPE
#include <linux/stat.h>
#endif
// The kernel's values, which musl's header lacks (and older headers lack the
// mount-root one, from Linux 5.8 on).
#ifndef STATX_ATTR_IMMUTABLE
#define STATX_ATTR_IMMUTABLE 0x00000010
#endif
#ifndef STATX_ATTR_APPEND
#define STATX_ATTR_APPEND 0x00000020
#endif
#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif
#include <linux/fs.h>  // FS_IOC_GETFLAGS
#include <linux/openat2.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>  // statfs
#elif defined(__APPLE__)
#include <stdlib.h>  // arc4random_buf
#else
#include <sys/random.h>  // getentropy
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace morvane {
namespace {

// Which system calls this build makes, kept in the library's read-only data
// for a reader of the file's bytes (the tests, to know which paths to expect):
// "linux" or "portable", and whether a folder handle needs search permission
// alone ("search") or read permission too ("read"). Nothing refers to them:
// `retain` keeps a linker that drops unreferenced sections (zig's, for the
// release wheels) from dropping them.
#if MORVANE_LINUX_CALLS
[[gnu::used, gnu::retain]] constexpr char build_system_calls[] = "morvane_core system calls: linux";
#else
[[gnu::used, gnu::retain]] constexpr char build_system_calls[] = "morvane_core system calls: portable";
#endif
#if MORVANE_LINUX_CALLS || defined(O_SEARCH)
[[gnu::used, gnu::retain]] constexpr char build_folder_handles[] = "morvane_core folder handles: search";
#else
[[gnu::used, gnu::retain]] constexpr char build_folder_handles[] = "morvane_core folder handles: read";
#endif
static_assert(directory_handle_needs_read == (sizeof build_folder_handles == sizeof "morvane_core folder handles: read"));

// strerror_r has two declarations. The GNU one (glibc with _GNU_SOURCE, which
// C++ compilers define there) returns the text, which may be a static string
// rather than buf. The XSI one (musl, macOS, the BSDs) returns 0 or an error
// number and writes the text into buf; for a number it does not know, macOS
// fills buf with "Unknown error: N" and returns EINVAL, as strerror says.
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }
[[maybe_unused]] const char* strerror_result(int, const char* buf) { return buf[0] != '\0' ? buf : nullptr; }

#if MORVANE_LINUX_CALLS
// The folder that holds the last component of `path`, as a path.
std::string folder_of(const char* path) {
  std::string_view p(path);
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  const std::size_t slash = p.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return slash == 0 ? std::string("/") : std::string(p.substr(0, slash));
}

// FS_IOC_GETFLAGS through ioctl, whose request parameter is an unsigned long
// in glibc and an int in musl.
template <class Request>
int get_file_flags(int (*ioctl_call)(int, Request, ...), int fd, int* flags) {
  return ioctl_call(fd, static_cast<Request>(FS_IOC_GETFLAGS), flags);
}

// statx through the system call itself: glibc has its wrapper only from 2.28
// on, and the release wheels run on glibc 2.17.
int statx_call(int dir, const char* name, int flags, unsigned mask, struct statx* out) {
  return static_cast<int>(::syscall(SYS_statx, dir, name, flags, mask, out));
}
#endif

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

int open_directory_handle(int dir, const char* path, int extra_flags) {
  const int fd = openat_retrying(dir, path, directory_handle_flags | extra_flags);
#if !MORVANE_LINUX_CALLS && defined(O_SEARCH)
  if (fd < 0 && errno == EINVAL) return openat_retrying(dir, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extra_flags);
#endif
  return fd;
}

bool random_bytes(void* out, std::size_t size) {
#if MORVANE_LINUX_CALLS
  // The system call itself: glibc has its getrandom wrapper only from 2.25 on.
  return ::syscall(SYS_getrandom, out, size, 0) == static_cast<long>(size);
#elif defined(__APPLE__)
  ::arc4random_buf(out, size);
  return true;
#else
  return ::getentropy(out, size) == 0;
#endif
}

bool is_descriptor_link(const char* path) {
  struct stat link{};
  if (::lstat(path, &link) != 0 || !S_ISLNK(link.st_mode)) return false;
#if MORVANE_LINUX_CALLS
  // The proc file system by what it is, wherever it is mounted: a second
  // mount (a container's view of the host's) has a device number of its own.
  // Where statfs is refused (a system-call filter), the device comparison
  // below still knows the process's own /proc.
  constexpr long proc_super_magic = 0x9fa0;
  struct statfs fs{};
  if (::statfs(folder_of(path).c_str(), &fs) == 0) return static_cast<long>(fs.f_type) == proc_super_magic;
#endif
  // Without a file-system type to ask: a link on the device of the process's
  // own /proc.
  struct stat proc{};
  return ::stat("/proc/self/fd", &proc) == 0 && link.st_dev == proc.st_dev;
}

int stat_entry(int dir, const char* name, EntryStat& out) {
#if MORVANE_LINUX_CALLS
  // Any failure (a kernel before 4.11, a system-call filter refusing statx
  // with whatever error) leaves the question to fstatat below, which then
  // reports the entry's real error.
  struct statx stx{};
  if (statx_call(dir, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &stx) == 0 &&
      (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)) {
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
#endif
  if (::fstatat(dir, name, &out.st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  struct stat dir_st{};
  out.mount_root = ::fstat(dir, &dir_st) == 0 && dir_st.st_dev != out.st.st_dev;
  return 0;
}

bool folder_refuses_rename([[maybe_unused]] int dir) {
#if MORVANE_LINUX_CALLS
  constexpr std::uint64_t refusing = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
  struct statx stx{};
  if (statx_call(dir, "", AT_EMPTY_PATH, 0, &stx) == 0 && (stx.stx_attributes_mask & refusing) == refusing) {
    return (stx.stx_attributes & refusing) != 0;
  }
  // statx refused (a system-call filter), missing (before Linux 4.11) or not
  // telling of these flags: the folder's own flags, which a handle opened
  // for reading can be asked for (an O_PATH one cannot: then no one can tell).
  int flags = 0;
  return get_file_flags(::ioctl, dir, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
#elif defined(UF_APPEND) && defined(SF_APPEND)
  // The file flags of macOS and the BSDs, set by chflags.
  struct stat st{};
  return ::fstat(dir, &st) == 0 && (st.st_flags & (UF_APPEND | SF_APPEND | UF_IMMUTABLE | SF_IMMUTABLE)) != 0;
#else
  return false;
#endif
}

int open_beneath([[maybe_unused]] int parent, [[maybe_unused]] const char* rel) {
#if MORVANE_LINUX_CALLS
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
  return static_cast<int>(::syscall(SYS_openat2, parent, rel, &how, sizeof how));
#else
  errno = ENOSYS;
  return -1;
#endif
}

bool beneath_unavailable(int err) { return err == ENOSYS || err == EPERM || err == EINVAL; }

int open_unnamed_file([[maybe_unused]] int dir, [[maybe_unused]] mode_t mode) {
#if MORVANE_LINUX_CALLS
  return openat_retrying(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
#else
  errno = EOPNOTSUPP;
  return -1;
#endif
}

int link_unnamed_file([[maybe_unused]] int fd, [[maybe_unused]] int dir, [[maybe_unused]] const char* name) {
#if MORVANE_LINUX_CALLS
  // Through the descriptor itself needs CAP_DAC_READ_SEARCH (ENOENT without
  // it; EPERM under some system-call filters); through /proc, only a
  // mounted /proc.
  if (::linkat(fd, "", dir, name, AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT && errno != EPERM) return errno;
  const std::string by_proc = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, by_proc.c_str(), dir, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
#else
  return ENOENT;
#endif
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
