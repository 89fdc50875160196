// System calls as every subsystem makes them: repeated when a signal
// interrupts them.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

namespace morvane {

// openat, repeated while it fails with EINTR. -1 with errno set on failure.
int openat_retrying(int dir, const char* path, int flags, mode_t mode = 0);

}  // namespace morvane
