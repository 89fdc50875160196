// Python view of the classes:
//
//   class Permissions:                       # final, immutable, no __dict__
//       def __new__(cls, network_outbound=None, fs_read=None, fs_write=None,
//                   subprocess=None): ...
//       network_outbound: list[str] | None   # a new list on every access
//       filesystem_read: list[str] | None
//       filesystem_write: list[str] | None
//       subprocess: bool | None
//
//   class PermissionViolation:               # created only by the module
//       skill_name: str
//       violation_type: str
//       requested: str
//
// Both are heap types from PyType_FromSpec named "builtins.*", so their
// __module__ is "builtins". Each instance holds its native record in place.
#include "module/classes.hpp"

#include <new>
#include <utility>

#include "module/binding.hpp"
#include "module/boundary.hpp"
#include "module/once.hpp"
#include "module/ref.hpp"

namespace morvane::py {
namespace {

struct PermissionsObject {
  PyObject_HEAD
  permissions::Permissions record;
};

struct ViolationObject {
  PyObject_HEAD
  permissions::Violation violation;
};

const permissions::Permissions& record_of(PyObject* self) { return reinterpret_cast<PermissionsObject*>(self)->record; }
const permissions::Violation& violation_of(PyObject* self) {
  return reinterpret_cast<ViolationObject*>(self)->violation;
}

// Allocation through the base object's allocator, as object.__new__(cls) does.
PyObject* allocate(PyObject* cls) {
  auto* type = reinterpret_cast<PyTypeObject*>(cls);
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  return alloc(type, 0);
}

// Releases the native record, then the memory through the type's free slot.
template <class Object, class Member>
void deallocate(PyObject* self, Member Object::*member) {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&(reinterpret_cast<Object*>(self)->*member));
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

// An optional list argument: absent or None leaves `out` absent; false with an error set.
bool to_optional_texts(PyObject* o, const char* param, std::optional<permissions::TextList>& out) {
  if (o == nullptr || o == Py_None) return true;
  auto list = to_utf8_list(o, param);
  if (!list) return false;
  out = list->to_strings();
  return true;
}

PyObject* permissions_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* arg[4];
    if (!bind("Permissions.__new__", {"network_outbound", "fs_read", "fs_write", "subprocess"}, 0, args, kwargs, arg))
      return nullptr;
    std::optional<permissions::TextList> outbound, read, write;
    if (!to_optional_texts(arg[0], "network_outbound", outbound)) return nullptr;
    if (!to_optional_texts(arg[1], "fs_read", read)) return nullptr;
    if (!to_optional_texts(arg[2], "fs_write", write)) return nullptr;
    std::optional<bool> subprocess;
    if (arg[3] != nullptr && arg[3] != Py_None) {
      subprocess = to_bool(arg[3], "subprocess");
      if (!subprocess) return nullptr;
    }

    permissions::Permissions record;
    if (outbound) record.network = permissions::NetworkPermissions{std::move(outbound)};
    if (read || write) record.filesystem = permissions::FilesystemPermissions{std::move(read), std::move(write)};
    record.subprocess = subprocess;

    PyObject* self = allocate(reinterpret_cast<PyObject*>(cls));
    if (!self) return nullptr;
    std::construct_at(&reinterpret_cast<PermissionsObject*>(self)->record, std::move(record));
    return self;
  });
}

void permissions_dealloc(PyObject* self) { deallocate(self, &PermissionsObject::record); }

// A list of the record's flat view: a new list on every access, or None.
template <const permissions::TextList* (permissions::Permissions::*List)() const>
PyObject* get_list(PyObject* self, void*) {
  return guarded([&] {
    const permissions::TextList* list = (record_of(self).*List)();
    return list ? to_python(*list) : none();
  });
}
PyObject* get_subprocess(PyObject* self, void*) {
  const std::optional<bool> v = record_of(self).subprocess;
  return v ? to_python(*v) : none();
}

