#include "archive/destination.hpp"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "common/os_error.hpp"

namespace morvane::archive {

namespace {

constexpr mode_t directory_mode = 0777;
constexpr mode_t file_mode = 0666;
// O_PATH: the handles only anchor *at calls, so no read permission is needed.
constexpr int directory_flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::unexpected<std::string> os_failure(int errnum) { return std::unexpected(os_error_text(errnum)); }

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The path without its last component ("" when there is none).
std::string parent_of(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string_view parent = path.substr(0, slash);
  while (parent.size() > 1 && parent.back() == '/') parent.remove_suffix(1);
  return std::string(parent.empty() ? "/" : parent);
}

// mkdir -p: 0 or the error number of the creation that failed. An existing
// directory, or a link to one, is accepted.
int make_directories(const std::string& path) {
  if (path.empty() || ::mkdir(path.c_str(), directory_mode) == 0) return 0;
  int err = errno;
  if (err == ENOENT) {
    const std::string parent = parent_of(path);
    if (!parent.empty() && parent != path) {
      if (const int parent_err = make_directories(parent); parent_err != 0) return parent_err;
    }
    if (::mkdir(path.c_str(), directory_mode) == 0) return 0;
    err = errno;
  }
  return is_directory(path) ? 0 : err;
}

// Opens the existing directory at the multi-component path `rel` below
// `parent` in one call, refusing to pass through any symbolic link or to leave
// `parent`. -1 when that fails for any reason, the kernel lacking openat2 included.
int open_beneath(int parent, const char* rel) {
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
  return static_cast<int>(::syscall(SYS_openat2, parent, rel, &how, sizeof how));
}

// A piece of a relative path that names a directory to enter: empty and "."
// pieces name the directory they are in.
bool is_step(std::string_view piece) { return !piece.empty() && piece != "."; }

}  // namespace

std::expected<Destination, std::string> Destination::open(std::string_view dest) {
  if (dest.find('\0') != std::string_view::npos) return std::unexpected(nul_in_path_message);
  const std::string path(dest);
  if (const int err = make_directories(path); err != 0) return os_failure(err);
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return os_failure(errno);
  const std::size_t separator = path.empty() || path.back() == '/' ? 0 : 1;
  return Destination(UniqueFd(fd), path.size() + separator);
}

std::expected<void, std::string> Destination::check_length(std::string_view rel) const {
  // The target, written as `dest` joined with `rel`, is held to the system's
  // path length, as path-based calls on it would be. This also bounds the
  // depth of every walk below.
  if (dest_length_ + rel.size() >= PATH_MAX) return os_failure(ENAMETOOLONG);
  return {};
}

std::expected<UniqueFd, std::string> Destination::open_or_make(int parent, std::string_view name) {
  name_.assign(name);
  // Most folders are reopened more often than created, so try opening first.
  int fd = ::openat(parent, name_.c_str(), directory_flags);
  if (fd < 0 && errno == ENOENT) {
    if (created_directories_ >= max_created_directories) {
      return std::unexpected("tarball creates more than 20000 directories");
    }
    if (::mkdirat(parent, name_.c_str(), directory_mode) == 0) {
      ++created_directories_;
    } else if (errno != EEXIST) {
      return os_failure(errno);
    }
    fd = ::openat(parent, name_.c_str(), directory_flags);
  }
  if (fd < 0) {
    // Something other than a directory stands there (a link is not followed):
    // report it as mkdir does.
    const int err = errno;
    return os_failure(err == ENOTDIR || err == ELOOP ? EEXIST : err);
  }
  return UniqueFd(fd);
}

std::expected<int, std::string> Destination::open_directory(std::string_view rel) {
  int current = root_.get();
  std::size_t index = 0;  // steps taken so far
  bool on_cached_path = true;
  bool tried_beneath = false;
  std::size_t pos = 0;
  while (pos <= rel.size()) {
    std::size_t slash = rel.find('/', pos);
    if (slash == std::string_view::npos) slash = rel.size();
    const std::string_view piece = rel.substr(pos, slash - pos);
    const std::size_t piece_at = pos;
    pos = slash + 1;
    if (!is_step(piece)) continue;

    if (on_cached_path && index < levels_.size() && levels_[index].name == piece) {
      current = levels_[index++].fd.get();
      continue;
    }
    if (on_cached_path) {
      levels_.erase(levels_.begin() + static_cast<std::ptrdiff_t>(index), levels_.end());
      on_cached_path = false;
    }
    if (index >= max_cached_levels && !tried_beneath) {
      // Past the cached levels, reach an existing deep directory in one call;
      // when that fails, the walk below creates what is missing and names
      // what is in the way.
      tried_beneath = true;
      name_.assign(rel.substr(piece_at));
      if (const int fd = open_beneath(current, name_.c_str()); fd >= 0) {
        deep_.reset(fd);
        return deep_.get();
      }
    }
    auto fd = open_or_make(current, piece);
    if (!fd) return std::unexpected(std::move(fd.error()));
    if (index < max_cached_levels) {
      levels_.push_back({std::string(piece), std::move(*fd)});
      current = levels_.back().fd.get();
    } else {
      deep_ = std::move(*fd);
      current = deep_.get();
    }
    ++index;
  }
  return current;
}

std::expected<void, std::string> Destination::make_directory(std::string_view rel) {
  if (auto ok = check_length(rel); !ok) return ok;
  auto dir = open_directory(rel);
  if (!dir) return std::unexpected(std::move(dir.error()));
  return {};
}

std::expected<UniqueFd, std::string> Destination::create_file(std::string_view rel) {
  if (auto ok = check_length(rel); !ok) return std::unexpected(std::move(ok.error()));
  const std::size_t slash = rel.rfind('/');
  const std::string_view file_name = slash == std::string_view::npos ? rel : rel.substr(slash + 1);
  // "x/" or "x/." names a directory, which a regular file cannot be created as.
  if (file_name.empty() || file_name == ".") return os_failure(EISDIR);
  auto dir = open_directory(slash == std::string_view::npos ? std::string_view{} : rel.substr(0, slash));
  if (!dir) return std::unexpected(std::move(dir.error()));

  name_.assign(file_name);
  for (int attempt = 0;; ++attempt) {
    const int fd = ::openat(*dir, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, file_mode);
    if (fd >= 0) return UniqueFd(fd);
    if (errno != EEXIST || attempt > 0) return os_failure(errno);
    // Replace what stands there rather than open it: a symbolic link or a hard
    // link is removed and its target left as it was. unlinkat refuses a
    // directory with EISDIR.
    if (::unlinkat(*dir, name_.c_str(), 0) != 0 && errno != ENOENT) return os_failure(errno);
  }
}

}  // namespace morvane::archive
