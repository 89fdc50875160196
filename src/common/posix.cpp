#include "common/posix.hpp"

#include <cerrno>

namespace morvane {

int openat_retrying(int dir, const char* path, int flags, mode_t mode) {
  int fd;
  do fd = ::openat(dir, path, flags, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace morvane
