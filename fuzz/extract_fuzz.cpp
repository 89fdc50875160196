// Extraction of any bytes as a gzip-compressed tar archive.
//
// Each run extracts into "dest", relative to a working folder three levels
// below a scratch folder of this process (scratch/l1/l2/l3/dest); the process
// works in that folder only during the call. Then it checks:
// - nothing was created beside dest or beside any folder above it up to the
//   scratch folder, so neither a write through "..", nor one relative to the
//   working folder instead of dest, goes unseen;
// - below dest there are only folders and regular files: no symbolic link,
//   no device or FIFO, and every file has a single link (no hard link);
// - every descriptor opened by the call was closed;
// - on success the list returned names exactly the files on disk, each once
//   or more, as relative paths without ".." that stay below dest.
// dest is removed after every run. Memory is bounded by the runner's RSS limit.
//
// Mutating compressed bytes seldom yields a different archive, only a damaged
// stream. So most mutations here unpack a stream that decodes, mutate the tar
// bytes inside, set the header checksums right and pack it again; the others
// mutate the stream's bytes as they are.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "archive/extract.hpp"
#include "archive_bytes.hpp"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

namespace {

namespace fs = std::filesystem;

fs::path scratch;
int home_directory = -1;  // the working folder to return to after each call

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "extraction invariant broken: %s %.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

std::size_t open_descriptors() {
  std::size_t n = 0;
  DIR* d = ::opendir("/proc/self/fd");
  if (d == nullptr) return 0;
  while (const dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n;
}

// The names in `dir`, which must be at most `allowed`.
void expect_only(const fs::path& dir, std::string_view allowed) {
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename() != allowed) fail("something was created outside dest:", e.path().native());
}

// "a//./b" and "a/b" name the same file.
std::string canonical_relative(std::string_view rel) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t slash = rel.find('/', pos);
    const std::string_view piece = rel.substr(pos, slash == std::string_view::npos ? slash : slash - pos);
    if (piece == "..") fail("a listed path holds \"..\":", rel);
    if (!piece.empty() && piece != ".") {
      if (!out.empty()) out.push_back('/');
      out.append(piece);
    }
    if (slash == std::string_view::npos) return out;
    pos = slash + 1;
  }
}

// The files below dest, as relative paths; fails on anything but folders and
// single-link regular files.
std::set<std::string> files_below(const fs::path& dest) {
  std::set<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dest, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    struct stat st{};
    if (::lstat(it->path().c_str(), &st) != 0) fail("lstat failed on", it->path().native());
    if (S_ISLNK(st.st_mode)) fail("a symbolic link was created:", it->path().native());
    if (S_ISDIR(st.st_mode)) continue;
    if (!S_ISREG(st.st_mode)) fail("something other than a file or folder was created:", it->path().native());
    if (st.st_nlink != 1) fail("a file has more than one link:", it->path().native());
    files.insert(it->path().lexically_relative(dest).native());
  }
  if (ec) fail("walking dest failed:", ec.message());
  return files;
}

// A crash inside the call happens in the scratch folder; unless told where,
// libFuzzer would save the crashing input there. Point it at the folder the
// run was started from instead.
std::vector<char*> arguments;
std::string artifact_flag;

void default_artifact_prefix(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i)
    if (std::string_view((*argv)[i]).starts_with("-artifact_prefix=")) return;
  artifact_flag = "-artifact_prefix=" + fs::current_path().native() + "/";
  arguments.assign(*argv, *argv + *argc);
  arguments.insert(arguments.begin() + 1, artifact_flag.data());
  arguments.push_back(nullptr);
  *argc += 1;
  *argv = arguments.data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  default_artifact_prefix(argc, argv);
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/extract_fuzz.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) fail("cannot make a scratch folder");
  scratch = pattern;
  fs::create_directories(scratch / "l1" / "l2" / "l3");
  home_directory = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home_directory < 0) fail("cannot open the working folder");
  // Removed at exit when the run ends normally; a crash leaves it for inspection.
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(scratch, ec);
  });
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t max_size,
                                               unsigned int seed) {
  // Tar bytes are unpacked and grown up to this much for mutating.
  constexpr std::size_t max_tar_bytes = 1 << 20;
  if (seed % 4 == 0) return LLVMFuzzerMutate(data, size, max_size);
  auto tar = morvane::fuzz::gunzip({data, size}, max_tar_bytes);
  if (!tar) return LLVMFuzzerMutate(data, size, max_size);
  const std::size_t used = tar->size();
  tar->resize(std::min(max_tar_bytes, std::max<std::size_t>(2 * used, 4096)));
  tar->resize(LLVMFuzzerMutate(tar->data(), used, tar->size()));
  if (seed % 8 != 1) morvane::fuzz::fix_checksums(*tar);
  const auto packed = morvane::fuzz::gzip_deflate(*tar, seed % 3 == 0 ? 0 : 6);
  if (packed.empty() || packed.size() > max_size) return LLVMFuzzerMutate(data, size, max_size);
  std::copy(packed.begin(), packed.end(), data);
  return packed.size();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
  const fs::path work = scratch / "l1" / "l2" / "l3";
  const fs::path dest = work / "dest";
  const std::size_t descriptors = open_descriptors();

  // A write relative to the working folder rather than to dest lands beside
  // dest, where the checks below see it.
  if (::chdir(work.c_str()) != 0) fail("cannot enter the working folder");
  const auto result = morvane::archive::extract_tarball(std::span<const unsigned char>(raw, size), "dest");
  if (::fchdir(home_directory) != 0) fail("cannot return to the starting folder");

  if (open_descriptors() != descriptors) fail("a descriptor was left open");
  expect_only(scratch, "l1");
  expect_only(scratch / "l1", "l2");
  expect_only(scratch / "l1" / "l2", "l3");
  expect_only(work, "dest");
  const std::set<std::string> on_disk = files_below(dest);
  if (result) {
    std::set<std::string> listed;
    for (const std::string& rel : *result) {
      if (rel.empty() || rel.front() == '/') fail("a listed path is not relative:", rel);
      listed.insert(canonical_relative(rel));
    }
    if (listed != on_disk) fail("the list returned differs from the files written");
  } else if (result.error().message.empty() || result.error().error_class != morvane::ErrorClass::OSError) {
    fail("a failure without a message, or not an OSError");
  }
  std::error_code ec;
  fs::remove_all(dest, ec);
  if (ec) fail("cannot remove dest:", ec.message());
  return 0;
}
