#pragma once

#include <span>

#include "module/python.hpp"

namespace morvane::py {

// The nine functions' method definitions, in the order they join the module.
std::span<PyMethodDef> module_functions();

// A private fault-raising function in test builds (MORVANE_FAULT_PROBE), else null.
PyMethodDef* fault_probe_function();

}  // namespace morvane::py
