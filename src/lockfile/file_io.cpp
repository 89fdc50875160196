#include "lockfile/file_io.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>

#include "common/os_error.hpp"
#include "common/unique_fd.hpp"

namespace morvane::lockfile {
namespace {

// The largest count one read or write call is asked for (the largest signed
// 32-bit value, which every platform's read and write accept).
constexpr std::size_t max_io_bytes = 2'147'483'647;
// Buffer for a file whose size is unknown (fstat failed or reported 0).
constexpr std::size_t unknown_size_read_bytes = 8192;
// The kernel's own limit on links followed in one lookup; beyond it, ELOOP.
constexpr int max_symlink_hops = 40;
// Fresh random names to try before giving up on creating a temporary file.
constexpr int temp_name_attempts = 16;
// Bytes of the target's name kept in a temporary name, so that the temporary
// name (with its dot and 21-byte suffix) stays within NAME_MAX (255).
constexpr std::size_t max_temp_stem_bytes = 200;

std::unexpected<Failure> os_failure(int err) { return fail(ErrorClass::OSError, os_error_text(err)); }

std::unexpected<Failure> nul_failure() { return fail(ErrorClass::OSError, nul_in_path_message); }

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do fd = ::open(path, flags, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

int openat_retrying(int dir, const char* path, int flags, mode_t mode = 0) {
  int fd;
  do fd = ::openat(dir, path, flags, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

Outcome<void> write_all(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), std::min(content.size(), max_io_bytes));
    if (n < 0) {
      if (errno == EINTR) continue;
      return os_failure(errno);
    }
    if (n == 0) return fail(ErrorClass::OSError, "failed to write whole buffer");
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

// Truncates and rewrites the file: not atomic, used only where a replacement
// is impossible or would change what the path is.
Outcome<void> write_in_place(const std::string& path, std::string_view content) {
  UniqueFd fd(open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd) return os_failure(errno);
  return write_all(fd.get(), content);
}

// The target of the symbolic link at `path`, or false (errno set) when `path`
// is no link or cannot be read.
bool read_link(const std::string& path, std::string& target) {
  std::size_t capacity = 256;
  for (;;) {
    target.resize(capacity);
    const ssize_t n = ::readlink(path.c_str(), target.data(), capacity);
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < capacity) {
      target.resize(static_cast<std::size_t>(n));
      return true;
    }
    capacity *= 2;
  }
}

// Follows symbolic links at the end of `path` and returns the path of the
// file that an open of `path` would reach, or create through a dangling link.
Outcome<std::string> follow_final_links(std::string path) {
  std::string target;
  for (int hops = 0;; ++hops) {
    // Anything but a readable link ends the walk; an error in the directories
    // on the way is reported when the directory is opened.
    if (!read_link(path, target)) return path;
    if (hops == max_symlink_hops) return os_failure(ELOOP);
    if (target.starts_with('/')) {
      path = target;
    } else {
      const auto slash = path.rfind('/');
      path = slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
    }
  }
}

// A name no other writer can predict: ".<stem>.<16 hex digits>.tmp".
std::string temp_name(std::string_view base) {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    // No entropy yet (very early boot): a mix that O_EXCL still keeps safe.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    bits = static_cast<std::uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ULL ^
           static_cast<std::uint64_t>(now.tv_sec) << 20 ^ static_cast<std::uint64_t>(::getpid()) << 40 ^
           counter.fetch_add(1) * 0xBF58476D1CE4E5B9ULL;
  }
  static constexpr char hex_digits[] = "0123456789abcdef";
  std::string name = ".";
  name += base.substr(0, max_temp_stem_bytes);
  name += '.';
  for (int shift = 60; shift >= 0; shift -= 4) name += hex_digits[bits >> shift & 0xF];
  name += ".tmp";
  return name;
}

// Removes the temporary file unless the rename has consumed it.
class TempFile {
 public:
  TempFile(int dir, std::string name, UniqueFd fd) : dir_(dir), name_(std::move(name)), fd_(std::move(fd)) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    fd_.reset();
    if (!renamed_) ::unlinkat(dir_, name_.c_str(), 0);
  }
  int fd() const { return fd_.get(); }
  const std::string& name() const { return name_; }
  void mark_renamed() { renamed_ = true; }

