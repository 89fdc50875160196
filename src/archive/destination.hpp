// The destination directory of an extraction. Everything below it is reached
// relative to a handle on it, one component at a time, without following
// symbolic links, so that links already present there are never written through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.hpp"

namespace morvane::archive {

// One extraction may create at most this many directories below the
// destination, twice the entry limit: a small archive of deep, distinct paths
// could otherwise fill the disk (or memory, on tmpfs) with empty directories,
// while real packages have far fewer folders than files.
inline constexpr std::uint64_t max_created_directories = 20'000;

class Destination {
 public:
  // Creates `dest` and its missing ancestors (0777 before the umask) and opens
  // it. `dest` is used as given: links on the way to it are followed, and an
  // empty `dest` is the current directory.
  static std::expected<Destination, std::string> open(std::string_view dest);

  // Creates the directory at the relative path `rel` and its missing ancestors.
  std::expected<void, std::string> make_directory(std::string_view rel);

  // Creates the regular file at the relative path `rel` afresh (0666 before the
  // umask), creating its missing ancestors first, and returns it open for
  // writing. Whatever non-directory stood at that path is removed first.
  std::expected<UniqueFd, std::string> create_file(std::string_view rel);

 private:
  Destination(UniqueFd root, std::size_t dest_length) : root_(std::move(root)), dest_length_(dest_length) {}

  std::expected<void, std::string> check_length(std::string_view rel) const;
  std::expected<int, std::string> open_directory(std::string_view rel);
  std::expected<UniqueFd, std::string> open_or_make(int parent, std::string_view name);

  // Directories opened so far, outermost first: levels_[i] is the directory
  // named by the first i + 1 components of the last path walked. Consecutive
  // archive entries mostly share their folders, so this saves reopening them.
  struct Level {
    std::string name;
    UniqueFd fd;
  };
  // Deeper directories are reached through one transient handle, which keeps
  // the number of open descriptors small whatever the depth.
  static constexpr std::size_t max_cached_levels = 32;

  UniqueFd root_;
  std::size_t dest_length_;  // bytes of `dest` and the separator joined after it
  std::vector<Level> levels_;
  UniqueFd deep_;
  std::string name_;  // NUL-terminated copy of the path piece being opened
  std::uint64_t created_directories_ = 0;
};

}  // namespace morvane::archive
