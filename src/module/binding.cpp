#include "module/binding.hpp"

#include <algorithm>
#include <string>

#include "module/classes.hpp"
#include "module/names.hpp"

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
  PyObject* qualname_attr = interned(Name::Qualname);
  if (!qualname_attr) return;
  Ref qualname = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(o)), qualname_attr));
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

void refuse(PyObject* o, const char* expected, const char* param) {
  raise_not_instance(o, expected);
  wrap_argument_error(param);
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
  PyObject* module_attr = interned(Name::Module);
  PyObject* name_attr = interned(Name::Name);
  if (!module_attr || !name_attr) return false;
  Ref module = Ref::steal(PyObject_GetAttr(type, module_attr));
  Ref name = Ref::steal(PyObject_GetAttr(type, name_attr));
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

bool bind(const char* display, std::span<const char* const> params, std::size_t required, PyObject* args,
          PyObject* kwargs, std::span<PyObject*> out) {
  const auto nparams = static_cast<Py_ssize_t>(params.size());
  const auto nrequired = static_cast<Py_ssize_t>(required);
  std::fill(out.begin(), out.end(), nullptr);

  const Py_ssize_t npos = args ? PyTuple_Size(args) : 0;
  if (npos < 0) return false;
  if (npos > nparams) {
    const char* verb = npos == 1 ? "was" : "were";
    if (nrequired == nparams)
      PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given", display,
                   nparams, npos, verb);
    else
      PyErr_Format(PyExc_TypeError, "%s takes from %zd to %zd positional arguments but %zd %s given",
                   display, nrequired, nparams, npos, verb);
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
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", display, key);
        return false;
      }
      if (out[j]) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", display, params[j]);
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
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", display, missing.size(),
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

// Appends one item's UTF-8 text to the list; false with the error set and
// wrapped when the item is not a str or cannot be encoded.
bool append_item(Utf8List& list, std::vector<std::size_t>& ends, PyObject* item, const char* param) {
  if (!PyUnicode_Check(item)) {
    refuse(item, "str", param);
    return false;
  }
  // The bytes object lives only for the copy, so the allocator hands the same
  // block back for the next item.
  auto text = utf8_of(item);
  if (!text) {
    wrap_argument_error(param);
    return false;
  }
  list.arena.insert(list.arena.end(), text->view.begin(), text->view.end());
  ends.push_back(list.arena.size());
  return true;
}

// The common case, a list or tuple of ASCII str, without one bytes object per
// item: join the items, encode once, and cut the result at the items' lengths
// (for ASCII text, code points and bytes coincide). Returns false, with no
// error set, when the case does not apply; the item-by-item path then gives
// the exact answer, errors included.
bool join_ascii(PyObject* seq, Utf8List& list) {
  const bool is_list = PyList_Check(seq);
  const Py_ssize_t n = is_list ? PyList_Size(seq) : PyTuple_Size(seq);
  auto item = [&](Py_ssize_t i) { return is_list ? PyList_GetItem(seq, i) : PyTuple_GetItem(seq, i); };
  for (Py_ssize_t i = 0; i < n; ++i)
    if (!PyUnicode_Check(item(i))) return false;
  Ref empty = Ref::steal(PyUnicode_FromStringAndSize("", 0));
  Ref joined = Ref::steal(empty ? PyUnicode_Join(empty.get(), seq) : nullptr);
  Ref bytes = Ref::steal(joined ? PyUnicode_AsUTF8String(joined.get()) : nullptr);
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0 || size != PyUnicode_GetLength(joined.get())) {
    PyErr_Clear();
    return false;
  }
  list.views.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    const auto len = static_cast<std::size_t>(PyUnicode_GetLength(item(i)));
    list.views.emplace_back(data, len);
    data += len;
  }
  list.joined = std::move(bytes);
  return true;
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
  Utf8List list;
  std::vector<std::size_t> ends;
  const Py_ssize_t hint = PyObject_Size(o);
  if (hint < 0) PyErr_Clear();
  else ends.reserve(static_cast<std::size_t>(std::min(hint, max_reserve_hint)));

  if ((PyList_Check(o) || PyTuple_Check(o)) && join_ascii(o, list)) return list;
  if (PyErr_Occurred()) return std::nullopt;

  if (PyList_Check(o) || PyTuple_Check(o)) {
    // Indexing a list or tuple visits the same items as iterating it, and no
    // Python code runs between the items, so the container cannot change.
    const bool is_list = PyList_Check(o);
    const Py_ssize_t n = is_list ? PyList_Size(o) : PyTuple_Size(o);
    for (Py_ssize_t i = 0; i < n; ++i)
      if (!append_item(list, ends, is_list ? PyList_GetItem(o, i) : PyTuple_GetItem(o, i), param))
        return std::nullopt;
  } else {
    Ref iter = Ref::steal(PyObject_GetIter(o));
    if (!iter) {
      wrap_argument_error(param);
      return std::nullopt;
    }
    while (Ref item = Ref::steal(PyIter_Next(iter.get())))
      if (!append_item(list, ends, item.get(), param)) return std::nullopt;
    if (PyErr_Occurred()) {
      wrap_argument_error(param);
      return std::nullopt;
    }
  }
  list.views.reserve(ends.size());
  std::size_t start = 0;
  for (std::size_t end : ends) {
    list.views.emplace_back(list.arena.data() + start, end - start);
    start = end;
  }
  return list;
}

std::optional<bool> to_bool(PyObject* o, const char* param) {
  if (o == Py_True) return true;
  if (o == Py_False) return false;
  if (is_numpy_bool(o)) {
    PyObject* bool_attr = interned(Name::Bool);
    Ref result = Ref::steal(bool_attr ? PyObject_CallMethodObjArgs(o, bool_attr, nullptr) : nullptr);
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

std::optional<const Permissions*> to_permissions(PyObject* o, const char* param) {
  if (const Permissions* record = permissions_record(o)) return record;
  if (PyErr_Occurred()) return std::nullopt;
  refuse(o, "Permissions", param);
  return std::nullopt;
}

PyObject* to_python(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

PyObject* to_python(bool value) { return PyBool_FromLong(value); }

PyObject* to_python(const std::vector<std::string>& texts) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(texts.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    PyObject* item = to_python(std::string_view(texts[i]));
    if (!item) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return list.release();
}

PyObject* none() {
  Py_INCREF(Py_None);
  return Py_None;
}

}  // namespace morvane::py
