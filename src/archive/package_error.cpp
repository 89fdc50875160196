#include "archive/package_error.hpp"

namespace morvane::archive {

std::string PackageError::message() const {
  switch (kind) {
    case Kind::AbsolutePath: return "Absolute path in tarball: " + text;
    case Kind::PathTraversal: return "Path traversal in tarball: " + text;
    case Kind::Symlink: return "Symlink in tarball: " + text;
    case Kind::Io: return "IO error: " + text;
  }
  return text;
}

}  // namespace morvane::archive
