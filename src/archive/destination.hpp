// The destination directory of an extraction. Everything below it is reached
// relative to a handle on it without following symbolic links, so that links
// already present there are never written through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/package_error.hpp"
#include "common/posix.hpp"
#include "common/unique_fd.hpp"

namespace morvane::archive {

// One extraction may create at most this many directories below the
// destination, twice the entry limit: a small archive of deep, distinct paths
// could otherwise fill the disk (or memory, on tmpfs) with empty directories,
// while real packages have far fewer folders than files.
inline constexpr std::uint64_t max_created_directories = 20'000;

// A file that Destination::create_file made, open for writing. Its owner
// writes it and closes it with close(), where a failure to close (a write
// that the file system completes only then, on NFS say) is reported; a file
// not closed so is closed when dropped, its errors ignored.
class OutputFile {
 public:
  explicit OutputFile(UniqueFd fd) : fd_(std::move(fd)) {}

  // Writes all of `bytes` at the end of what was written before.
  PackageResult<void> write(std::string_view bytes);
  PackageResult<void> close();

 private:
  UniqueFd fd_;
};

class Destination {
 public:
  // Creates `dest` and its missing ancestors (0777 before the umask) and opens
  // it. `dest` is used as given: links on the way to it are followed, and an
  // empty `dest` is the current directory.
  static PackageResult<Destination> open(std::string_view dest);

  // Creates the directory at the relative path `rel` and its missing ancestors.
  PackageResult<void> make_directory(std::string_view rel);

  // Returns the regular file at the relative path `rel` open for writing and
  // empty, creating its missing ancestors first. An existing regular file with
  // a single link is truncated and keeps its inode, mode and owner; a file is
  // created (0666 before the umask) where there was none, and where anything
  // else stood, which is removed first (a link is never written through).
  PackageResult<OutputFile> create_file(std::string_view rel);

 private:
  Destination(UniqueFd root, std::size_t dest_length) : root_(std::move(root)), dest_length_(dest_length) {}

  // A directory below the destination, open, with its path relative to it
  // (pieces joined by single slashes).
  struct Directory {
    std::string path;
    UniqueFd fd;
    std::uint64_t last_used = 0;
  };
  // A directory that exists, as far down the requested path as it goes.
  struct Existing {
    int fd;              // borrowed: the base's, or owned by `owned`
    UniqueFd owned;
    std::size_t pieces;  // pieces of the requested path it covers
  };

  // Refuses a relative path that holds a NUL byte or that, joined to `dest`,
  // is longer than the system takes.
  PackageResult<void> check_path(std::string_view rel) const;
  // Sets path_ and ends_ to the pieces of `rel` that name directories.
  void set_path(std::string_view rel);
  // Pieces [from, to) of path_, with the slashes between them.
  std::string_view pieces(std::size_t from, std::size_t to) const;
  PackageResult<int> open_directory(std::string_view rel);
  PackageResult<Existing> deepest_beneath(const Directory* base, std::size_t base_pieces);
  PackageResult<Existing> deepest_by_walk(const Directory* base, std::size_t base_pieces);
  // Creates (or opens) the directory `name` in `parent`; `last` when it ends the path.
  PackageResult<UniqueFd> make_child(int parent, std::string_view name, bool last);
  int keep(std::string path, UniqueFd fd);

  UniqueFd root_;
  std::size_t dest_length_;  // bytes of `dest` and the separator joined after it

  // Directories reached for earlier entries. Consecutive entries mostly share
  // their folders, and the deepest existing ancestor of a newly created
  // folder is where its siblings will be created next: keeping a few such
  // handles makes each entry's work independent of its depth.
  static constexpr std::size_t max_kept_directories = 8;
  std::vector<Directory> kept_;
  std::uint64_t clock_ = 0;

  std::string path_;               // the path being resolved, pieces joined by single slashes
  std::vector<std::size_t> ends_;  // where each of its pieces ends
  std::string scratch_;            // NUL-terminated path handed to the system
  bool has_open_beneath_ = true;  // cleared when the system lacks it
  std::uint64_t created_directories_ = 0;
};

}  // namespace morvane::archive
