// Whole-file reading and replacing for the lockfile functions. Failures are
// OSError values with the operating system's text ("... (os error N)").
#pragma once

#include <string_view>

#include "common/failure.hpp"
#include "lockfile/document.hpp"

namespace morvane::lockfile {

// Reads the file at `path` to its end, whatever size it claimed. A buffer
// that cannot be had fails with "out of memory".
Outcome<Bytes> read_file(std::string_view path);

// Makes `content` the content of the file at `path`, creating it (0666 less
// the umask) if needed. The new content goes to a temporary file in the same
// directory (unnamed until just before the rename where the file system
// allows it), reaches stable storage and is then renamed over the file, so the
// file holds either its old or its new content at every moment, also after a
// failure or a crash. Visible effects are those of writing in place: an
// existing file keeps its owner, group, permission bits and extended
// attributes (ACLs among them), a symbolic link keeps pointing to the file it
// names, and failures carry the messages an in-place write gives. Where a
// replacement cannot keep what an in-place write keeps, the file is written
// in place: targets that are not regular files (devices, pipes, descriptors
// under /proc), mount points, hard-linked files, files with set-user-ID,
// set-group-ID or sticky bits, files whose owner and group or extended
// attributes a new file could not be given, and directories that take no new
// file.
Outcome<void> replace_file(std::string_view path, std::string_view content);

}  // namespace morvane::lockfile
