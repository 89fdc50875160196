#include "module/binding.hpp"

#include <algorithm>
#include <string>

#include "common/utf8.hpp"

namespace morvane::py {
namespace {

// A length hint larger than this is not trusted for reserving memory: a
// user-defined sequence may report any length it likes.
constexpr Py_ssize_t max_reserve_hint = 1 << 16;

// "'int' object is not an instance of 'str'" (None: "'None' is not an instance of 'str'").
void raise_not_instance(PyObject* o, const char* expected) {
  if (o == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
    return;
  }
  Ref qualname = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__qualname__"));
  if (!qualname) return;
  PyErr_Format(PyExc_TypeError, "'%S' object is not an instance of '%s'", qualname.get(), expected);
}

// The wrapping rule: a conversion error whose class is exactly TypeError is
// replaced by TypeError("argument '<param>': <text>") keeping its __cause__;
// any other error passes on unchanged.
void wrap_argument_error(const char* param) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type != PyExc_TypeError) {
    PyErr_Restore(type, value, traceback);
    return;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref t = Ref::steal(type), v = Ref::steal(value), tb = Ref::steal(traceback);
  Ref text = Ref::steal(PyObject_Str(v.get()));
  if (!text) return;
  Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
  if (!message) return;
  Ref wrapped = Ref::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
  if (!wrapped) return;
  if (PyObject* cause = PyException_GetCause(v.get())) PyException_SetCause(wrapped.get(), cause);
  PyErr_SetObject(PyExc_TypeError, wrapped.get());
}

// The str conversion without the wrapping step, shared by str parameters and
// the items of sequences.
std::optional<Utf8> utf8_of(PyObject* str) {
  Ref bytes = Ref::steal(PyUnicode_AsUTF8String(str));
  if (!bytes) return std::nullopt;  // UnicodeEncodeError for a lone surrogate
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return std::nullopt;
  return Utf8{std::move(bytes), std::string_view(data, static_cast<std::size_t>(size))};
}

// An object whose type has __module__ "numpy" and __name__ "bool_" or "bool".
bool is_numpy_bool(PyObject* o) {
  auto* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
  Ref module = Ref::steal(PyObject_GetAttrString(type, "__module__"));
  Ref name = Ref::steal(PyObject_GetAttrString(type, "__name__"));
  if (!module || !name || !PyUnicode_Check(module.get()) || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0 &&
         (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
          PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
}

std::string quoted_name_list(const std::vector<const char*>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

}  // namespace

void refuse(PyObject* o, const char* expected, const char* param) {
  raise_not_instance(o, expected);
  wrap_argument_error(param);
}

bool bind_slots(const char* name, std::span<const char* const> params, std::size_t required, PyObject* args,
                PyObject* kwargs, std::span<PyObject*> out) {
  const auto nparams = static_cast<Py_ssize_t>(params.size());
  const auto nrequired = static_cast<Py_ssize_t>(required);
  std::fill(out.begin(), out.end(), nullptr);

  const Py_ssize_t npos = args ? PyTuple_Size(args) : 0;
  if (npos < 0) return false;
  if (npos > nparams) {
    const char* verb = npos == 1 ? "was" : "were";
    if (nrequired == nparams)
      PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd %s given", name,
                   nparams, npos, verb);
    else
      PyErr_Format(PyExc_TypeError, "%s() takes from %zd to %zd positional arguments but %zd %s given",
                   name, nrequired, nparams, npos, verb);
    return false;
  }
  for (Py_ssize_t i = 0; i < npos; ++i) out[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);

  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      std::size_t j = 0;
      if (PyUnicode_Check(key))
        while (j < params.size() && PyUnicode_CompareWithASCIIString(key, params[j]) != 0) ++j;
      else
        j = params.size();
      if (j == params.size()) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", name, key);
        return false;
      }
      if (out[j]) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", name, params[j]);
        return false;
      }
      out[j] = value;
    }
  }

  std::vector<const char*> missing;
  for (std::size_t j = 0; j < required; ++j)
    if (!out[j]) missing.push_back(params[j]);
  if (!missing.empty()) {
    const std::string names = quoted_name_list(missing);
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional %s: %s", name, missing.size(),
                 missing.size() == 1 ? "argument" : "arguments", names.c_str());
    return false;
  }
  return true;
}

std::optional<Utf8> to_utf8(PyObject* o, const char* param) {
  if (!PyUnicode_Check(o)) {
    refuse(o, "str", param);
    return std::nullopt;
  }
  auto text = utf8_of(o);
  if (!text) wrap_argument_error(param);
  return text;
}

std::optional<BytesView> to_bytes(PyObject* o, const char* param) {
  if (!PyBytes_Check(o)) {
    refuse(o, "bytes", param);
    return std::nullopt;
  }
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(o, &data, &size) < 0) {
    wrap_argument_error(param);
    return std::nullopt;
  }
  return BytesView{{reinterpret_cast<const unsigned char*>(data), static_cast<std::size_t>(size)}};
}

