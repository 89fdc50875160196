// The permissions record: what a skill requests or what a project's budget
// allows. One type serves the Python Permissions class and the budget checks,
// so it knows nothing of Python.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvane::permissions {

using TextList = std::vector<std::string>;

struct NetworkPermissions {
  std::optional<TextList> outbound;
  bool operator==(const NetworkPermissions&) const = default;
};

struct FilesystemPermissions {
  std::optional<TextList> read;
  std::optional<TextList> write;
  bool operator==(const FilesystemPermissions&) const = default;
};

struct Permissions {
  std::optional<NetworkPermissions> network;
  std::optional<FilesystemPermissions> filesystem;
  std::optional<bool> subprocess;

  bool operator==(const Permissions&) const = default;

  // Flat view: a list is absent when it or its enclosing part is absent.
  const TextList* network_outbound() const {
    return network && network->outbound ? &*network->outbound : nullptr;
  }
  const TextList* filesystem_read() const {
    return filesystem && filesystem->read ? &*filesystem->read : nullptr;
  }
  const TextList* filesystem_write() const {
    return filesystem && filesystem->write ? &*filesystem->write : nullptr;
  }
};

}  // namespace morvane::permissions
