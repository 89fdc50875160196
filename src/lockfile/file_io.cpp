#include "lockfile/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "common/attributes.hpp"
#include "common/bytes.hpp"
#include "common/posix.hpp"
#include "common/unique_fd.hpp"

namespace morvane::lockfile {
namespace {

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

// Truncates and rewrites the file: not atomic, used only where a replacement
// is impossible or would change what the path is.
Outcome<void> write_in_place(const std::string& path, std::string_view content) {
  UniqueFd fd(openat_retrying(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd) return os_failure(errno);
  if (auto written = write_all(fd.get(), content); !written) return fail(ErrorClass::OSError, written.error());
  return {};
}

// The file that an open of a path would reach, or create through a dangling
// link, found by following the symbolic links at the path's end.
struct FinalTarget {
  std::string path;
  bool through_descriptor = false;  // a descriptor link was on the way
};

Outcome<FinalTarget> follow_final_links(std::string path) {
  FinalTarget found;
  char text[PATH_MAX];  // a link's text is shorter
  for (int hops = 0;; ++hops) {
    // Anything but a readable link ends the walk; an error in the directories
    // on the way is reported when the directory is opened.
    const ssize_t n = ::readlink(path.c_str(), text, sizeof text);
    if (n < 0) {
      // Where /dev/fd holds the descriptors themselves rather than links to
      // /proc (Darwin, the BSDs), a path into it stands for an open file too.
      if (path.starts_with("/dev/fd/")) found.through_descriptor = true;
      found.path = std::move(path);
      return found;
    }
    if (hops == max_symlink_hops) return os_failure(ELOOP);
    if (is_descriptor_link(path.c_str())) found.through_descriptor = true;
    const std::string_view target(text, static_cast<std::size_t>(n));
    if (target.starts_with('/')) {
      path = target;
    } else {
      const auto slash = path.rfind('/');
      path = slash == std::string::npos ? std::string(target) : path.substr(0, slash + 1).append(target);
    }
  }
}

// A name no other writer can predict: ".<stem>.<16 hex digits>.tmp". Should
// the system have no randomness to give, O_EXCL still keeps the name safe.
std::string temp_name(std::string_view base) {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t bits = 0;
  if (!random_bytes(&bits, sizeof bits)) {
    bits = counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL ^ static_cast<std::uint64_t>(::getpid()) << 40;
  }
  std::string name = ".";
  name += base.substr(0, max_temp_stem_bytes);
  name += '.';
  for (int shift = 60; shift >= 0; shift -= 4) name += hex_digits[bits >> shift & 0xF];
  name += ".tmp";
  return name;
}

// What a replacement came to: done, or better written in place.
enum class Replacement { Done, InPlace };

// The new content's file until it takes the target's name. Where the file
// system allows it, the file has no name at all until just before the rename,
// so that a writer killed before then leaves nothing behind; otherwise it has
// a hidden name beside the target from the start. A file that never reaches
// the target's name is removed.
class TempFile {
 public:
  enum class Kind { Unnamed, Named };
  // What rename_over came to. Refused: the directory refuses the rename, and
  // would refuse any other file's. Unnameable: an unnamed file cannot be given
  // a name here, though a named one may be renamed.
  enum class Rename { Done, Refused, Unnameable };

  // The temporary file in `dir`, with permission bits `mode` less the umask;
  // nullopt when the directory takes no new file (no write permission, a
  // read-only file system), or the system or file system no unnamed one.
  static Outcome<std::optional<TempFile>> create(int dir, const std::string& base, Kind kind, mode_t mode) {
    if (kind == Kind::Unnamed) {
      UniqueFd fd(open_unnamed_file(dir, mode));
      if (fd) return TempFile(dir, {}, std::move(fd));
      if (is_refusal(errno) || unnamed_unsupported(errno)) return std::nullopt;
      return os_failure(errno);
    }
    for (int attempt = 0; attempt < temp_name_attempts; ++attempt) {
      std::string name = temp_name(base);
      UniqueFd fd(openat_retrying(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
      if (fd) return TempFile(dir, std::move(name), std::move(fd));
      if (errno == EEXIST) continue;
      if (is_refusal(errno)) return std::nullopt;
      return os_failure(errno);
    }
    return os_failure(EEXIST);
  }

  // A moved-from file must not remove the name it handed over.
  TempFile(TempFile&& o) noexcept
      : dir_(o.dir_), name_(std::exchange(o.name_, {})), fd_(std::move(o.fd_)), renamed_(o.renamed_) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    fd_.reset();
    if (!name_.empty() && !renamed_) ::unlinkat(dir_, name_.c_str(), 0);
  }

  int fd() const { return fd_.get(); }

  // Gives the file a name (if it has none yet) and renames it over `base`.
  // Nothing is changed unless it comes to Rename::Done.
  Outcome<Rename> rename_over(const std::string& base) {
    if (name_.empty()) {
      if (auto named = give_name(base); !named) return std::unexpected(named.error());
      if (name_.empty()) return Rename::Unnameable;
    }
    if (::renameat(dir_, name_.c_str(), dir_, base.c_str()) != 0) {
      if (is_refusal(errno) || is_mount_refusal(errno)) return Rename::Refused;
      return os_failure(errno);
    }
    renamed_ = true;
    return Rename::Done;
  }

 private:
  TempFile(int dir, std::string name, UniqueFd fd) : dir_(dir), name_(std::move(name)), fd_(std::move(fd)) {}

  static bool is_refusal(int err) { return err == EACCES || err == EPERM || err == EROFS; }
  // A rename cannot replace a mount point (EBUSY), nor reach across mounts
  // (EXDEV): a file mounted over the target's name, say.
  static bool is_mount_refusal(int err) { return err == EBUSY || err == EXDEV; }
  // Systems, file systems and kernels without unnamed files answer with one
  // of these.
  static bool unnamed_unsupported(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

  // Links the unnamed file under a fresh hidden name. Leaves name_ empty when
  // that is not possible here.
  Outcome<void> give_name(const std::string& base) {
    for (int attempt = 0; attempt < temp_name_attempts; ++attempt) {
      std::string name = temp_name(base);
      const int err = link_unnamed_file(fd_.get(), dir_, name.c_str());
      if (err == 0) {
        name_ = std::move(name);
        return {};
      }
      if (err == EEXIST) continue;
      if (err == ENOENT || is_refusal(err)) return {};
      return os_failure(err);
    }
    return os_failure(EEXIST);
  }

  int dir_;
  std::string name_;  // empty while the file has none
  UniqueFd fd_;
  bool renamed_ = false;
};

// Gives the new file the owner and group of the one it replaces; false when
// the caller may not (only root may give a file away, and a group only to a
// member of it).
bool take_owner(int fd, const struct stat& old) {
  struct stat now{};
  if (::fstat(fd, &now) != 0) return false;
  if (now.st_uid == old.st_uid && now.st_gid == old.st_gid) return true;
  return ::fchown(fd, old.st_uid, old.st_gid) == 0;
}

// Writes `content` to a new temporary file in `dir`, makes it durable and
// renames it over `base`, keeping the owner, group, permission bits and
// extended attributes (ACLs among them) of the old file, `old` being its
// status and `old_fd` open on it. `dir_readable` tells whether `dir` can be
// synced. Replacement::InPlace: the directory refuses the new file or the
// rename, or the new file could not have the old one's owner, group or
// attributes; nothing was changed, and nothing is left behind.
Outcome<Replacement> replace_through_temp(int dir, bool dir_readable, const std::string& base,
                                          const struct stat* old, int old_fd, std::string_view content) {
  // In an append-only or immutable folder a temporary file could be made but
  // neither renamed nor removed again.
  if (folder_refuses_rename(dir)) return Replacement::InPlace;
  for (const TempFile::Kind kind : {TempFile::Kind::Unnamed, TempFile::Kind::Named}) {
    // A new file is created 0666 less the umask, as an in-place write would;
    // a replacement starts private and takes the old bits before the rename.
    auto created = TempFile::create(dir, base, kind, old ? 0600 : 0666);
    if (!created) return std::unexpected(created.error());
    if (!*created) {
      if (kind == TempFile::Kind::Unnamed) continue;
      return Replacement::InPlace;
    }
    TempFile& temp = **created;
    if (old && !take_owner(temp.fd(), *old)) return Replacement::InPlace;
    // The attributes are copied before the content is written, as they were
    // there before an in-place write: a write drops file capabilities either
    // way. An ACL copied whole keeps its mask apart from the group's own
    // entry; the permission bits set below then change nothing of it.
    if (old && !copy_attributes(old_fd, temp.fd())) return Replacement::InPlace;
    if (auto written = write_all(temp.fd(), content); !written) return fail(ErrorClass::OSError, written.error());
    if (old && ::fchmod(temp.fd(), old->st_mode & 0777) != 0) return os_failure(errno);
    if (::fsync(temp.fd()) != 0) return os_failure(errno);
    auto renamed = temp.rename_over(base);
    if (!renamed) return std::unexpected(renamed.error());
    // A refused rename would meet the same refusal with a named file.
    if (*renamed == TempFile::Rename::Refused) return Replacement::InPlace;
    if (*renamed == TempFile::Rename::Unnameable) continue;
    // Make the rename itself durable; the content already is, and a directory
    // that cannot be synced does not make the write fail.
    if (dir_readable) (void)::fsync(dir);
    return Replacement::Done;
  }
  return Replacement::InPlace;
}

}  // namespace

Outcome<Bytes> read_file(std::string_view path_view) {
  auto path = system_path(path_view);
  if (!path) return fail(ErrorClass::OSError, path.error());
  UniqueFd fd(openat_retrying(AT_FDCWD, path->c_str(), O_RDONLY | O_CLOEXEC));
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
  Bytes bytes;
  if (!bytes.reserve(capacity)) return fail(ErrorClass::OSError, "out of memory");
  for (;;) {
    const std::size_t held = bytes.view().size();
    // The file grew since fstat, or its size is unknown.
    if (held == bytes.capacity() && (held > SIZE_MAX / 2 || !bytes.reserve(2 * held))) {
      return fail(ErrorClass::OSError, "out of memory");
    }
    const ssize_t n = ::read(fd.get(), bytes.end(), std::min(bytes.capacity() - held, max_io_bytes));
    if (n < 0) {
      if (errno == EINTR) continue;
      return os_failure(errno);
    }
    if (n == 0) break;
    bytes.grow_by(static_cast<std::size_t>(n));
  }
  return bytes;
}

Outcome<void> replace_file(std::string_view path_view, std::string_view content) {
  auto checked = system_path(path_view);
  if (!checked) return fail(ErrorClass::OSError, checked.error());
  const std::string& path = *checked;

  // A path ending in a slash never names a regular file: the open gives the
  // exact error ("Is a directory", "Not a directory", ...).
  if (path.empty() || path.ends_with('/')) return write_in_place(path, content);

  auto final_target = follow_final_links(path);
  if (!final_target) return std::unexpected(final_target.error());
  // A descriptor link stands for a file someone holds open: a replacement
  // would leave the holder with the old file, so it is written in place.
  if (final_target->through_descriptor) return write_in_place(path, content);
  const std::string& target = final_target->path;
  if (target != path) {
    // A link is replaced at the file it names only when its text leads to the
    // same file as the link itself does; a relative text read below a linked
    // folder may not, and is written in place.
    struct stat via_link{}, at_target{};
    if (::stat(path.c_str(), &via_link) == 0 &&
        (::stat(target.c_str(), &at_target) != 0 || via_link.st_dev != at_target.st_dev ||
         via_link.st_ino != at_target.st_ino)) {
      return write_in_place(path, content);
    }
  }
  const auto slash = target.rfind('/');
  const std::string dir_path =
      slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : target.substr(0, slash);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return write_in_place(path, content);

  // The folder's handle is open for reading where it may be, so that the
  // rename can be synced through it; else it only anchors the calls below.
  // A folder the handle cannot be had for (where a handle needs read
  // permission, not only search permission) is written in place; the open
  // then reports any other refusal.
  bool dir_readable = true;
  UniqueFd dir(openat_retrying(AT_FDCWD, dir_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir && errno == EACCES && !directory_handle_needs_read) {
    dir_readable = false;
    dir = UniqueFd(open_directory_handle(AT_FDCWD, dir_path.c_str()));
  }
  if (!dir) return errno == EACCES ? write_in_place(path, content) : os_failure(errno);

  EntryStat entry{};
  bool exists = true;
  if (stat_entry(dir.get(), base.c_str(), entry) != 0) {
    if (errno != ENOENT) return os_failure(errno);
    exists = false;
  }
  const struct stat& old_st = entry.st;
  UniqueFd old_file;
  if (exists) {
    if (S_ISDIR(old_st.st_mode)) return os_failure(EISDIR);
    // Devices and pipes are written to, not replaced (and a link that
    // appeared meanwhile is left to the open to follow).
    if (!S_ISREG(old_st.st_mode)) return write_in_place(path, content);
    // A file mounted over the name (a bind mount, as containers use) cannot
    // be renamed over.
    if (entry.mount_root) return write_in_place(path, content);
    // A file that cannot be opened for writing stays unwritable: refuse with
    // the open's own error rather than replacing it.
    old_file = UniqueFd(openat_retrying(dir.get(), base.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (!old_file) return os_failure(errno);
    // A new file would leave the other names of a hard-linked file with the
    // old content, and must never be given set-user-ID, set-group-ID or
    // sticky bits: such files are written in place.
    if (old_st.st_nlink > 1 || (old_st.st_mode & (S_ISUID | S_ISGID | S_ISVTX)) != 0) {
      return write_in_place(path, content);
    }
  }

  auto replaced =
      replace_through_temp(dir.get(), dir_readable, base, exists ? &old_st : nullptr, old_file.get(), content);
  if (!replaced) return std::unexpected(std::move(replaced.error()));
  if (*replaced == Replacement::InPlace) return write_in_place(path, content);
  return {};
}

}  // namespace morvane::lockfile
