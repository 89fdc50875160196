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
  const std::string_view text = bytes->view();
  if (!is_valid_utf8(text)) return fail(ErrorClass::OSError, "stream did not contain valid UTF-8");
  // The document views the file's bytes, which stay until the output is written.
  const auto doc = parse_lockfile_view(text);
  if (!doc) return fail(ErrorClass::OSError, doc.error().display());
  return to_json_compact(*doc, text.size());
}

Outcome<void> write_lockfile(std::string_view path, std::string_view json) {
  const auto doc = parse_lockfile_view(json);
  if (!doc) return fail(ErrorClass::ValueError, doc.error().display());
  std::string text = to_json_pretty(*doc, json.size() + 1);
  text += '\n';
  return replace_file(path, text);
}

}  // namespace morvane::lockfile
