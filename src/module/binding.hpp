// Argument binding and conversion, shared by the nine functions and the
// Permissions constructor, and the conversion of results.
//
// bind() fills one borrowed slot per parameter from the positional tuple and
// the keyword dictionary, raising the interpreter-style TypeError messages;
// each converter then turns one slot into a native value, raising
// "argument '<name>': ..." on failure.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "module/python.hpp"
#include "module/ref.hpp"

namespace morvane::py {

// What bind() below does, on a list and slots it has checked to be one length.
bool bind_slots(const char* name, std::span<const char* const> params, std::size_t required, PyObject* args,
                PyObject* kwargs, std::span<PyObject*> out);

// Fills `out` (one borrowed slot per parameter, null where not given) from the
// positional tuple and the keyword dictionary; returns false with TypeError
// set when the call does not fit. `name` is the callable's ("read_lockfile",
// "Permissions.__new__"); the leading `required` parameters have no default.
// The parameter list and the slots share one length, so a call whose array
// does not fit its list does not compile.
template <std::size_t N>
bool bind(const char* name, const char* const (&params)[N], std::size_t required, PyObject* args,
          PyObject* kwargs, PyObject* (&out)[N]) {
  return bind_slots(name, params, required, args, kwargs, out);
}

// UTF-8 text of a str argument. The view points into `owner`, a bytes object.
struct Utf8 {
  Ref owner;
  std::string_view view;
};

// UTF-8 texts of a sequence-of-str argument, in order. The views point into
// `owner`, a bytes object holding the texts back to back.
struct Utf8List {
  Ref owner;
  std::vector<std::string_view> views;
  std::vector<std::string> to_strings() const { return {views.begin(), views.end()}; }
};

// Read-only view of a bytes argument's own buffer (no copy).
struct BytesView {
  std::span<const unsigned char> data;
};

// Converters: nullopt means a Python error is set, already wrapped with the
// parameter name where the wrapping rule applies.
std::optional<Utf8> to_utf8(PyObject* o, const char* param);
std::optional<BytesView> to_bytes(PyObject* o, const char* param);
// A str is refused with "Can't extract `str` to `Vec`": odd for Python, kept as callers match it.
std::optional<Utf8List> to_utf8_list(PyObject* o, const char* param);
std::optional<bool> to_bool(PyObject* o, const char* param);

// Raises TypeError "argument '<param>': '<type>' object is not an instance of
// '<expected>'".
void refuse(PyObject* o, const char* expected, const char* param);

// Result conversions: each returns a new reference or null with an error set.
PyObject* to_python(std::string_view text);
PyObject* to_python(bool value);
PyObject* to_python(const std::vector<std::string>& texts);
PyObject* none();

// A new list of `n` items, item i made by `item(i)`: a new reference, or null
// with an error set, which drops the list and the items made so far.
template <class MakeItem>
PyObject* new_list(std::size_t n, MakeItem&& item) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* o = item(i);
    if (!o) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), o);  // steals o
  }
  return list.release();
}

}  // namespace morvane::py
