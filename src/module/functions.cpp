// The nine module functions. Each is a shim with no logic of its own: bind the
// arguments to its Signature, convert them in parameter order, run the native
// operation, convert the result or raise the reported failure.
#include "module/functions.hpp"

#include <new>
#include <stdexcept>

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

// Signatures, one per function.
constexpr Params<1> path_params{{"path"}};
constexpr Params<2> write_lockfile_params{{"path", "json_content"}};
constexpr Params<2> extract_params{{"data", "dest"}};
constexpr Params<2> resolve_params{{"available", "range"}};
constexpr Params<2> integrity_params{{"data", "expected_integrity"}};
constexpr Params<2> path_allowed_params{{"requested_path", "allowed_paths"}};
constexpr Params<2> domain_allowed_params{{"domain", "allowed_domains"}};
constexpr Params<3> budget_params{{"budget", "skill_perms", "skill_name"}};

const Signature read_lockfile_sig{"read_lockfile()", path_params.span(), 1};
const Signature write_lockfile_sig{"write_lockfile()", write_lockfile_params.span(), 2};
const Signature extract_tarball_sig{"extract_tarball()", extract_params.span(), 2};
const Signature resolve_version_sig{"resolve_version()", resolve_params.span(), 2};
const Signature verify_integrity_sig{"verify_integrity()", integrity_params.span(), 2};
const Signature is_path_allowed_sig{"is_path_allowed()", path_allowed_params.span(), 2};
const Signature is_domain_allowed_sig{"is_domain_allowed()", domain_allowed_params.span(), 2};
const Signature check_budget_sig{"check_permission_budget()", budget_params.span(), 3};
const Signature collect_violations_sig{"collect_permission_violations()", budget_params.span(), 3};

PyObject* read_lockfile(PyObject* args, PyObject* kwargs) {
  Bound<1> b;
  if (!bind(read_lockfile_sig, args, kwargs, b)) return nullptr;
  auto path = to_utf8(b[0], "path");
  if (!path) return nullptr;
  auto result = lockfile::read_lockfile(path->view);
  return result ? to_python(std::string_view(*result)) : raise(result.error());
}

PyObject* write_lockfile(PyObject* args, PyObject* kwargs) {
  Bound<2> b;
  if (!bind(write_lockfile_sig, args, kwargs, b)) return nullptr;
  auto path = to_utf8(b[0], "path");
  if (!path) return nullptr;
  auto json = to_utf8(b[1], "json_content");
  if (!json) return nullptr;
  auto result = lockfile::write_lockfile(path->view, json->view);
  return result ? none() : raise(result.error());
}

PyObject* extract_tarball(PyObject* args, PyObject* kwargs) {
  Bound<2> b;
  if (!bind(extract_tarball_sig, args, kwargs, b)) return nullptr;
  auto data = to_bytes(b[0], "data");
  if (!data) return nullptr;
  auto dest = to_utf8(b[1], "dest");
  if (!dest) return nullptr;
  auto result = archive::extract_tarball(data->data, dest->view);
  return result ? to_python(*result) : raise({ErrorClass::OSError, result.error().message()});
}

PyObject* verify_integrity(PyObject* args, PyObject* kwargs) {
  Bound<2> b;
  if (!bind(verify_integrity_sig, args, kwargs, b)) return nullptr;
  auto data = to_bytes(b[0], "data");
  if (!data) return nullptr;
  auto expected = to_utf8(b[1], "expected_integrity");
  if (!expected) return nullptr;
  auto result = archive::verify_integrity(data->data, expected->view);
  return result ? to_python(std::string_view(*result)) : raise({ErrorClass::ValueError, result.error().message()});
}

PyObject* resolve_version(PyObject* args, PyObject* kwargs) {
  Bound<2> b;
  if (!bind(resolve_version_sig, args, kwargs, b)) return nullptr;
  auto available = to_utf8_list(b[0], "available");
  if (!available) return nullptr;
  auto range = to_utf8(b[1], "range");
  if (!range) return nullptr;
  auto chosen = version::resolve_version(available->views, range->view);
  return chosen ? to_python(available->views[*chosen]) : none();
}

