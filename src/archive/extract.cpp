#include "archive/extract.hpp"

#include <algorithm>
#include <cstdint>

#include "archive/destination.hpp"
#include "archive/gzip_reader.hpp"
#include "archive/package_error.hpp"
#include "archive/tar_reader.hpp"
#include "common/utf8.hpp"

namespace morvane::archive {

namespace {

constexpr std::size_t max_compressed_bytes = 104'857'600;
constexpr std::uint64_t max_entries = 10'000;
constexpr std::uint64_t max_file_bytes = 52'428'800;
constexpr std::uint64_t max_total_bytes = 524'288'000;

std::unexpected<PackageError> path_error(PackageError::Kind kind, const std::string& path) {
  return std::unexpected(PackageError{kind, path, {}});
}

bool has_dot_dot_piece(std::string_view path) {
  for (std::size_t at = path.find(".."); at != std::string_view::npos; at = path.find("..", at + 1)) {
    if ((at == 0 || path[at - 1] == '/') && (at + 2 == path.size() || path[at + 2] == '/')) return true;
  }
  return false;
}

// Copies the current entry's data into a new file at `rel`.
PackageResult<void> write_file(Destination& dest, std::string_view rel, TarReader& tar) {
  auto file = dest.create_file(rel);
  if (!file) return std::unexpected(std::move(file.error()));
  for (;;) {
    auto chunk = tar.data_chunk();
    if (!chunk) return std::unexpected(std::move(chunk.error()));
    if (chunk->empty()) break;
    const std::string_view bytes(reinterpret_cast<const char*>(chunk->data()), chunk->size());
    if (auto ok = file->write(bytes); !ok) return ok;
  }
  return file->close();
}

PackageResult<std::vector<std::string>> extract(std::span<const unsigned char> data, std::string_view dest) {
  if (data.size() > max_compressed_bytes) return io_failure("compressed tarball exceeds 100MB limit");
  auto destination = Destination::open(dest);
  if (!destination) return std::unexpected(std::move(destination.error()));

  GzipReader gzip(data);
  TarReader tar(gzip);
  std::vector<std::string> written;
  std::uint64_t entries = 0;
  std::uint64_t total_bytes = 0;
  std::string path_text;
  std::string normalized;

  for (;;) {
    auto next = tar.next();
    if (next && *next == nullptr) break;
    // At the limit even a failed read reports the limit.
    if (entries >= max_entries) return io_failure("tarball exceeds 10000 entry limit");
    if (!next) return std::unexpected(std::move(next.error()));
    const TarEntry& entry = **next;

    path_text.clear();
    append_utf8_lossy(path_text, entry.path);
    if (entry.type == '1' || entry.type == '2') return path_error(PackageError::Kind::Symlink, path_text);
    if (!entry.path.empty() && entry.path[0] == '/') return path_error(PackageError::Kind::AbsolutePath, path_text);
    ++entries;

    // Backslashes separate directories too.
    normalized.assign(path_text);
    std::replace(normalized.begin(), normalized.end(), '\\', '/');
    if (has_dot_dot_piece(normalized)) return path_error(PackageError::Kind::PathTraversal, path_text);

    // The first component is the archive's top-level folder and is dropped.
    // Slashes that would start the rest are dropped too, so that "package//x"
    // lands at "x" under the destination rather than at "/x".
    const std::size_t slash = normalized.find('/');
    if (slash == std::string::npos) continue;
    const std::size_t start = normalized.find_first_not_of('/', slash);
    if (start == std::string::npos) continue;
    const std::string_view rel = std::string_view(normalized).substr(start);

    if (entry.type == '5') {
      if (auto ok = destination->make_directory(rel); !ok) return std::unexpected(std::move(ok.error()));
      continue;
    }
    if (entry.type != '0' && entry.type != '\0') continue;

    // A pax size record may give the data a length other than the header's
    // size field; both must keep within the limits.
    if (entry.header_size > max_file_bytes || entry.data_size > max_file_bytes) {
      return io_failure("file " + std::string(rel) + " exceeds 50MB limit");
    }
    total_bytes += std::max(entry.header_size, entry.data_size);
    if (total_bytes > max_total_bytes) return io_failure("total extracted size exceeds 500MB limit");

    if (auto ok = write_file(*destination, rel, tar); !ok) return std::unexpected(std::move(ok.error()));
    written.emplace_back(rel);
  }
  return written;
}

}  // namespace

Outcome<std::vector<std::string>> extract_tarball(std::span<const unsigned char> data, std::string_view dest) {
  auto written = extract(data, dest);
  if (!written) return std::unexpected(written.error().as(ErrorClass::OSError));
  return std::move(*written);
}

}  // namespace morvane::archive
