// Process-wide objects created once, on first need, and kept until exit.
//
// Creating one may let other threads run (the interpreter can release the GIL
// inside a call), so a thread that finds another in the middle of the same
// creation waits for it with the GIL released; otherwise the two would
// deadlock, each holding what the other needs.
#pragma once

#include <atomic>
#include <mutex>

#include "module/python.hpp"

namespace morvane::py {

class ProcessOnce {
 public:
  // Returns the object (borrowed; it is never destroyed), creating it with
  // `create` (which returns a new reference or null with an error set) the
  // first time. On failure returns null with the error set; a later call
  // tries again.
  template <class Create>
  PyObject* get(Create&& create) {
    if (PyObject* o = object_.load(std::memory_order_acquire)) return o;
    PyThreadState* state = PyEval_SaveThread();
    std::unique_lock lock(mutex_);
    PyEval_RestoreThread(state);
    if (PyObject* o = object_.load(std::memory_order_acquire)) return o;
    PyObject* o = create();
    if (o) object_.store(o, std::memory_order_release);
    return o;
  }

 private:
  std::atomic<PyObject*> object_{nullptr};
  std::mutex mutex_;
};

}  // namespace morvane::py
