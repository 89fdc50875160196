#include "module/boundary.hpp"

#include "module/once.hpp"
#include "module/ref.hpp"

namespace morvane::py {
namespace {

ProcessOnce panic_class_cell;

// The internal-fault class (borrowed), created on first need.
PyObject* panic_exception_class() noexcept {
  return panic_class_cell.get([] {
    // The module part of the name is deliberately not importable: the class is
    // reachable only through the exceptions it raises.
    return PyErr_NewExceptionWithDoc(
        "morvane_core.panic.PanicException",
        "Raised when the native code of morvane_core fails in a way that no operation reports.\n\n"
        "Like SystemExit, it derives from BaseException rather than Exception, so that it\n"
        "normally propagates to the top and ends the interpreter.",
        PyExc_BaseException, nullptr);
  });
}

PyObject* class_of(ErrorClass c) {
  switch (c) {
    case ErrorClass::ValueError: return PyExc_ValueError;
    case ErrorClass::OSError: return PyExc_OSError;
    case ErrorClass::PermissionError: return PyExc_PermissionError;
    case ErrorClass::InternalFault: return panic_exception_class();
  }
  return PyExc_SystemError;
}

// Calls `cls(text)` and sets the result as the current exception, so that
// e.args == (text,) and an OSError stays OSError (errno None, no subclass).
void raise_with_text(PyObject* cls, std::string_view text) {
  Ref msg = Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (!msg) return;
  Ref exc = Ref::steal(PyObject_CallFunctionObjArgs(cls, msg.get(), nullptr));
  if (!exc) return;
  PyErr_SetObject(cls, exc.get());
}

}  // namespace

PyObject* raise(const Failure& failure) noexcept {
  // A null class is the panic class's own creation failure, which stays set.
  if (PyObject* cls = class_of(failure.error_class)) raise_with_text(cls, failure.message);
  return nullptr;
}

void raise_panic(std::string_view text) noexcept {
  PyObject* cls = panic_exception_class();
  if (!cls) return;  // the creation failure (e.g. MemoryError) stays set
  raise_with_text(cls, text);
}

}  // namespace morvane::py
