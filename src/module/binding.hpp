// Argument binding and conversion, shared by the nine functions and the
// Permissions constructor.
//
// Each callable is declared by a Signature (display name, parameter names,
// how many leading ones are required) and one kind per parameter; call() does
// the rest. bind() fills one borrowed slot per parameter from the positional
// tuple and the keyword dictionary, raising the interpreter-style TypeError
// messages; each kind's converter then turns its slot into a native value,
// raising "argument '<name>': ..." on failure.
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

#include "common/permissions_record.hpp"
#include "module/python.hpp"
#include "module/ref.hpp"

namespace morvane::py {

template <std::size_t N>
struct Signature {
  const char* display;                // "read_lockfile()", "Permissions.__new__()"
  std::array<const char*, N> params;  // in order
  std::size_t required;               // the leading `required` params have no default
};

// Borrowed arguments in parameter order, null where not given.
template <std::size_t N>
using Bound = std::array<PyObject*, N>;

// Fills `out` (one slot per parameter) from the positional tuple and the
// keyword dictionary; returns false with TypeError set when the call does not
// fit.
bool bind(const char* display, std::span<const char* const> params, std::size_t required, PyObject* args,
          PyObject* kwargs, std::span<PyObject*> out);

template <std::size_t N>
bool bind(const Signature<N>& sig, PyObject* args, PyObject* kwargs, Bound<N>& out) {
  return bind(sig.display, sig.params, sig.required, args, kwargs, out);
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
std::optional<Utf8List> to_utf8_list(PyObject* o, const char* param);
std::optional<bool> to_bool(PyObject* o, const char* param);
// A Permissions instance's record, borrowed for the duration of the call.
std::optional<const Permissions*> to_permissions(PyObject* o, const char* param);

// Optional kind: an absent argument or None is the absent value (an engaged
// outer optional holding an empty inner one); otherwise the kind's converter
// decides.
template <class Convert>
auto to_optional(PyObject* o, const char* param, Convert convert)
    -> std::optional<std::optional<typename decltype(convert(o, param))::value_type>> {
  using Inner = std::optional<typename decltype(convert(o, param))::value_type>;
  if (o == nullptr || o == Py_None) return Inner{};
  auto v = convert(o, param);
  if (!v) return std::nullopt;
  return Inner{std::move(*v)};
}

// Parameter kinds: each names its native type and its converter.
template <class T, std::optional<T> (*Convert)(PyObject*, const char*)>
struct Kind {
  using type = T;
  static std::optional<T> convert(PyObject* o, const char* param) { return Convert(o, param); }
};
using Str = Kind<Utf8, to_utf8>;
using Bytes = Kind<BytesView, to_bytes>;
using StrList = Kind<Utf8List, to_utf8_list>;
using Bool = Kind<bool, to_bool>;
using PermissionsArg = Kind<const Permissions*, to_permissions>;

template <class Inner>
struct Optional {
  using type = std::optional<typename Inner::type>;
  static std::optional<type> convert(PyObject* o, const char* param) { return to_optional(o, param, Inner::convert); }
};

namespace detail {
template <class... Kinds, class Op, std::size_t... I>
PyObject* call(const Signature<sizeof...(Kinds)>& sig, PyObject* args, PyObject* kwargs, Op&& op, std::index_sequence<I...>) {
  Bound<sizeof...(Kinds)> bound;
  if (!bind(sig, args, kwargs, bound)) return nullptr;
  std::tuple<std::optional<typename Kinds::type>...> values;
  // Converted in parameter order; the fold stops at the first failure.
  const bool converted =
      ((std::get<I>(values) = Kinds::convert(bound[I], sig.params[I]), std::get<I>(values).has_value()) && ...);
  if (!converted) return nullptr;
  return op(*std::get<I>(values)...);
}
}  // namespace detail

// The whole calling convention of one callable: bind the arguments to `sig`,
// convert each with its kind, then hand the native values to `op`, which
// returns the Python result (a new reference, or null with an error set).
template <class... Kinds, class Op>
PyObject* call(const Signature<sizeof...(Kinds)>& sig, PyObject* args, PyObject* kwargs, Op&& op) {
  return detail::call<Kinds...>(sig, args, kwargs, std::forward<Op>(op), std::index_sequence_for<Kinds...>{});
}

// Result conversions: each returns a new reference or null with an error set.
PyObject* to_python(std::string_view text);
PyObject* to_python(bool value);
PyObject* to_python(const std::vector<std::string>& texts);
PyObject* none();

}  // namespace morvane::py
