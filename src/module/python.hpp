// The one way this module includes the interpreter's headers: always against
// the stable ABI of CPython 3.9, so one build serves 3.9 and every later version.
#pragma once

#if !defined(Py_LIMITED_API) || Py_LIMITED_API + 0 != 0x03090000
#error "build with Py_LIMITED_API=0x03090000"
#endif

#define PY_SSIZE_T_CLEAN
#include <Python.h>
