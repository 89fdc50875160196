#include "archive/destination.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "common/posix.hpp"

namespace morvane::archive {

namespace {

constexpr mode_t directory_mode = 0777;
constexpr mode_t file_mode = 0666;

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

// What is reported when opening the directory `name` in `parent` failed with
// `err`, `last` telling whether `name` is the directory asked for or one on
// the way to it. When something other than a directory stands there, the
// errors are mkdir's: "File exists" for the directory asked for, "Not a
// directory" for one on the way. A link is never followed: it is refused as
// "File exists" wherever it stands.
int in_the_way(int parent, const char* name, int err, bool last) {
  if (err != ENOTDIR && err != ELOOP) return err;
  struct stat st;
  const bool link = err == ELOOP || (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode));
  return link || last ? EEXIST : ENOTDIR;
}

// A regular file with no other name: rewritten where it is, not replaced.
bool is_lone_regular(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

// Opens the existing file `name` in `dir`, which was found to be a regular
// file with a single link, and truncates it, so that it keeps its inode, mode
// and owner. The open follows no link and never blocks (a FIFO swapped in
// meanwhile does not hang it); an empty handle when something else stands
// there by then. A refused open (a read-only file, say) is the failure.
PackageResult<UniqueFd> rewrite_existing(int dir, const char* name, const struct stat& found) {
  UniqueFd fd(openat_retrying(dir, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    if (errno == ELOOP || errno == ENOENT || errno == ENXIO || errno == EAGAIN) return UniqueFd();
    return os_failure(errno);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return os_failure(errno);
  if (!is_lone_regular(st) || st.st_dev != found.st_dev || st.st_ino != found.st_ino) return UniqueFd();
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return os_failure(errno);
  if (::ftruncate(fd.get(), 0) != 0) return os_failure(errno);
  return fd;
}

// Attempts at creating a file afresh when something keeps reappearing at its
// path between the removal and the creation.
constexpr int max_create_attempts = 4;

}  // namespace

PackageResult<Destination> Destination::open(std::string_view dest) {
  auto checked = system_path(dest);
  if (!checked) return io_failure(std::move(checked.error()));
  const std::string& path = *checked;
  if (const int err = make_directories(path); err != 0) return os_failure(err);
  const int fd = open_directory_handle(AT_FDCWD, path.empty() ? "." : path.c_str());
  if (fd < 0) return os_failure(errno);
  const std::size_t separator = path.empty() || path.back() == '/' ? 0 : 1;
  return Destination(UniqueFd(fd), path.size() + separator);
}

PackageResult<void> Destination::check_path(std::string_view rel) const {
  if (auto checked = system_path(rel); !checked) return io_failure(std::move(checked.error()));
  // The target, written as `dest` joined with `rel`, is held to the system's
  // path length, as path-based calls on it would be. This also bounds the
  // depth of every path resolved below.
  if (dest_length_ + rel.size() >= PATH_MAX) return os_failure(ENAMETOOLONG);
  return {};
}

void Destination::set_path(std::string_view rel) {
  // Empty and "." pieces name the directory they are in: they are dropped.
  path_.clear();
  ends_.clear();
  std::size_t start = 0;  // where the current piece begins in path_
  for (std::size_t i = 0; i <= rel.size(); ++i) {
    if (i < rel.size() && rel[i] != '/') {
      path_ += rel[i];
    } else if (path_.size() == start || path_.compare(start, std::string::npos, ".") == 0) {
      path_.resize(start);
    } else {
      ends_.push_back(path_.size());
      path_ += '/';
      start = path_.size();
    }
  }
  if (!path_.empty()) path_.pop_back();
}

std::string_view Destination::pieces(std::size_t from, std::size_t to) const {
  const std::size_t start = from == 0 ? 0 : ends_[from - 1] + 1;
  return std::string_view(path_).substr(start, ends_[to - 1] - start);
}

PackageResult<UniqueFd> Destination::make_child(int parent, std::string_view name, bool last) {
  if (created_directories_ >= max_created_directories) {
    return io_failure("tarball creates more than 20000 directories");
  }
  scratch_.assign(name);
  if (::mkdirat(parent, scratch_.c_str(), directory_mode) == 0) {
    ++created_directories_;
  } else if (errno != EEXIST) {
    return os_failure(errno);
  }
  const int fd = open_directory_handle(parent, scratch_.c_str(), O_NOFOLLOW);
  if (fd < 0) return os_failure(in_the_way(parent, scratch_.c_str(), errno, last));
  return UniqueFd(fd);
}

// Below `base` (the destination itself when null), the deepest directory on
// the requested path that exists, found by open_beneath without passing
// through a link: the whole path, then its parent (usually only the last
// piece is new), then by halving. Each probe is one system call, whatever the
// depth.
PackageResult<Destination::Existing> Destination::deepest_beneath(const Directory* base,
                                                                  std::size_t base_pieces) {
  const int from = base ? base->fd.get() : root_.get();
  const std::size_t wanted = ends_.size() - base_pieces;
  auto probe = [&](std::size_t n) {
    scratch_.assign(pieces(base_pieces, base_pieces + n));
    return UniqueFd(open_beneath(from, scratch_.c_str()));
  };
  std::size_t found = 0;             // this many pieces are known to exist
  std::size_t missing = wanted + 1;  // the fewest known not to
  UniqueFd found_fd;
  std::size_t n = wanted;
  while (n > found && n < missing) {
    if (UniqueFd fd = probe(n)) {
      found = n;
      found_fd = std::move(fd);
    } else if (errno == ENOENT) {
      missing = n;
    } else {
      // A link, a file or a closed door on the way: the walk names it exactly.
      if (beneath_unavailable(errno)) has_open_beneath_ = false;
      return deepest_by_walk(base, base_pieces);
    }
    n = n == wanted && missing == wanted ? wanted - 1 : found + (missing - found) / 2;
  }
  const int fd = found_fd ? found_fd.get() : from;
  return Existing{fd, std::move(found_fd), base_pieces + found};
}

// The same as deepest_beneath, one piece at a time: for systems without
// open_beneath, and to report what stands in the way.
PackageResult<Destination::Existing> Destination::deepest_by_walk(const Directory* base,
                                                                  std::size_t base_pieces) {
  int current = base ? base->fd.get() : root_.get();
  UniqueFd owned;
  std::size_t k = base_pieces;
  for (; k < ends_.size(); ++k) {
    scratch_.assign(pieces(k, k + 1));
    const int fd = open_directory_handle(current, scratch_.c_str(), O_NOFOLLOW);
    if (fd < 0) {
      if (errno == ENOENT) break;
      return os_failure(in_the_way(current, scratch_.c_str(), errno, k + 1 == ends_.size()));
    }
    owned.reset(fd);
    current = fd;
  }
  return Existing{current, std::move(owned), k};
}

int Destination::keep(std::string path, UniqueFd fd) {
  Directory* slot = nullptr;
  if (kept_.size() < max_kept_directories) {
    slot = &kept_.emplace_back();
  } else {
    slot = &*std::min_element(kept_.begin(), kept_.end(),
                              [](const Directory& a, const Directory& b) { return a.last_used < b.last_used; });
  }
  *slot = Directory{std::move(path), std::move(fd), ++clock_};
  return slot->fd.get();
}

PackageResult<int> Destination::open_directory(std::string_view rel) {
  set_path(rel);
  if (path_.empty()) return root_.get();

  // Start from the kept directory that covers most of the path.
  Directory* base = nullptr;
  for (Directory& d : kept_) {
    if (d.path == path_) {
      d.last_used = ++clock_;
      return d.fd.get();
    }
    const bool covers = path_.size() > d.path.size() && path_.starts_with(d.path) && path_[d.path.size()] == '/';
    if (covers && (!base || d.path.size() > base->path.size())) base = &d;
  }
  std::size_t base_pieces = 0;
  if (base) {
    base->last_used = ++clock_;
    base_pieces = static_cast<std::size_t>(std::lower_bound(ends_.begin(), ends_.end(), base->path.size()) -
                                           ends_.begin()) + 1;
  }

  auto existing = has_open_beneath_ ? deepest_beneath(base, base_pieces) : deepest_by_walk(base, base_pieces);
  if (!existing) return std::unexpected(std::move(existing.error()));
  if (existing->pieces == ends_.size()) return keep(path_, std::move(existing->owned));

  int parent = existing->fd;
  // New folders go into this one; so, most likely, will the next entry's.
  if (existing->owned) parent = keep(std::string(pieces(0, existing->pieces)), std::move(existing->owned));
  UniqueFd current;
  for (std::size_t k = existing->pieces; k < ends_.size(); ++k) {
    auto child = make_child(parent, pieces(k, k + 1), k + 1 == ends_.size());
    if (!child) return std::unexpected(std::move(child.error()));
    current = std::move(*child);
    parent = current.get();
  }
  return keep(path_, std::move(current));
}

PackageResult<void> Destination::make_directory(std::string_view rel) {
  if (auto ok = check_path(rel); !ok) return ok;
  auto dir = open_directory(rel);
  if (!dir) return std::unexpected(std::move(dir.error()));
  return {};
}

PackageResult<void> OutputFile::write(std::string_view bytes) {
  if (auto ok = write_all(fd_.get(), bytes); !ok) return io_failure(std::move(ok.error()));
  return {};
}

PackageResult<void> OutputFile::close() {
  // EINTR: the descriptor is closed all the same, and nothing was lost.
  if (::close(fd_.release()) != 0 && errno != EINTR) return os_failure(errno);
  return {};
}

PackageResult<OutputFile> Destination::create_file(std::string_view rel) {
  if (auto ok = check_path(rel); !ok) return std::unexpected(std::move(ok.error()));
  const std::size_t slash = rel.rfind('/');
  const std::string_view file_name = slash == std::string_view::npos ? rel : rel.substr(slash + 1);
  // "x/" or "x/." names a directory, which a regular file cannot be created as.
  if (file_name.empty() || file_name == ".") return os_failure(EISDIR);
  auto dir = open_directory(slash == std::string_view::npos ? std::string_view{} : rel.substr(0, slash));
  if (!dir) return std::unexpected(std::move(dir.error()));

  scratch_.assign(file_name);
  for (int attempt = 1;; ++attempt) {
    const int fd =
        openat_retrying(*dir, scratch_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, file_mode);
    if (fd >= 0) return OutputFile(UniqueFd(fd));
    if (errno != EEXIST || attempt == max_create_attempts) return os_failure(errno);
    // Something stands there already. A regular file with a single link is
    // rewritten in place.
    struct stat st;
    if (::fstatat(*dir, scratch_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && is_lone_regular(st)) {
      auto existing = rewrite_existing(*dir, scratch_.c_str(), st);
      if (!existing) return std::unexpected(std::move(existing.error()));
      if (*existing) return OutputFile(std::move(*existing));
    }
    // Anything else is replaced rather than opened: a symbolic link or a
    // hard-linked file is removed and its target or other names left as they
    // were, as are a FIFO, a socket or a device. unlinkat refuses a directory
    // with EISDIR.
    if (::unlinkat(*dir, scratch_.c_str(), 0) != 0 && errno != ENOENT) return os_failure(errno);
  }
}

}  // namespace morvane::archive