namespace {

// Iterates `o`, converting each item as it is read: iteration stops at the
// first item that fails, so an endless sequence of bad items ends there. The
// texts are then laid back to back in one bytes object.
std::optional<Utf8List> convert_iterated(PyObject* o, const char* param) {
  std::vector<Utf8> texts;
  // The length is a capacity hint only; a failure to read it is ignored.
  const Py_ssize_t hint = PyObject_Size(o);
  if (hint < 0) PyErr_Clear();
  else texts.reserve(static_cast<std::size_t>(std::min(hint, max_reserve_hint)));

  Ref iter = Ref::steal(PyObject_GetIter(o));
  std::size_t size = 0;
  while (Ref item = Ref::steal(iter ? PyIter_Next(iter.get()) : nullptr)) {
    if (!PyUnicode_Check(item.get())) {
      refuse(item.get(), "str", param);
      return std::nullopt;
    }
    auto text = utf8_of(item.get());
    if (!text) break;
    size += text->view.size();
    texts.push_back(std::move(*text));
  }
  if (PyErr_Occurred()) {  // the iteration's own failure, or an item's encoding
    wrap_argument_error(param);
    return std::nullopt;
  }

  Ref bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
  char* out = bytes ? PyBytes_AsString(bytes.get()) : nullptr;
  if (!out) return std::nullopt;
  Utf8List list;
  list.views.reserve(texts.size());
  for (const Utf8& text : texts) {
    list.views.emplace_back(out, text.view.size());
    out = std::copy(text.view.begin(), text.view.end(), out);
  }
  list.owner = std::move(bytes);
  return list;
}

// The texts of an exact tuple or list of str in one piece, which saves an
// encoding per item: the items are joined and the joined text encoded once,
// then cut back into items at their lengths in code points. No Python code
// runs meanwhile (str objects are not tracked by the garbage collector, so
// making them starts no collection), so a list cannot change under it.
// nullopt, with no error set, when that does not work out (an item that is not
// a str or cannot be encoded); the conversion item by item then reports the
// first failure.
std::optional<Utf8List> convert_joined(PyObject* items) {
  Ref empty = Ref::steal(PyUnicode_FromStringAndSize("", 0));
  Ref joined = Ref::steal(empty ? PyUnicode_Join(empty.get(), items) : nullptr);
  Ref bytes = Ref::steal(joined ? PyUnicode_AsUTF8String(joined.get()) : nullptr);
  char* start = nullptr;
  Py_ssize_t size = 0;
  if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &start, &size) < 0) {
    PyErr_Clear();
    return std::nullopt;
  }
  std::string_view rest(start, static_cast<std::size_t>(size));
  const bool ascii = size == PyUnicode_GetLength(joined.get());
  const bool is_tuple = PyTuple_CheckExact(items);
  const Py_ssize_t n = is_tuple ? PyTuple_Size(items) : PyList_Size(items);
  Utf8List list;
  list.views.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = is_tuple ? PyTuple_GetItem(items, i) : PyList_GetItem(items, i);
    const Py_ssize_t code_points = PyUnicode_GetLength(item);
    if (code_points < 0) {
      PyErr_Clear();
      return std::nullopt;
    }
    const auto count = static_cast<std::size_t>(code_points);
    const std::size_t bytes_of_item = ascii ? count : utf8_prefix_bytes(rest, count);
    if (bytes_of_item > rest.size()) return std::nullopt;
    list.views.push_back(rest.substr(0, bytes_of_item));
    rest.remove_prefix(bytes_of_item);
  }
  if (!rest.empty()) return std::nullopt;
  list.owner = std::move(bytes);
  return list;
}

}  // namespace

std::optional<Utf8List> to_utf8_list(PyObject* o, const char* param) {
  if (PyUnicode_Check(o)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    wrap_argument_error(param);
    return std::nullopt;
  }
  if (!PySequence_Check(o)) {
    refuse(o, "Sequence", param);
    return std::nullopt;
  }
  // Anything but an exact tuple or list, subclasses included, may run Python
  // code while it is iterated: it is converted item by item as it yields.
  if (!PyTuple_CheckExact(o) && !PyList_CheckExact(o)) return convert_iterated(o, param);
  if (auto list = convert_joined(o)) return list;
  // Iterating an exact tuple or list yields its stored items and runs no
  // Python code, but reporting a failure may; a list's items are taken into a
  // tuple of its own, so that they cannot change meanwhile.
  Ref items = PyTuple_CheckExact(o) ? Ref::borrow(o) : Ref::steal(PyList_AsTuple(o));
  if (!items) return std::nullopt;
  return convert_iterated(items.get(), param);
}

std::optional<bool> to_bool(PyObject* o, const char* param) {
  if (o == Py_True) return true;
  if (o == Py_False) return false;
  if (is_numpy_bool(o)) {
    Ref result = Ref::steal(PyObject_CallMethod(o, "__bool__", nullptr));
    if (!result) {
      wrap_argument_error(param);
      return std::nullopt;
    }
    if (result.get() == Py_True) return true;
    if (result.get() == Py_False) return false;
    refuse(result.get(), "bool", param);
    return std::nullopt;
  }
  refuse(o, "bool", param);
  return std::nullopt;
}

PyObject* to_python(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

PyObject* to_python(bool value) { return PyBool_FromLong(value); }

PyObject* to_python(const std::vector<std::string>& texts) {
  return new_list(texts.size(), [&](std::size_t i) { return to_python(std::string_view(texts[i])); });
}

PyObject* none() {
  Py_INCREF(Py_None);
  return Py_None;
}

}  // namespace morvane::py
