#include "archive/package_error.hpp"

namespace morvane::archive {

std::string PackageError::message() const {
  switch (kind) {
    case Kind::IntegrityMismatch: return "SHA-512 mismatch: expected " + text + ", got " + computed;
    case Kind::AbsolutePath: return "Absolute path in tarball: " + text;
    case Kind::PathTraversal: return "Path traversal in tarball: " + text;
    case Kind::Symlink: return "Symlink in tarball: " + text;
    case Kind::Io: return "IO error: " + text;
    case Kind::Internal: return text;
  }
  return text;
}

Failure PackageError::as(ErrorClass cls) const {
  return Failure{kind == Kind::Internal ? ErrorClass::InternalFault : cls, message()};
}

}  // namespace morvane::archive
