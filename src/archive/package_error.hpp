// The failure value of extracting an archive.
#pragma once

#include <string>

namespace morvane::archive {

struct PackageError {
  enum class Kind { AbsolutePath, PathTraversal, Symlink, Io };

  Kind kind;
  std::string text;  // entry path or description

  static PackageError io(std::string description) { return {Kind::Io, std::move(description)}; }

  // "Absolute path in tarball: {}", "Path traversal in tarball: {}",
  // "Symlink in tarball: {}", "IO error: {}".
  std::string message() const;
};

}  // namespace morvane::archive
