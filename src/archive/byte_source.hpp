// Where the tar reader's bytes come from: the gzip reader when extracting,
// raw archive bytes when the tar layer is driven on its own.
#pragma once

#include <cstddef>
#include <span>

#include "archive/package_error.hpp"

namespace morvane::archive {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Fills up to out.size() bytes of `out` and returns how many; 0 only at the
  // end of the bytes. A failure is handed on as it is: the tar reader keeps
  // it as its own first failure.
  virtual PackageResult<std::size_t> read(std::span<unsigned char> out) = 0;
};

}  // namespace morvane::archive
