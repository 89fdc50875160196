#include "module/names.hpp"

#include <array>

#include "module/once.hpp"

namespace morvane::py {
namespace {

constexpr std::array<const char*, static_cast<int>(Name::Count)> texts = {
    "__all__", "__name__", "__module__", "__qualname__", "__bool__"};

std::array<ProcessOnce, static_cast<int>(Name::Count)> cells;

}  // namespace

PyObject* interned(Name n) {
  const auto i = static_cast<std::size_t>(n);
  return cells[i].get([&] { return PyUnicode_InternFromString(texts[i]); });
}

}  // namespace morvane::py
