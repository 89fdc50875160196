// The two classes: Permissions (a permission set built from Python) and
// PermissionViolation (one uncovered permission, created only here).
#pragma once

#include "common/permissions_record.hpp"
#include "module/python.hpp"
#include "permissions/budget.hpp"

namespace morvane::py {

// The class objects (borrowed), created once per process on first need;
// null with an error set when creation fails.
PyObject* permissions_class();
PyObject* permission_violation_class();

// The record of a Permissions instance, or null when `o` is not one (an error
// is set only if the class itself could not be created).
const Permissions* permissions_record(PyObject* o);

// A new PermissionViolation holding `v`'s texts; null with an error set.
PyObject* new_permission_violation(permissions::Violation&& v);

}  // namespace morvane::py
