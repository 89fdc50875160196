// Path and domain allow-list tests.
//
// Both are pure byte comparisons: no case folding, no Unicode normalisation,
// nothing resolved on disk. A path entry "dir/**" covers dir and everything
// below it; a domain entry "*.example.org" covers example.org and every
// subdomain of it. Every other entry is compared literally.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace morvane::permissions {

namespace detail {

// Paths compare with backslashes read as slashes; comparing through this map
// avoids building normalised copies of the request and of every entry.
constexpr char path_byte(char c) { return c == '\\' ? '/' : c; }

constexpr bool path_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (path_byte(a[i]) != path_byte(b[i])) return false;
  return true;
}

constexpr bool path_entry_matches(std::string_view request, std::string_view entry) {
  if (path_equal(entry, request)) return true;
  // A recursive entry ends with "/**" (a backslash counts as the slash); the
  // base before it may be empty, so "/**" covers every path starting with "/".
  const std::size_t n = entry.size();
  if (n < 3 || path_byte(entry[n - 3]) != '/' || entry[n - 2] != '*' || entry[n - 1] != '*')
    return false;
  const std::string_view base = entry.substr(0, n - 3);
  if (request.size() < base.size()) return false;
  if (!path_equal(base, request.substr(0, base.size()))) return false;
  return request.size() == base.size() || path_byte(request[base.size()]) == '/';
}

constexpr bool domain_entry_matches(std::string_view domain, std::string_view entry) {
  if (entry == domain) return true;
  if (!entry.starts_with("*.")) return false;
  const std::string_view base = entry.substr(2);
  if (domain == base) return true;
  return domain.size() > base.size() && domain.ends_with(base) &&
         domain[domain.size() - base.size() - 1] == '.';
}

}  // namespace detail

// True when `request` is covered by one of `entries`. A request holding ".."
// anywhere (a plain substring test, not a component test) is never allowed.
template <class Text>
bool is_path_allowed(std::string_view request, std::span<const Text> entries) {
  if (request.find("..") != std::string_view::npos) return false;
  for (const Text& e : entries)
    if (detail::path_entry_matches(request, std::string_view(e))) return true;
  return false;
}

template <class Text>
bool is_domain_allowed(std::string_view domain, std::span<const Text> entries) {
  for (const Text& e : entries)
    if (detail::domain_entry_matches(domain, std::string_view(e))) return true;
  return false;
}

}  // namespace morvane::permissions
