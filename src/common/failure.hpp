// Failure values shared by every operation the Python boundary calls.
//
// Operations never throw on purpose: they return a value or a Failure that
// names the Python exception class to raise and carries the message text.
// InternalFault is a fault of the machine or a library that no input causes:
// it is raised as the boundary's PanicException.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace morvane {

enum class ErrorClass { ValueError, OSError, PermissionError, InternalFault };

struct Failure {
  ErrorClass error_class;
  std::string message;
};

template <class T>
using Outcome = std::expected<T, Failure>;

inline std::unexpected<Failure> fail(ErrorClass cls, std::string message) {
  return std::unexpected(Failure{cls, std::move(message)});
}

}  // namespace morvane
