#include "common/attributes.hpp"

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

// Linux's and macOS's attribute calls are the ones this file knows. Elsewhere
// (the BSDs keep attributes and ACLs behind other interfaces) nothing can be
// said of a file's attributes, so none is ever copied.
#if defined(__linux__) && __has_include(<sys/xattr.h>)
#include <sys/xattr.h>
#define MORVANE_HAS_XATTR 1
#elif defined(__APPLE__)
#define MORVANE_HAS_XATTR 1
#else
#define MORVANE_HAS_XATTR 0
#endif
// The Darwin lines below are compiled in CI by zig's cross compiler for the
// macOS rows of the table of targets; they cannot run here.
#ifdef __APPLE__
#include <sys/acl.h>
#include <sys/types.h>

#include <cstdint>
#if __has_include(<sys/xattr.h>)
#include <sys/xattr.h>
#else
// The headers of a cross toolchain may lack <sys/xattr.h> (zig's do), though
// every macOS since 10.4 has these calls in libSystem.
extern "C" {
ssize_t flistxattr(int fd, char* names, size_t size, int options);
ssize_t fgetxattr(int fd, const char* name, void* value, size_t size, std::uint32_t position, int options);
int fsetxattr(int fd, const char* name, const void* value, size_t size, std::uint32_t position, int options);
int fremovexattr(int fd, const char* name, int options);
}
#endif
#endif

namespace morvane {
namespace {

#if MORVANE_HAS_XATTR
// The file-descriptor calls, in one shape: Darwin's take a position (used only
// by resource forks) and options besides.
#ifdef __APPLE__
constexpr int no_attribute = ENOATTR;
ssize_t list_names(int fd, char* out, std::size_t size) { return ::flistxattr(fd, out, size, 0); }
ssize_t get_value(int fd, const char* name, void* out, std::size_t size) {
  return ::fgetxattr(fd, name, out, size, 0, 0);
}
int set_value(int fd, const char* name, const void* value, std::size_t size) {
  return ::fsetxattr(fd, name, value, size, 0, 0);
}
int remove_value(int fd, const char* name) { return ::fremovexattr(fd, name, 0); }
#else
constexpr int no_attribute = ENODATA;
ssize_t list_names(int fd, char* out, std::size_t size) { return ::flistxattr(fd, out, size); }
ssize_t get_value(int fd, const char* name, void* out, std::size_t size) { return ::fgetxattr(fd, name, out, size); }
int set_value(int fd, const char* name, const void* value, std::size_t size) {
  return ::fsetxattr(fd, name, value, size, 0);
}
int remove_value(int fd, const char* name) { return ::fremovexattr(fd, name); }
#endif

// Room for the names or value most files have, so that one call answers.
constexpr std::size_t first_guess_bytes = 512;
// Another writer may make a list or value grow between asking its size and
// reading it; after this many rounds the file is taken as unreadable.
constexpr int size_rounds = 8;

// Reads what `call(buffer, size)` answers (a list of names or a value) into
// `out`, growing it until the answer fits. False with errno set on failure.
template <class Call>
bool read_sized(std::string& out, Call call) {
  if (out.size() < first_guess_bytes) out.resize(first_guess_bytes);
  for (int round = 0; round < size_rounds; ++round) {
    const ssize_t n = call(out.data(), out.size());
    if (n >= 0) {
      out.resize(static_cast<std::size_t>(n));
      return true;
    }
    if (errno != ERANGE) return false;
    const ssize_t needed = call(nullptr, 0);
    if (needed < 0) return false;
    out.resize(static_cast<std::size_t>(needed) + 1);
  }
  errno = ERANGE;
  return false;
}

// The names of the file's attributes; a file system without extended
// attributes has none.
bool list_attributes(int fd, std::string& names_text, std::vector<std::string_view>& names) {
  if (!read_sized(names_text, [fd](char* out, std::size_t size) { return list_names(fd, out, size); })) {
    if (errno != ENOTSUP && errno != EOPNOTSUPP) return false;
    names_text.clear();
  }
  // A list of NUL-terminated names.
  names.clear();
  for (std::size_t at = 0; at < names_text.size();) {
    const std::size_t end = names_text.find('\0', at);
    if (end == std::string::npos) break;
    if (end > at) names.emplace_back(names_text.data() + at, end - at);
    at = end + 1;
  }
  return true;
}

bool contains(const std::vector<std::string_view>& names, std::string_view name) {
  for (std::string_view n : names)
    if (n == name) return true;
  return false;
}
#endif

#ifdef __APPLE__
// Owner of one ACL in the system's working form.
struct Acl {
  acl_t acl;
  explicit Acl(acl_t a) : acl(a) {}
  Acl(const Acl&) = delete;
  Acl& operator=(const Acl&) = delete;
  ~Acl() {
    if (acl) ::acl_free(acl);
  }
};

// A file's ACL is kept in a protected attribute that flistxattr does not
// list, so it travels through the ACL calls: `to` gets exactly `from`'s
// extended ACL, or none where `from` has none (one inherited from the folder
// is dropped). ENOENT: no ACL; ENOTSUP: a file system without ACLs.
bool copy_extended_acl(int from, int to) {
  auto none = [] { return errno == ENOENT || errno == ENOTSUP; };
  Acl old(::acl_get_fd_np(from, ACL_TYPE_EXTENDED));
  if (old.acl) return ::acl_set_fd_np(to, old.acl, ACL_TYPE_EXTENDED) == 0;
  if (!none()) return false;
  Acl inherited(::acl_get_fd_np(to, ACL_TYPE_EXTENDED));
  if (!inherited.acl) return none();
  Acl empty(::acl_init(0));
  return empty.acl && ::acl_set_fd_np(to, empty.acl, ACL_TYPE_EXTENDED) == 0;
}
#endif

}  // namespace

bool copy_attributes([[maybe_unused]] int from, [[maybe_unused]] int to) {
#if MORVANE_HAS_XATTR
  std::string from_text, to_text;
  std::vector<std::string_view> from_names, to_names;
  if (!list_attributes(from, from_text, from_names) || !list_attributes(to, to_text, to_names)) return false;

  // What the new file was given at creation beyond the old one's attributes
  // (an ACL inherited from the folder's default ACL, say).
  for (std::string_view name : to_names) {
    if (contains(from_names, name)) continue;
    if (remove_value(to, std::string(name).c_str()) != 0 && errno != no_attribute) return false;
  }
  std::string value, present;
  for (std::string_view name_view : from_names) {
    const std::string name(name_view);
    if (!read_sized(value, [&](char* out, std::size_t size) { return get_value(from, name.c_str(), out, size); })) {
      if (errno == no_attribute) continue;  // removed since it was listed
      return false;
    }
    // An equal value already there (a security label given to every new file
    // in the folder, say) is left alone: setting it may need a permission
    // that keeping it does not.
    if (contains(to_names, name_view) &&
        read_sized(present, [&](char* out, std::size_t size) { return get_value(to, name.c_str(), out, size); }) &&
        present == value) {
      continue;
    }
    if (set_value(to, name.c_str(), value.data(), value.size()) != 0) return false;
  }
#ifdef __APPLE__
  if (!copy_extended_acl(from, to)) return false;
#endif
  return true;
#else
  // No way to see the old file's attributes, nor what the new one inherited.
  return false;
#endif
}

}  // namespace morvane
