// Interned attribute names that the boundary looks up, created once per process.
#pragma once

#include "module/python.hpp"

namespace morvane::py {

enum class Name { All, Name, Module, Qualname, Bool, Count };

// Borrowed; null with an error set only if interning fails.
PyObject* interned(Name n);

}  // namespace morvane::py
