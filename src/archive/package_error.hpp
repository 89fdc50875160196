// The one failure value of the archive subsystem: the gzip and tar readers,
// the destination, extraction and integrity verification all fail with it.
#pragma once

#include <expected>
#include <string>

#include "common/failure.hpp"
#include "common/posix.hpp"

namespace morvane::archive {

struct PackageError {
  // Internal: the crypto library could not compute a digest at all, a fault
  // of the machine or the library that no input causes.
  enum class Kind { IntegrityMismatch, AbsolutePath, PathTraversal, Symlink, Io, Internal };

  Kind kind;
  std::string text;      // the entry path, a description, or the expected integrity string
  std::string computed;  // IntegrityMismatch only: the integrity string computed

  static PackageError io(std::string description) { return {Kind::Io, std::move(description), {}}; }

  // "SHA-512 mismatch: expected {}, got {}", "Absolute path in tarball: {}",
  // "Path traversal in tarball: {}", "Symlink in tarball: {}", "IO error: {}";
  // an internal fault's text as it stands.
  std::string message() const;

  // The failure as the caller of an operation sees it: every kind is raised
  // as the operation's class (`cls`), an internal fault as such.
  Failure as(ErrorClass cls) const;
};

template <class T>
using PackageResult = std::expected<T, PackageError>;

inline std::unexpected<PackageError> io_failure(std::string description) {
  return std::unexpected(PackageError::io(std::move(description)));
}

// An Io error with the system's description of `errnum`.
inline std::unexpected<PackageError> os_failure(int errnum) { return io_failure(os_error_text(errnum)); }

}  // namespace morvane::archive
