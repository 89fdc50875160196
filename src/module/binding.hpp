// Argument binding and conversion, shared by the nine functions and the
// Permissions constructor.
//
// Each callable is declared by a Signature (name, parameter names, how many
// leading ones are required) and one converter per parameter; call() does the
// rest. bind() fills one borrowed slot per parameter from the positional tuple
// and the keyword dictionary, raising the interpreter-style TypeError
// messages; each converter then turns its slot into a native value, raising
// "argument '<name>': ..." on failure.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "module/python.hpp"
#include "module/ref.hpp"

namespace morvane::py {

template <std::size_t N>
struct Signature {
  const char* name;                   // "read_lockfile", "Permissions.__new__"
  std::array<const char*, N> params;  // in order
  std::size_t required;               // the leading `required` params have no default
};

// Fills `out` (one borrowed slot per parameter, null where not given) from the
// positional tuple and the keyword dictionary; returns false with TypeError
// set when the call does not fit.
bool bind(const char* name, std::span<const char* const> params, std::size_t required, PyObject* args,
          PyObject* kwargs, std::span<PyObject*> out);

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
std::optional<Utf8List> to_utf8_list(PyObject* o, const char* param);
std::optional<bool> to_bool(PyObject* o, const char* param);

// Raises TypeError "argument '<param>': '<type>' object is not an instance of
// '<expected>'".
void refuse(PyObject* o, const char* expected, const char* param);

// The converter of an optional parameter: an absent argument or None is the
// absent value (an engaged outer optional holding an empty inner one);
// otherwise `Convert` decides.
template <auto Convert, class Inner = decltype(Convert(nullptr, nullptr))>
std::optional<Inner> or_none(PyObject* o, const char* param) {
  if (o == nullptr || o == Py_None) return Inner{};
  Inner v = Convert(o, param);
  if (!v) return std::nullopt;
  return std::optional<Inner>(std::move(v));
}

// The whole calling convention of one callable: bind the arguments to `sig`,
// convert each in parameter order with its converter (stopping at the first
// failure), then hand the native values to `op`, which returns the Python
// result (a new reference, or null with an error set).
// (The conversion is a function of its own, not a lambda inside `call`:
// clang cannot expand the converter pack inside a generic lambda.)
template <auto... Convert, std::size_t... I>
bool convert_each(std::tuple<decltype(Convert(nullptr, nullptr))...>& values,
                  const std::array<PyObject*, sizeof...(Convert)>& bound,
                  const std::array<const char*, sizeof...(Convert)>& params, std::index_sequence<I...>) {
  return ((std::get<I>(values) = Convert(bound[I], params[I]), std::get<I>(values).has_value()) && ...);
}

template <auto... Convert, class Op>
PyObject* call(const Signature<sizeof...(Convert)>& sig, PyObject* args, PyObject* kwargs, Op&& op) {
  std::array<PyObject*, sizeof...(Convert)> bound;
  if (!bind(sig.name, sig.params, sig.required, args, kwargs, bound)) return nullptr;
  std::tuple<decltype(Convert(nullptr, nullptr))...> values;
  if (!convert_each<Convert...>(values, bound, sig.params, std::make_index_sequence<sizeof...(Convert)>{})) {
    return nullptr;
  }
  return std::apply([&](auto&... value) -> PyObject* { return op(*value...); }, values);
}

// Result conversions: each returns a new reference or null with an error set.
PyObject* to_python(std::string_view text);
PyObject* to_python(bool value);
PyObject* to_python(const std::vector<std::string>& texts);
PyObject* none();

}  // namespace morvane::py
