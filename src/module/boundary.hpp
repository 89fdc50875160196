// Where native outcomes become Python results and exceptions.
//
// A reported failure becomes its exception class called with the message as
// the only argument. A C++ exception that escapes an operation is an internal
// fault: it becomes PanicException (a BaseException, like SystemExit), or
// MemoryError for std::bad_alloc. Nothing escapes into the interpreter.
#pragma once

#include <exception>
#include <new>
#include <string_view>

#include "common/failure.hpp"
#include "module/python.hpp"

namespace morvane::py {

// Raises the failure's class with its message; returns null for convenience.
PyObject* raise(const Failure& failure) noexcept;

// Raises PanicException with `text`.
void raise_panic(std::string_view text) noexcept;

// Runs `body` (which returns a new reference or null with an error set) and
// turns anything it throws into a Python exception.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("native code failed with an exception of unknown type");
  }
  return nullptr;
}

}  // namespace morvane::py
