// The nine module functions. Each is one entry with no logic of its own: its
// name and parameter names, one converter per parameter, and the native
// operation with the conversion of its result or the raising of its failure.
#include "module/functions.hpp"

#include <array>
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

// One module function: its signature and the operation on its converted
// arguments. Every parameter of a module function is required.
template <class Op, auto... Convert>
struct Function {
  Signature<sizeof...(Convert)> sig;
  Op op;
  PyObject* operator()(PyObject* args, PyObject* kwargs) const { return call<Convert...>(sig, args, kwargs, op); }
};

template <auto... Convert, class Op>
constexpr Function<Op, Convert...> function(const char* name, std::array<const char*, sizeof...(Convert)> params,
                                            Op op) {
  return {{name, params, sizeof...(Convert)}, op};
}

constexpr auto read_lockfile = function<to_utf8>("read_lockfile", {"path"}, [](const Utf8& path) {
  auto result = lockfile::read_lockfile(path.view);
  return result ? to_python(std::string_view(*result)) : raise(result.error());
});

constexpr auto write_lockfile =
    function<to_utf8, to_utf8>("write_lockfile", {"path", "json_content"}, [](const Utf8& path, const Utf8& json) {
      auto result = lockfile::write_lockfile(path.view, json.view);
      return result ? none() : raise(result.error());
    });

constexpr auto extract_tarball =
    function<to_bytes, to_utf8>("extract_tarball", {"data", "dest"}, [](const BytesView& data, const Utf8& dest) {
      auto result = archive::extract_tarball(data.data, dest.view);
      return result ? to_python(*result) : raise({ErrorClass::OSError, result.error().message()});
    });

constexpr auto verify_integrity = function<to_bytes, to_utf8>(
    "verify_integrity", {"data", "expected_integrity"}, [](const BytesView& data, const Utf8& expected) {
      auto result = archive::verify_integrity(data.data, expected.view);
      return result ? to_python(std::string_view(*result)) : raise(result.error());
    });

constexpr auto resolve_version = function<to_utf8_list, to_utf8>(
    "resolve_version", {"available", "range"}, [](const Utf8List& available, const Utf8& range) {
      auto chosen = version::resolve_version(available.views, range.view);
      return chosen ? to_python(available.views[*chosen]) : none();
    });

constexpr auto is_path_allowed = function<to_utf8, to_utf8_list>(
    "is_path_allowed", {"requested_path", "allowed_paths"}, [](const Utf8& path, const Utf8List& allowed) {
      return to_python(permissions::is_path_allowed(path.view, std::span<const std::string_view>(allowed.views)));
    });

constexpr auto is_domain_allowed = function<to_utf8, to_utf8_list>(
    "is_domain_allowed", {"domain", "allowed_domains"}, [](const Utf8& domain, const Utf8List& allowed) {
      return to_python(permissions::is_domain_allowed(domain.view, std::span<const std::string_view>(allowed.views)));
    });

constexpr auto check_permission_budget = function<to_permissions, to_permissions, to_utf8>(
    "check_permission_budget", {"budget", "skill_perms", "skill_name"},
    [](const Permissions* budget, const Permissions* skill, const Utf8& name) {
      auto result = permissions::check_permission_budget(*budget, *skill, name.view);
      return result ? none() : raise(result.error());
    });

constexpr auto collect_permission_violations = function<to_permissions, to_permissions, to_utf8>(
    "collect_permission_violations", {"budget", "skill_perms", "skill_name"},
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
#endif

// Every entry point catches whatever the operation throws (see guarded).
template <const auto& F>
PyObject* entry(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] { return F(args, kwargs); });
}

PyMethodDef method(const char* name, PyCFunctionWithKeywords fn, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)),
          METH_VARARGS | METH_KEYWORDS | METH_STATIC, doc};
}

// The documentation text is the signature line and "--", from which the
// interpreter derives __text_signature__ (leaving __doc__ None).
template <const auto& F>
PyMethodDef def() {
  static const std::string doc = [] {
    std::string text = F.sig.name;
    text += '(';
    for (const char* param : F.sig.params) {
      if (text.back() != '(') text += ", ";
      text += param;
    }
    return text + ")\n--\n\n";
  }();
  return method(F.sig.name, entry<F>, doc.c_str());
}

// In the order they are added to the module.
PyMethodDef function_table[] = {
    def<check_permission_budget>(), def<collect_permission_violations>(), def<is_domain_allowed>(),
    def<is_path_allowed>(),         def<verify_integrity>(),              def<extract_tarball>(),
    def<resolve_version>(),         def<read_lockfile>(),                 def<write_lockfile>(),
};

#ifdef MORVANE_FAULT_PROBE
PyMethodDef probe_def = method("_fault_probe", fault_probe, nullptr);
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
