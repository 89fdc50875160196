#include "permissions/budget.hpp"

#include <span>

#include "permissions/allow_list.hpp"

namespace morvane::permissions {
namespace {

enum class Kind { Subprocess, Network, FilesystemRead, FilesystemWrite };

constexpr std::string_view type_name(Kind k) {
  switch (k) {
    case Kind::Subprocess: return "subprocess";
    case Kind::Network: return "network.outbound";
    case Kind::FilesystemRead: return "filesystem.read";
    case Kind::FilesystemWrite: return "filesystem.write";
  }
  return {};
}

std::span<const std::string> as_span(const TextList* list) {
  return list ? std::span<const std::string>(*list) : std::span<const std::string>();
}

// Walks the skill's requests in the fixed order and calls `on_violation(kind,
// requested)` for each uncovered one; stops early when it returns false.
// An absent list in the skill requests nothing; an absent list in the budget
// allows nothing.
template <class OnViolation>
void walk(const Permissions& budget, const Permissions& skill, OnViolation&& on_violation) {
  if (skill.subprocess == true && budget.subprocess != true) {
    if (!on_violation(Kind::Subprocess, std::string_view("true"))) return;
  }
  if (const TextList* domains = skill.network_outbound()) {
    const auto allowed = as_span(budget.network_outbound());
    for (const std::string& d : *domains)
      if (!is_domain_allowed(d, allowed) && !on_violation(Kind::Network, std::string_view(d))) return;
  }
  if (const TextList* paths = skill.filesystem_read()) {
    const auto allowed = as_span(budget.filesystem_read());
    for (const std::string& p : *paths)
      if (!is_path_allowed(p, allowed) && !on_violation(Kind::FilesystemRead, std::string_view(p))) return;
  }
  if (const TextList* paths = skill.filesystem_write()) {
    const auto allowed = as_span(budget.filesystem_write());
    for (const std::string& p : *paths)
      if (!is_path_allowed(p, allowed) && !on_violation(Kind::FilesystemWrite, std::string_view(p))) return;
  }
}

std::string denial_message(Kind kind, std::string_view skill_name, std::string_view requested) {
  std::string m = "Permission denied: ";
  m += skill_name;
  switch (kind) {
    case Kind::Subprocess:
      m += " requires subprocess access, but project budget does not allow it";
      return m;
    case Kind::Network: m += " requests network access to \""; break;
    case Kind::FilesystemRead: m += " requests filesystem read access to \""; break;
    case Kind::FilesystemWrite: m += " requests filesystem write access to \""; break;
  }
  m += requested;
  m += "\", which is not in the project's permission budget";
  return m;
}

}  // namespace

Outcome<void> check_permission_budget(const Permissions& budget, const Permissions& skill,
                                      std::string_view skill_name) {
  Outcome<void> result;
  walk(budget, skill, [&](Kind kind, std::string_view requested) {
    result = fail(ErrorClass::PermissionError, denial_message(kind, skill_name, requested));
    return false;
  });
  return result;
}

std::vector<Violation> collect_permission_violations(const Permissions& budget,
                                                     const Permissions& skill,
                                                     std::string_view skill_name) {
  std::vector<Violation> out;
  std::shared_ptr<const std::string> name;
  walk(budget, skill, [&](Kind kind, std::string_view requested) {
    if (!name) name = std::make_shared<const std::string>(skill_name);
    out.push_back(Violation{name, std::string(type_name(kind)), std::string(requested)});
    return true;
  });
  return out;
}

}  // namespace morvane::permissions