 private:
  int dir_;
  std::string name_;
  UniqueFd fd_;
  bool renamed_ = false;
};

// Gives the new file the owner and permission bits of the one it replaces.
// Ownership is kept where the system allows it; the bits are set after the
// owner, because changing the owner clears set-user-ID and set-group-ID.
Outcome<void> copy_attributes(int fd, const struct stat& old) {
  struct stat now{};
  if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
    // Only root may give a file away; a member of the group may still keep it.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  }
  if (::fchmod(fd, old.st_mode & 07777) != 0) return os_failure(errno);
  return {};
}

enum class Replacement { Done, NotAllowed };

// Writes `content` to a new temporary file in `dir`, makes it durable and
// renames it over `base`. NotAllowed: the directory refuses the new file or
// the rename (no write permission, a sticky directory), nothing was changed.
Outcome<Replacement> replace_through_temp(int dir, const std::string& base, const struct stat* old,
                                          std::string_view content) {
  UniqueFd fd;
  std::string name;
  for (int attempt = 0; attempt < temp_name_attempts && !fd; ++attempt) {
    name = temp_name(base);
    // A new file is created 0666 less the umask, as an in-place write would;
    // a replacement starts private and takes the old bits before the rename.
    fd.reset(openat_retrying(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, old ? 0600 : 0666));
    if (fd) break;
    if (errno == EEXIST) continue;
    if (errno == EACCES || errno == EPERM || errno == EROFS) return Replacement::NotAllowed;
    return os_failure(errno);
  }
  if (!fd) return os_failure(EEXIST);

  TempFile temp(dir, std::move(name), std::move(fd));
  if (auto written = write_all(temp.fd(), content); !written) return std::unexpected(written.error());
  if (old) {
    if (auto copied = copy_attributes(temp.fd(), *old); !copied) return std::unexpected(copied.error());
  }
  if (::fsync(temp.fd()) != 0) return os_failure(errno);
  if (::renameat(dir, temp.name().c_str(), dir, base.c_str()) != 0) {
    if (errno == EACCES || errno == EPERM) return Replacement::NotAllowed;
    return os_failure(errno);
  }
  temp.mark_renamed();

  // Make the rename itself durable; the content already is, and a directory
  // that cannot be synced does not make the write fail.
  UniqueFd dir_for_sync(openat_retrying(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir_for_sync) (void)::fsync(dir_for_sync.get());
  return Replacement::Done;
}

}  // namespace

Outcome<FileBytes> read_file(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return nul_failure();
  const std::string c_path(path);
  UniqueFd fd(open_retrying(c_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return os_failure(errno);

  // One byte more than the size, so that the read that finds the end needs
  // no second buffer.
  std::size_t capacity = unknown_size_read_bytes;
  struct stat st{};
  if (::fstat(fd.get(), &st) == 0 && st.st_size > 0) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size >= SIZE_MAX) return fail(ErrorClass::OSError, "out of memory");
    capacity = static_cast<std::size_t>(size) + 1;
  }
  FileBytes bytes;
  bytes.data_.reset(static_cast<char*>(std::malloc(capacity)));
  if (!bytes.data_) return fail(ErrorClass::OSError, "out of memory");

  for (;;) {
    if (bytes.size_ == capacity) {
      // The file grew since fstat, or its size is unknown.
      if (capacity > SIZE_MAX / 2) return fail(ErrorClass::OSError, "out of memory");
      capacity *= 2;
      char* grown = static_cast<char*>(std::realloc(bytes.data_.get(), capacity));
      if (!grown) return fail(ErrorClass::OSError, "out of memory");
      (void)bytes.data_.release();
      bytes.data_.reset(grown);
    }
    const ssize_t n =
        ::read(fd.get(), bytes.data_.get() + bytes.size_, std::min(capacity - bytes.size_, max_io_bytes));
    if (n < 0) {
      if (errno == EINTR) continue;
      return os_failure(errno);
    }
    if (n == 0) break;
    bytes.size_ += static_cast<std::size_t>(n);
  }
  return bytes;
}

Outcome<void> replace_file(std::string_view path_view, std::string_view content) {
  if (path_view.find('\0') != std::string_view::npos) return nul_failure();
  const std::string path(path_view);

  // A path ending in a slash never names a regular file: the open gives the
  // exact error ("Is a directory", "Not a directory", ...).
  if (path.empty() || path.ends_with('/')) return write_in_place(path, content);

  auto target = follow_final_links(path);
  if (!target) return std::unexpected(target.error());
  const auto slash = target->rfind('/');
  const std::string dir_path =
      slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : target->substr(0, slash);
  const std::string base = slash == std::string::npos ? *target : target->substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return write_in_place(path, content);

  // O_PATH: the directory needs to be searchable, not readable, as for open.
  UniqueFd dir(open_retrying(dir_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return os_failure(errno);

  struct stat old{};
  bool exists = true;
  if (::fstatat(dir.get(), base.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return os_failure(errno);
    exists = false;
  }
  if (exists) {
    if (S_ISDIR(old.st_mode)) return os_failure(EISDIR);
    // Devices and pipes are written to, not replaced (and a link that
    // appeared meanwhile is left to the open to follow).
    if (!S_ISREG(old.st_mode)) return write_in_place(path, content);
    // A file that cannot be opened for writing stays unwritable: refuse with
    // the open's own error rather than replacing it.
    UniqueFd probe(openat_retrying(dir.get(), base.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (!probe) return os_failure(errno);
  }

  auto replaced = replace_through_temp(dir.get(), base, exists ? &old : nullptr, content);
  if (!replaced) return std::unexpected(std::move(replaced.error()));
  // The directory takes no new file, but the file itself may be writable.
  if (*replaced == Replacement::NotAllowed) return write_in_place(path, content);
  return {};
}

}  // namespace morvane::lockfile
