// Path and domain allow-list tests from any texts.
//
// The input is split at line feeds: the first line is the request, the others
// are the allow-list entries. Both tests run on every input; their answers are
// checked against the matching rules written out plainly (normalised copies,
// then the literal and the recursive or subdomain forms), a request holding
// ".." is never an allowed path, and the order of the entries never matters.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "permissions/allow_list.hpp"

namespace {

using morvane::permissions::is_domain_allowed;
using morvane::permissions::is_path_allowed;

std::string normalised(std::string_view path) {
  std::string out(path);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

bool model_path_allowed(std::string_view request, const std::vector<std::string>& entries) {
  const std::string n = normalised(request);
  if (n.find("..") != std::string::npos) return false;
  for (const std::string& entry : entries) {
    const std::string p = normalised(entry);
    if (p == n) return true;
    if (p.size() >= 3 && p.ends_with("/**")) {
      const std::string base = p.substr(0, p.size() - 3);
      if (n == base || n.starts_with(base + "/")) return true;
    }
  }
  return false;
}

bool model_domain_allowed(std::string_view domain, const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) {
    if (entry == domain) return true;
    if (entry.size() >= 2 && entry.starts_with("*.")) {
      const std::string base = entry.substr(2);
      if (domain == base || domain.ends_with("." + base)) return true;
    }
  }
  return false;
}

[[noreturn]] void fail(const char* what, std::string_view request) {
  std::fprintf(stderr, "allow-list invariant broken: %s\n  request: \"%.*s\"\n", what,
               static_cast<int>(request.size()), request.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::size_t first_end = rest.find('\n');
  const std::string_view request = rest.substr(0, first_end);
  std::vector<std::string> entries;
  if (first_end != std::string_view::npos) {
    rest.remove_prefix(first_end + 1);
    for (;;) {
      const std::size_t end = rest.find('\n');
      entries.emplace_back(rest.substr(0, end));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }
  // The module hands the tests views of its converted texts; owned strings
  // exercise the other instantiation.
  const std::vector<std::string_view> views(entries.begin(), entries.end());
  std::vector<std::string> reversed(entries.rbegin(), entries.rend());

  const bool path = is_path_allowed(request, std::span<const std::string_view>(views));
  if (path != is_path_allowed(request, std::span<const std::string>(entries))) fail("path: views and strings differ", request);
  if (path != is_path_allowed(request, std::span<const std::string>(reversed))) fail("path: entry order matters", request);
  if (path && normalised(request).find("..") != std::string::npos) fail("path: a request holding \"..\" is allowed", request);
  if (path != model_path_allowed(request, entries)) fail("path: disagrees with the model", request);

  const bool domain = is_domain_allowed(request, std::span<const std::string_view>(views));
  if (domain != is_domain_allowed(request, std::span<const std::string>(entries))) fail("domain: views and strings differ", request);
  if (domain != is_domain_allowed(request, std::span<const std::string>(reversed))) fail("domain: entry order matters", request);
  if (domain != model_domain_allowed(request, entries)) fail("domain: disagrees with the model", request);
  return 0;
}
