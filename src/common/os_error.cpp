#include "common/os_error.hpp"

#include <cstring>
#include <string>

namespace morvane {

std::string os_error_text(int errnum) {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
  const char* text = ::strerror_r(errnum, buf, sizeof buf);
  std::string out = text ? text : "Unknown error";
  out += " (os error ";
  out += std::to_string(errnum);
  out += ')';
  return out;
}

}  // namespace morvane
