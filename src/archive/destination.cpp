#include "archive/destination.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

// Calls on the pieces of a relative path, skipping empty and "." pieces,
// which name the directory they are in.
template <class F>
std::expected<void, std::string> for_each_component(std::string_view rel, F&& f) {
  std::size_t pos = 0;
  while (pos <= rel.size()) {
    std::size_t slash = rel.find('/', pos);
    if (slash == std::string_view::npos) slash = rel.size();
    const std::string_view piece = rel.substr(pos, slash - pos);
    if (!piece.empty() && piece != ".") {
      if (auto ok = f(piece); !ok) return ok;
    }
    pos = slash + 1;
  }
  return {};
}

}  // namespace

std::expected<Destination, std::string> Destination::open(std::string_view dest) {
  if (dest.find('\0') != std::string_view::npos) return std::unexpected(nul_in_path_message);
  const std::string path(dest);
  if (const int err = make_directories(path); err != 0) return os_failure(err);
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return os_failure(errno);
  return Destination(UniqueFd(fd));
}

std::expected<UniqueFd, std::string> Destination::open_or_make(int parent, std::string_view name) {
  name_.assign(name);
  // Most folders are reopened more often than created, so try opening first.
  int fd = ::openat(parent, name_.c_str(), directory_flags);
  if (fd < 0 && errno == ENOENT) {
    if (::mkdirat(parent, name_.c_str(), directory_mode) != 0 && errno != EEXIST) return os_failure(errno);
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
  std::size_t index = 0;
  bool on_cached_path = true;
  auto ok = for_each_component(rel, [&](std::string_view piece) -> std::expected<void, std::string> {
    if (on_cached_path && index < levels_.size() && levels_[index].name == piece) {
      current = levels_[index++].fd.get();
      return {};
    }
    if (on_cached_path) {
      levels_.erase(levels_.begin() + static_cast<std::ptrdiff_t>(index), levels_.end());
      on_cached_path = false;
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
    return {};
  });
  if (!ok) return std::unexpected(std::move(ok.error()));
  return current;
}

std::expected<void, std::string> Destination::make_directory(std::string_view rel) {
  auto dir = open_directory(rel);
  if (!dir) return std::unexpected(std::move(dir.error()));
  return {};
}

std::expected<UniqueFd, std::string> Destination::create_file(std::string_view rel) {
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
