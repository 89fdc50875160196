// The nine module functions, one shim each. Every shim takes the same four
// steps and holds no logic of its own; in Python terms:
//
//   def resolve_version(*args, **kwargs):
//       available, range = bind(args, kwargs)  # TypeError when the call does not fit
//       available = utf8_list(available)       # each argument converted in order,
//       range = utf8(range)                    #   returning at the first failure
//       chosen = version.resolve_version(available, range)  # the native operation
//       return to_python(chosen)               # or raise the class its failure names
//
// All four run inside guarded(), so nothing thrown reaches the interpreter.
// Each documentation text in the method table is the signature line and "--",
// from which the interpreter derives __text_signature__ (leaving __doc__ None).
#include "module/functions.hpp"

#include <new>
#include <stdexcept>
#include <string>

#include "archive/extract.hpp"
#include "archive/integrity.hpp"
#include "lockfile/lockfile_io.hpp"
#include "module/binding.hpp"
#include "module/boundary.hpp"
#include "module/classes.hpp"
#include "permissions/allow_list.hpp"
#include "permissions/budget.hpp"
#include "version/resolve.hpp"

namespace morvane::py {
namespace {

PyObject* read_lockfile(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* arg[1];
    if (!bind("read_lockfile", {"path"}, 1, args, kwargs, arg)) return nullptr;
    auto path = to_utf8(arg[0], "path"); if (!path) return nullptr;
    auto result = lockfile::read_lockfile(path->view);
    return result ? to_python(std::string_view(*result)) : raise(result.error());
  });
}

PyObject* write_lockfile(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* arg[2];
    if (!bind("write_lockfile", {"path", "json_content"}, 2, args, kwargs, arg)) return nullptr;
    auto path = to_utf8(arg[0], "path");         if (!path) return nullptr;
    auto json = to_utf8(arg[1], "json_content"); if (!json) return nullptr;
    auto result = lockfile::write_lockfile(path->view, json->view);
    return result ? none() : raise(result.error());
  });
}

PyObject* extract_tarball(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* arg[2];
    if (!bind("extract_tarball", {"data", "dest"}, 2, args, kwargs, arg)) return nullptr;
    auto data = to_bytes(arg[0], "data"); if (!data) return nullptr;
    auto dest = to_utf8(arg[1], "dest");  if (!dest) return nullptr;
    auto result = archive::extract_tarball(data->data, dest->view);
    return result ? to_python(*result) : raise(result.error());
  });
}

PyObject* verify_integrity(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* arg[2];
    if (!bind("verify_integrity", {"data", "expected_integrity"}, 2, args, kwargs, arg)) return nullptr;
    auto data = to_bytes(arg[0], "data");                  if (!data) return nullptr;
    auto expected = to_utf8(arg[1], "expected_integrity"); if (!expected) return nullptr;
    auto result = archive::verify_integrity(data->data, expected->view);
    return result ? to_python(std::string_view(*result)) : raise(result.error());
  });
}

PyObject* resolve_version(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* arg[2];
    if (!bind("resolve_version", {"available", "range"}, 2, args, kwargs, arg)) return nullptr;
    auto available = to_utf8_list(arg[0], "available"); if (!available) return nullptr;
    auto range = to_utf8(arg[1], "range");              if (!range) return nullptr;
    auto chosen = version::resolve_version(available->views, range->view);
    return chosen ? to_python(available->views[*chosen]) : none();
  });
}

PyObject* is_path_allowed(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* arg[2];
    if (!bind("is_path_allowed", {"requested_path", "allowed_paths"}, 2, args, kwargs, arg)) return nullptr;
    auto path = to_utf8(arg[0], "requested_path");        if (!path) return nullptr;
    auto allowed = to_utf8_list(arg[1], "allowed_paths"); if (!allowed) return nullptr;
    return to_python(permissions::is_path_allowed(path->view, std::span<const std::string_view>(allowed->views)));
  });
}

