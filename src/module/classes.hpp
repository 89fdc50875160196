// The two classes: Permissions (a permission set built from Python) and
// PermissionViolation (one uncovered permission, created only here).
#pragma once

#include <optional>

#include "module/python.hpp"
#include "permissions/budget.hpp"
#include "permissions/record.hpp"

namespace morvane::py {

// The class objects (borrowed), created once per process on first need;
// null with an error set when creation fails.
PyObject* permissions_class();
PyObject* permission_violation_class();

// The converter of a Permissions argument: the instance's record, borrowed
// for the duration of the call.
std::optional<const permissions::Permissions*> to_permissions(PyObject* o, const char* param);

// A new PermissionViolation holding `v`'s texts; null with an error set.
PyObject* new_permission_violation(permissions::Violation&& v);

}  // namespace morvane::py
