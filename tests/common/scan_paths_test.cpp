// The scans' vector and portable paths against each other and against a
// byte-at-a-time reference: every start offset 0-31 and every length 0-64,
// over random bytes drawn so that the bytes each scan stops at turn up at
// every place (and often not at all). Each text ends where its allocation
// ends, so that a read past `end` is caught by AddressSanitizer, which CI
// builds this with. Exits non-zero at the first disagreement. It needs no
// C++ runtime library, only the C library: the other processors' programs are
// linked without one.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string_view>

#include "common/scan.hpp"

namespace {

using Scan = const char* (*)(const char*, const char*);

struct Case {
  const char* name;
  bool (*stops_at)(char);  // the reference: the byte the scan stops at
  Scan portable;
  Scan vector;  // the same as portable where there is no vector path
};

const Case cases[] = {
    {"skip_ascii", [](char c) { return static_cast<unsigned char>(c) >= 0x80; }, morvane::portable::skip_ascii,
     morvane::skip_ascii},
    {"find_string_special", morvane::is_string_special, morvane::portable::find_string_special,
     morvane::find_string_special},
    {"skip_json_whitespace", [](char c) { return !morvane::is_json_whitespace(c); },
     morvane::portable::skip_json_whitespace, morvane::skip_json_whitespace},
};

// Bytes that each scan treats apart, and ones next to them.
constexpr unsigned char interesting[] = {0x00, 0x1F, 0x20, '"', '\\', '\t', '\n', '\r', ' ', 0x7F, 0x80, 0xFF, 'a', '!', '#', '['};

constexpr int max_offset = 31;
constexpr int max_length = 64;
constexpr int rounds = 500;  // per offset and length: 32 * 65 * 500 = 1,040,000 texts

struct Free {
  void operator()(char* p) const { std::free(p); }
};

}  // namespace

int main() {
  std::mt19937_64 random(20261208);
  long checked = 0;
  for (int offset = 0; offset <= max_offset; ++offset) {
    for (int length = 0; length <= max_length; ++length) {
      // The text sits at `offset` from an aligned start and ends where the
      // allocation ends.
      const std::unique_ptr<char, Free> block(static_cast<char*>(std::malloc(static_cast<std::size_t>(offset + length))));
      if (!block && offset + length > 0) return 2;
      char* const begin = block.get() + offset;
      char* const end = begin + length;
      for (int round = 0; round < rounds; ++round) {
        // Mostly one byte repeated (a run), a few others scattered at random,
        // with how many varying from round to round.
        const auto fill = interesting[random() % sizeof interesting];
        const int scattered = static_cast<int>(random() % 4);
        std::fill(begin, end, static_cast<char>(fill));
        for (int k = 0; k < scattered && length > 0; ++k) {
          const auto byte = round % 3 == 0 ? static_cast<unsigned char>(random()) : interesting[random() % sizeof interesting];
          begin[random() % static_cast<unsigned>(length)] = static_cast<char>(byte);
        }
        for (const Case& c : cases) {
          const char* const expected = std::find_if(begin, end, c.stops_at);
          const char* const portable = c.portable(begin, end);
          const char* const vector = c.vector(begin, end);
          if (portable != expected || vector != expected) {
            std::fprintf(stderr, "%s: offset %d, length %d: expected %td, portable %td, vector %td\n", c.name,
                         offset, length, expected - begin, portable - begin, vector - begin);
            return 1;
          }
          ++checked;
        }
      }
    }
  }
  std::printf("scan paths agree on %ld texts (the %s path against the portable one)\n", checked / 3,
              MORVANE_SCAN_PATH);
  return 0;
}