PyObject* is_domain_allowed(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* arg[2];
    if (!bind("is_domain_allowed", {"domain", "allowed_domains"}, 2, args, kwargs, arg)) return nullptr;
    auto domain = to_utf8(arg[0], "domain");                if (!domain) return nullptr;
    auto allowed = to_utf8_list(arg[1], "allowed_domains"); if (!allowed) return nullptr;
    return to_python(permissions::is_domain_allowed(domain->view, std::span<const std::string_view>(allowed->views)));
  });
}

PyObject* check_permission_budget(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* arg[3];
    if (!bind("check_permission_budget", {"budget", "skill_perms", "skill_name"}, 3, args, kwargs, arg)) return nullptr;
    auto budget = to_permissions(arg[0], "budget");     if (!budget) return nullptr;
    auto skill = to_permissions(arg[1], "skill_perms"); if (!skill) return nullptr;
    auto name = to_utf8(arg[2], "skill_name");          if (!name) return nullptr;
    auto result = permissions::check_permission_budget(**budget, **skill, name->view);
    return result ? none() : raise(result.error());
  });
}

PyObject* collect_permission_violations(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* arg[3];
    if (!bind("collect_permission_violations", {"budget", "skill_perms", "skill_name"}, 3, args, kwargs, arg))
      return nullptr;
    auto budget = to_permissions(arg[0], "budget");     if (!budget) return nullptr;
    auto skill = to_permissions(arg[1], "skill_perms"); if (!skill) return nullptr;
    auto name = to_utf8(arg[2], "skill_name");          if (!name) return nullptr;
    auto violations = permissions::collect_permission_violations(**budget, **skill, name->view);
    return new_list(violations.size(),
                    [&](std::size_t i) { return new_permission_violation(std::move(violations[i])); });
  });
}

// The table keeps every function as a PyCFunction; METH_KEYWORDS tells the
// interpreter that it takes the keyword dictionary too.
PyCFunction with_keywords(PyCFunctionWithKeywords fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}
constexpr int flags = METH_VARARGS | METH_KEYWORDS | METH_STATIC;

// In the order they are added to the module.
PyMethodDef function_table[] = {
    {"check_permission_budget", with_keywords(check_permission_budget), flags,
     "check_permission_budget(budget, skill_perms, skill_name)\n--\n\n"},
    {"collect_permission_violations", with_keywords(collect_permission_violations), flags,
     "collect_permission_violations(budget, skill_perms, skill_name)\n--\n\n"},
    {"is_domain_allowed", with_keywords(is_domain_allowed), flags,
     "is_domain_allowed(domain, allowed_domains)\n--\n\n"},
    {"is_path_allowed", with_keywords(is_path_allowed), flags,
     "is_path_allowed(requested_path, allowed_paths)\n--\n\n"},
    {"verify_integrity", with_keywords(verify_integrity), flags, "verify_integrity(data, expected_integrity)\n--\n\n"},
    {"extract_tarball", with_keywords(extract_tarball), flags, "extract_tarball(data, dest)\n--\n\n"},
    {"resolve_version", with_keywords(resolve_version), flags, "resolve_version(available, range)\n--\n\n"},
    {"read_lockfile", with_keywords(read_lockfile), flags, "read_lockfile(path)\n--\n\n"},
    {"write_lockfile", with_keywords(write_lockfile), flags, "write_lockfile(path, json_content)\n--\n\n"},
};

#ifdef MORVANE_FAULT_PROBE
// Test builds only: throws what its argument names, to exercise the fault path.
PyObject* fault_probe(PyObject*, PyObject* args, PyObject*) noexcept {
  return guarded([&]() -> PyObject* {
    const char* what = nullptr;
    if (!PyArg_ParseTuple(args, "s", &what)) return nullptr;
    const std::string_view w(what);
    if (w == "bad_alloc") throw std::bad_alloc();
    if (w == "unknown") throw 42;
    throw std::runtime_error(std::string(what));
  });
}
PyMethodDef probe_def = {"_fault_probe", with_keywords(fault_probe), flags, nullptr};
#endif

}  // namespace

std::span<PyMethodDef> module_functions() { return function_table; }

PyMethodDef* fault_probe_function() {
#ifdef MORVANE_FAULT_PROBE
  return &probe_def;
#else
  return nullptr;
#endif
}

}  // namespace morvane::py