PyGetSetDef permissions_getset[] = {
    {"network_outbound", get_list<&permissions::Permissions::network_outbound>, nullptr, nullptr, nullptr},
    {"filesystem_read", get_list<&permissions::Permissions::filesystem_read>, nullptr, nullptr, nullptr},
    {"filesystem_write", get_list<&permissions::Permissions::filesystem_write>, nullptr, nullptr, nullptr},
    {"subprocess", get_subprocess, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot permissions_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Permissions(network_outbound=None, fs_read=None, fs_write=None, subprocess=None)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(permissions_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(permissions_dealloc)},
    {Py_tp_getset, permissions_getset},
    {0, nullptr},
};

PyType_Spec permissions_spec = {
    "builtins.Permissions", static_cast<int>(sizeof(PermissionsObject)), 0, Py_TPFLAGS_DEFAULT,
    permissions_slots,
};

// "cannot create 'builtins.PermissionViolation' instances", naming the class
// by its __module__ ("<unknown>" when unreadable) and __qualname__.
PyObject* violation_new(PyTypeObject* cls, PyObject*, PyObject*) {
  auto* type = reinterpret_cast<PyObject*>(cls);
  Ref module = Ref::steal(PyObject_GetAttrString(type, "__module__"));
  if (!module || !PyUnicode_Check(module.get())) {
    PyErr_Clear();
    module = Ref::steal(PyUnicode_FromString("<unknown>"));
    if (!module) return nullptr;
  }
  Ref qualname = Ref::steal(PyObject_GetAttrString(type, "__qualname__"));
  if (!qualname) return nullptr;
  PyErr_Format(PyExc_TypeError, "cannot create '%S.%S' instances", module.get(), qualname.get());
  return nullptr;
}

void violation_dealloc(PyObject* self) { deallocate(self, &ViolationObject::violation); }

PyObject* get_skill_name(PyObject* self, void*) { return to_python(std::string_view(*violation_of(self).skill_name)); }
PyObject* get_violation_type(PyObject* self, void*) {
  return to_python(std::string_view(violation_of(self).violation_type));
}
PyObject* get_requested(PyObject* self, void*) { return to_python(std::string_view(violation_of(self).requested)); }

PyGetSetDef violation_getset[] = {
    {"skill_name", get_skill_name, nullptr, nullptr, nullptr},
    {"violation_type", get_violation_type, nullptr, nullptr, nullptr},
    {"requested", get_requested, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot violation_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(violation_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(violation_dealloc)},
    {Py_tp_getset, violation_getset},
    {0, nullptr},
};

PyType_Spec violation_spec = {
    "builtins.PermissionViolation", static_cast<int>(sizeof(ViolationObject)), 0, Py_TPFLAGS_DEFAULT,
    violation_slots,
};

ProcessOnce permissions_cell;
ProcessOnce violation_cell;

}  // namespace

PyObject* permissions_class() {
  return permissions_cell.get([] { return PyType_FromSpec(&permissions_spec); });
}

PyObject* permission_violation_class() {
  return violation_cell.get([] { return PyType_FromSpec(&violation_spec); });
}

std::optional<const permissions::Permissions*> to_permissions(PyObject* o, const char* param) {
  PyObject* cls = permissions_class();
  if (!cls) return std::nullopt;
  // The class takes no subclasses, so an exact type test is the instance test.
  if (reinterpret_cast<PyObject*>(Py_TYPE(o)) == cls) return &record_of(o);
  refuse(o, "Permissions", param);
  return std::nullopt;
}

PyObject* new_permission_violation(permissions::Violation&& v) {
  PyObject* cls = permission_violation_class();
  if (!cls) return nullptr;
  PyObject* self = allocate(cls);
  if (!self) return nullptr;
  std::construct_at(&reinterpret_cast<ViolationObject*>(self)->violation, std::move(v));
  return self;
}

}  // namespace morvane::py
