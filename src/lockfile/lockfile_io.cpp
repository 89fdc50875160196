#include "lockfile/lockfile_io.hpp"

#include <utility>

#include "common/utf8.hpp"
#include "lockfile/file_io.hpp"
#include "lockfile/json_reader.hpp"
#include "lockfile/json_writer.hpp"

namespace morvane::lockfile {

Outcome<std::string> read_lockfile(std::string_view path) {
  auto bytes = read_file(path);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  if (!is_valid_utf8(bytes->view())) return fail(ErrorClass::OSError, "stream did not contain valid UTF-8");
  const auto doc = parse_lockfile(std::move(*bytes));
  if (!doc) return fail(ErrorClass::OSError, doc.error().display());
  return to_json_compact(*doc);
}

Outcome<void> write_lockfile(std::string_view path, std::string_view json) {
  const auto doc = parse_lockfile(json);
  if (!doc) return fail(ErrorClass::ValueError, doc.error().display());
  std::string text = to_json_pretty(*doc);
  text += '\n';
  return replace_file(path, text);
}

}  // namespace morvane::lockfile
