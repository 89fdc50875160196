// The module as Python sees it:
//
//   # morvane_core (no docstring of its own: __doc__ == "")
//   Permissions, PermissionViolation            # classes
//   check_permission_budget, collect_permission_violations,
//   is_domain_allowed, is_path_allowed, verify_integrity, extract_tarball,
//   resolve_version, read_lockfile, write_lockfile
//   __all__ = [the eleven names above, in that order]
//
// Multi-phase initialisation: PyInit returns the definition and the single
// exec slot fills the module. The class objects are process-wide; a fresh
// import creates new function objects around them.
#include "module/binding.hpp"
#include "module/boundary.hpp"
#include "module/classes.hpp"
#include "module/functions.hpp"
#include "module/python.hpp"
#include "module/ref.hpp"

namespace morvane::py {
namespace {

// Appends `name` to the module's __all__ (created when missing) and sets the
// attribute, keeping the two in step. A null `value` is a failure already set.
bool add(PyObject* module, const char* name, PyObject* value) {
  if (!value) return false;
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  Ref key = Ref::steal(PyUnicode_FromString(name));
  if (!key || PyList_Append(all.get(), key.get()) < 0) return false;
  return PyObject_SetAttr(module, key.get(), value) == 0;
}

// Wraps a method definition with the module as self and the module's name as
// __module__; METH_STATIC makes the interpreter pass no self and show
// __self__ as None.
bool add_function(PyObject* module, PyObject* module_name, PyMethodDef* def, bool listed = true) {
  Ref fn = Ref::steal(PyCMethod_New(def, module, module_name, nullptr));
  if (!fn) return false;
  if (!listed) return PyObject_SetAttrString(module, def->ml_name, fn.get()) == 0;
  return add(module, def->ml_name, fn.get());
}

int exec_module(PyObject* module) noexcept {
  PyObject* done = guarded([&]() -> PyObject* {
    if (!add(module, "Permissions", permissions_class())) return nullptr;
    if (!add(module, "PermissionViolation", permission_violation_class())) return nullptr;
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return nullptr;
    for (PyMethodDef& def : module_functions())
      if (!add_function(module, module_name.get(), &def)) return nullptr;
    if (PyMethodDef* probe = fault_probe_function())
      if (!add_function(module, module_name.get(), probe, false)) return nullptr;
    return none();
  });
  if (!done) return -1;
  Py_DECREF(done);
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "morvane_core",
    "",  // __doc__ is the empty text, present rather than None
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace morvane::py

PyMODINIT_FUNC PyInit_morvane_core(void) { return PyModuleDef_Init(&morvane::py::module_def); }
