// The failure value of the package-archive operations.
#pragma once

#include <string>

namespace morvane::archive {

struct PackageError {
  enum class Kind { IntegrityMismatch, AbsolutePath, PathTraversal, Symlink, Io };

  Kind kind;
  std::string text;      // entry path, description, or the expected integrity
  std::string computed;  // IntegrityMismatch only: the computed integrity string

  static PackageError io(std::string description) { return {Kind::Io, std::move(description), {}}; }

  // "SHA-512 mismatch: expected {}, got {}", "Absolute path in tarball: {}",
  // "Path traversal in tarball: {}", "Symlink in tarball: {}", "IO error: {}".
  std::string message() const;
};

}  // namespace morvane::archive
