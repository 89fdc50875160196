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

// Each function: its signature, the kind of each parameter, and the native
// operation with its result conversion.
const Signature<1> read_lockfile_sig{"read_lockfile()", {"path"}, 1};
const Signature<2> write_lockfile_sig{"write_lockfile()", {"path", "json_content"}, 2};
const Signature<2> extract_tarball_sig{"extract_tarball()", {"data", "dest"}, 2};
const Signature<2> resolve_version_sig{"resolve_version()", {"available", "range"}, 2};
const Signature<2> verify_integrity_sig{"verify_integrity()", {"data", "expected_integrity"}, 2};
const Signature<2> is_path_allowed_sig{"is_path_allowed()", {"requested_path", "allowed_paths"}, 2};
const Signature<2> is_domain_allowed_sig{"is_domain_allowed()", {"domain", "allowed_domains"}, 2};
const Signature<3> check_budget_sig{"check_permission_budget()", {"budget", "skill_perms", "skill_name"}, 3};
const Signature<3> collect_violations_sig{"collect_permission_violations()", {"budget", "skill_perms", "skill_name"}, 3};

PyObject* read_lockfile(PyObject* args, PyObject* kwargs) {
  return call<Str>(read_lockfile_sig, args, kwargs, [](const Utf8& path) {
    auto result = lockfile::read_lockfile(path.view);
    return result ? to_python(std::string_view(*result)) : raise(result.error());
  });
}

PyObject* write_lockfile(PyObject* args, PyObject* kwargs) {
  return call<Str, Str>(write_lockfile_sig, args, kwargs, [](const Utf8& path, const Utf8& json) {
    auto result = lockfile::write_lockfile(path.view, json.view);
    return result ? none() : raise(result.error());
  });
}

PyObject* extract_tarball(PyObject* args, PyObject* kwargs) {
  return call<Bytes, Str>(extract_tarball_sig, args, kwargs, [](const BytesView& data, const Utf8& dest) {
    auto result = archive::extract_tarball(data.data, dest.view);
    return result ? to_python(*result) : raise({ErrorClass::OSError, result.error().message()});
  });
}

PyObject* verify_integrity(PyObject* args, PyObject* kwargs) {
  return call<Bytes, Str>(verify_integrity_sig, args, kwargs, [](const BytesView& data, const Utf8& expected) {
    auto result = archive::verify_integrity(data.data, expected.view);
    return result ? to_python(std::string_view(*result)) : raise({ErrorClass::ValueError, result.error().message()});
  });
}

PyObject* resolve_version(PyObject* args, PyObject* kwargs) {
  return call<StrList, Str>(resolve_version_sig, args, kwargs, [](const Utf8List& available, const Utf8& range) {
    auto chosen = version::resolve_version(available.views, range.view);
    return chosen ? to_python(available.views[*chosen]) : none();
  });
}

PyObject* is_path_allowed(PyObject* args, PyObject* kwargs) {
  return call<Str, StrList>(is_path_allowed_sig, args, kwargs, [](const Utf8& path, const Utf8List& allowed) {
    return to_python(permissions::is_path_allowed(path.view, std::span<const std::string_view>(allowed.views)));
  });
}

PyObject* is_domain_allowed(PyObject* args, PyObject* kwargs) {
  return call<Str, StrList>(is_domain_allowed_sig, args, kwargs, [](const Utf8& domain, const Utf8List& allowed) {
    return to_python(permissions::is_domain_allowed(domain.view, std::span<const std::string_view>(allowed.views)));
  });
}

PyObject* check_permission_budget(PyObject* args, PyObject* kwargs) {
  return call<PermissionsArg, PermissionsArg, Str>(
      check_budget_sig, args, kwargs, [](const Permissions* budget, const Permissions* skill, const Utf8& name) {
        auto result = permissions::check_permission_budget(*budget, *skill, name.view);
        return result ? none() : raise(result.error());
      });
}

PyObject* collect_permission_violations(PyObject* args, PyObject* kwargs) {
  return call<PermissionsArg, PermissionsArg, Str>(
      collect_violations_sig, args, kwargs,
      [](const Permissions* budget, const Permissions* skill, const Utf8& name) -> PyObject* {
        auto violations = permissions::collect_permission_violations(*budget, *skill, name.view);
        Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(violations.size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < violations.size(); ++i) {
          PyObject* item = new_permission_violation(std::move(violations[i]));
          if (!item) return nullptr;  // the list and the items made so far go with it
          PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
        }
        return list.release();
      });
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
