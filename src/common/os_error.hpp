// Operating-system failure descriptions: the system's text for an error number
// followed by " (os error N)", e.g. "No such file or directory (os error 2)".
#pragma once

#include <string>

namespace morvane {

std::string os_error_text(int errnum);

// The message for a path that holds a NUL byte: such a path is refused before
// any system call so that it is never silently cut short.
inline constexpr const char* nul_in_path_message = "file name contained an unexpected NUL byte";

}  // namespace morvane