PyObject* is_path_allowed(PyObject* args, PyObject* kwargs) {
  Bound<2> b;
  if (!bind(is_path_allowed_sig, args, kwargs, b)) return nullptr;
  auto path = to_utf8(b[0], "requested_path");
  if (!path) return nullptr;
  auto allowed = to_utf8_list(b[1], "allowed_paths");
  if (!allowed) return nullptr;
  return to_python(permissions::is_path_allowed(path->view, std::span<const std::string_view>(allowed->views)));
}

PyObject* is_domain_allowed(PyObject* args, PyObject* kwargs) {
  Bound<2> b;
  if (!bind(is_domain_allowed_sig, args, kwargs, b)) return nullptr;
  auto domain = to_utf8(b[0], "domain");
  if (!domain) return nullptr;
  auto allowed = to_utf8_list(b[1], "allowed_domains");
  if (!allowed) return nullptr;
  return to_python(
      permissions::is_domain_allowed(domain->view, std::span<const std::string_view>(allowed->views)));
}

PyObject* check_permission_budget(PyObject* args, PyObject* kwargs) {
  Bound<3> b;
  if (!bind(check_budget_sig, args, kwargs, b)) return nullptr;
  auto budget = to_permissions(b[0], "budget");
  if (!budget) return nullptr;
  auto skill = to_permissions(b[1], "skill_perms");
  if (!skill) return nullptr;
  auto name = to_utf8(b[2], "skill_name");
  if (!name) return nullptr;
  auto result = permissions::check_permission_budget(**budget, **skill, name->view);
  return result ? none() : raise(result.error());
}

PyObject* collect_permission_violations(PyObject* args, PyObject* kwargs) {
  Bound<3> b;
  if (!bind(collect_violations_sig, args, kwargs, b)) return nullptr;
  auto budget = to_permissions(b[0], "budget");
  if (!budget) return nullptr;
  auto skill = to_permissions(b[1], "skill_perms");
  if (!skill) return nullptr;
  auto name = to_utf8(b[2], "skill_name");
  if (!name) return nullptr;
  auto violations = permissions::collect_permission_violations(**budget, **skill, name->view);
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(violations.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < violations.size(); ++i) {
    PyObject* item = new_permission_violation(std::move(violations[i]));
    if (!item) return nullptr;  // the list and the items made so far are released with it
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

#ifdef MORVANE_FAULT_PROBE
// Test builds only: throws what its argument names, to exercise the fault path.
PyObject* fault_probe(PyObject* args, PyObject*) {
  const char* what = nullptr;
  if (!PyArg_ParseTuple(args, "s", &what)) return nullptr;
  const std::string_view w(what);
  if (w == "bad_alloc") throw std::bad_alloc();
  if (w == "unknown") throw 42;
  throw std::runtime_error(std::string(what));
}
#endif

// Every entry point catches whatever the operation throws (see guarded).
template <PyObject* (*Impl)(PyObject*, PyObject*)>
PyObject* entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] { return Impl(args, kwargs); });
}

template <PyObject* (*Impl)(PyObject*, PyObject*)>
PyMethodDef def(const char* name, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry<Impl>)),
          METH_VARARGS | METH_KEYWORDS | METH_STATIC, doc};
}

// In the order they are added to the module. The documentation text is the
// signature line and "--", from which the interpreter derives
// __text_signature__ (leaving __doc__ None).
PyMethodDef function_table[] = {
    def<check_permission_budget>("check_permission_budget",
                                 "check_permission_budget(budget, skill_perms, skill_name)\n--\n\n"),
    def<collect_permission_violations>("collect_permission_violations",
                                       "collect_permission_violations(budget, skill_perms, skill_name)\n--\n\n"),
    def<is_domain_allowed>("is_domain_allowed", "is_domain_allowed(domain, allowed_domains)\n--\n\n"),
    def<is_path_allowed>("is_path_allowed", "is_path_allowed(requested_path, allowed_paths)\n--\n\n"),
    def<verify_integrity>("verify_integrity", "verify_integrity(data, expected_integrity)\n--\n\n"),
    def<extract_tarball>("extract_tarball", "extract_tarball(data, dest)\n--\n\n"),
    def<resolve_version>("resolve_version", "resolve_version(available, range)\n--\n\n"),
    def<read_lockfile>("read_lockfile", "read_lockfile(path)\n--\n\n"),
    def<write_lockfile>("write_lockfile", "write_lockfile(path, json_content)\n--\n\n"),
};

#ifdef MORVANE_FAULT_PROBE
PyMethodDef probe_def = def<fault_probe>("_fault_probe", nullptr);
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
