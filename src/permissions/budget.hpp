// Permission budget checks: compare what one skill requests with what the
// project's budget allows, kind by kind, in a fixed order.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.hpp"
#include "permissions/record.hpp"

namespace morvane::permissions {

struct Violation {
  // One copy of the name, shared by all the violations of one call: a long
  // name is not multiplied by the number of violations.
  std::shared_ptr<const std::string> skill_name;
  std::string violation_type;  // "subprocess", "network.outbound", "filesystem.read", "filesystem.write"
  std::string requested;       // "true" for subprocess, else the skill's entry as written
};

// Fails with PermissionError at the first permission the budget does not cover.
Outcome<void> check_permission_budget(const Permissions& budget, const Permissions& skill,
                                      std::string_view skill_name);

// Every uncovered permission: subprocess first, then network, read, write,
// each kind in the order of the skill's own list.
std::vector<Violation> collect_permission_violations(const Permissions& budget,
                                                     const Permissions& skill,
                                                     std::string_view skill_name);

}  // namespace morvane::permissions
