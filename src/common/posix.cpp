#include "common/posix.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace morvane {

namespace {

// strerror_r has two declarations. The GNU one (glibc with _GNU_SOURCE, which
// C++ compilers define there) returns the text, which may be a static string
// rather than buf. The XSI one (musl, macOS, the BSDs) returns 0 or an error
// number and writes the text into buf; for a number it does not know, macOS
// fills buf with "Unknown error: N" and returns EINVAL, as strerror says.
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }
[[maybe_unused]] const char* strerror_result(int, const char* buf) { return buf[0] != '\0' ? buf : nullptr; }

}  // namespace

std::string os_error_text(int errnum) {
  char buf[256] = {};
  const char* text = strerror_result(::strerror_r(errnum, buf, sizeof buf), buf);
  std::string out = text ? text : "Unknown error";
  out += " (os error ";
  out += std::to_string(errnum);
  out += ')';
  return out;
}

std::expected<std::string, std::string> system_path(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) {
    return std::unexpected("file name contained an unexpected NUL byte");
  }
  return std::string(path);
}

int openat_retrying(int dir, const char* path, int flags, mode_t mode) {
  int fd;
  do fd = ::openat(dir, path, flags, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

std::expected<void, std::string> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), std::min(bytes.size(), max_io_bytes));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error_text(errno));
    }
    if (n == 0) return std::unexpected("failed to write whole buffer");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace morvane
