#include "archive/inflater.hpp"

#include <algorithm>
#include <array>
#include <limits>

#if MORVANE_ZLIB_NG
#include <zlib-ng.h>
#else
#include <zlib.h>
#endif
#if MORVANE_ISAL
#include <crc.h>
#include <igzip_lib.h>
#endif

namespace morvane::archive {

namespace {

// The most bytes handed to a library at a time on either side: the counts
// are 32-bit. A caller with more sees a Progress and calls again.
constexpr std::size_t max_bytes_per_call = std::size_t{1} << 30;

// zlib and zlib-ng differ only in names: zlib-ng's own interface prefixes
// them and takes fixed-width types.
#if MORVANE_ZLIB_NG
using ZStream = zng_stream;
constexpr auto inflate_init_raw = [](ZStream* s) { return zng_inflateInit2(s, -MAX_WBITS); };
constexpr auto inflate_reset = zng_inflateReset;
constexpr auto inflate_step = zng_inflate;
constexpr auto inflate_end = zng_inflateEnd;
[[maybe_unused]] constexpr auto crc32_of = zng_crc32_z;
#define ZLIB_TEXT "zlib-ng " ZLIBNG_VERSION
#else
using ZStream = z_stream;
constexpr auto inflate_init_raw = [](ZStream* s) { return inflateInit2(s, -MAX_WBITS); };
constexpr auto inflate_reset = ::inflateReset;
constexpr auto inflate_step = ::inflate;
constexpr auto inflate_end = ::inflateEnd;
[[maybe_unused]] constexpr auto crc32_of = ::crc32_z;
// The version of the headers the build saw (a shared zlib may be newer).
#define ZLIB_TEXT "zlib " ZLIB_VERSION
#endif

static_assert(max_bytes_per_call <= std::numeric_limits<decltype(ZStream::avail_in)>::max() &&
              max_bytes_per_call <= std::numeric_limits<decltype(ZStream::avail_out)>::max());

using Status = Inflater::Status;

// zlib's (or zlib-ng's) inflate of raw deflate data, set up on first use.
class ZlibInflate {
 public:
  ZlibInflate() = default;
  ZlibInflate(const ZlibInflate&) = delete;
  ZlibInflate& operator=(const ZlibInflate&) = delete;
  ~ZlibInflate() {
    if (ready_) inflate_end(&zs_);
  }

  bool start() {
    if (ready_) return inflate_reset(&zs_) == Z_OK;
    zs_ = ZStream{};
    ready_ = inflate_init_raw(&zs_) == Z_OK;
    return ready_;
  }

  Status inflate(std::span<const unsigned char>& in, std::span<unsigned char>& out) {
    const std::size_t in_given = std::min(in.size(), max_bytes_per_call);
    const std::size_t out_given = std::min(out.size(), max_bytes_per_call);
    zs_.next_in = const_cast<unsigned char*>(in.data());
    zs_.avail_in = static_cast<decltype(zs_.avail_in)>(in_given);
    zs_.next_out = out.data();
    zs_.avail_out = static_cast<decltype(zs_.avail_out)>(out_given);
    const int rc = inflate_step(&zs_, Z_NO_FLUSH);
    in = in.subspan(in_given - zs_.avail_in);
    out = out.subspan(out_given - zs_.avail_out);
    switch (rc) {
      case Z_OK: return Status::Progress;
      case Z_STREAM_END: return Status::End;
      case Z_BUF_ERROR: return Status::NeedInput;
      case Z_MEM_ERROR: return Status::NoMemory;
      default: return Status::Corrupt;  // Z_DATA_ERROR; Z_NEED_DICT cannot occur in raw deflate
    }
  }

 private:
  ZStream zs_{};
  bool ready_ = false;
};

}  // namespace

#if MORVANE_ISAL

// ISA-L's inflate (igzip) reads every stream; its state is a plain structure,
// decoding tables and history inside, with no allocation of its own.
//
// Where ISA-L finds the data damaged, the bytes it hands out up to that point
// are not zlib's: it decodes ahead of what it hands out, and its assembly
// decoders write a match before checking its distance. So the call that
// finds damage gives nothing, and zlib reads the stream again from its
// start, passing over what ISA-L had handed out (ISA-L's output before that
// call is sound, and zlib's is the same), then going on as zlib goes: to the
// same damage, with the same bytes before it, as a build with zlib alone.
// A damaged stream is read twice; a sound one once.
#define INFLATER_TEXT "isa-l " MORVANE_ISAL_VERSION ", " ZLIB_TEXT

struct Inflater::Stream {
  inflate_state isal;
  bool isal_ready = false;
  // Where the stream begins, and how much of its output has been handed out.
  const unsigned char* begin = nullptr;
  std::uint64_t handed_out = 0;
  // Once ISA-L found damage: zlib, where it has read to, and how many of its
  // bytes it has yet to pass over.
  ZlibInflate zlib;
  bool by_zlib = false;
  const unsigned char* zlib_next = nullptr;
  std::uint64_t zlib_skip = 0;

  // zlib reads the stream from here on, from its start.
  bool hand_to_zlib() {
    if (!zlib.start()) return false;
    by_zlib = true;
    zlib_next = begin;
    zlib_skip = handed_out;
    return true;
  }
};

Inflater::Inflater() : stream_(std::make_unique<Stream>()) {}

Inflater::~Inflater() = default;

bool Inflater::start() {
  Stream& s = *stream_;
  if (s.isal_ready) {
    isal_inflate_reset(&s.isal);
  } else {
    isal_inflate_init(&s.isal);
    s.isal_ready = true;
  }
  s.isal.crc_flag = ISAL_DEFLATE;  // raw deflate: no wrapper, no checksum
  s.begin = nullptr;
  s.handed_out = 0;
  s.by_zlib = false;
  return true;
}

static_assert(max_bytes_per_call <= std::numeric_limits<decltype(inflate_state::avail_in)>::max() &&
              max_bytes_per_call <= std::numeric_limits<decltype(inflate_state::avail_out)>::max());

namespace {

// zlib's turn: it reads from where it has got to, which lies before `in`
// while it reads again what ISA-L had read, up to the end of `in`.
Status zlib_inflate(ZlibInflate& zlib, const unsigned char*& next, std::uint64_t& skip,
                    std::span<const unsigned char>& in, std::span<unsigned char>& out) {
  const unsigned char* const in_end = in.data() + in.size();
  std::span<const unsigned char> from(next, in_end);
  Status status;
  if (skip > 0) {
    std::array<unsigned char, 16 * 1024> discard;
    std::span<unsigned char> room = std::span(discard).first(static_cast<std::size_t>(
        std::min<std::uint64_t>(skip, discard.size())));
    const std::size_t room_given = room.size();
    status = zlib.inflate(from, room);
    skip -= room_given - room.size();
    // Passing over cannot end the stream or find damage: zlib gave these
    // bytes before, from the same input, and went on.
    if (status == Status::End) status = Status::Corrupt;
  } else {
    status = zlib.inflate(from, out);
  }
  next = from.data();
  if (next >= in.data() || status == Status::End) in = from;
  // Input that ISA-L had consumed is read again without the caller's help.
  if (status == Status::NeedInput && next < in.data()) status = Status::Progress;
  return status;
}

}  // namespace

// ISA-L decodes a symbol only with enough bits at hand for the longest one:
// at the end of a cut-off stream it may leave symbols that zlib decodes, or
// damage that zlib finds. zlib reads such a stream again.
bool Inflater::input_ends() {
  Stream& s = *stream_;
  if (s.by_zlib || s.begin == nullptr || s.isal.block_state == ISAL_BLOCK_FINISH) return false;
  return s.hand_to_zlib();
}

Inflater::Status Inflater::inflate(std::span<const unsigned char>& in, std::span<unsigned char>& out) {
  Stream& s = *stream_;
  if (s.by_zlib) return zlib_inflate(s.zlib, s.zlib_next, s.zlib_skip, in, out);
  inflate_state& st = s.isal;
  if (st.block_state == ISAL_BLOCK_FINISH) return Status::End;
  if (s.begin == nullptr) s.begin = in.data();
  const std::size_t in_given = std::min(in.size(), max_bytes_per_call);
  const std::size_t out_given = std::min(out.size(), max_bytes_per_call);
  const unsigned char* const in_start = in.data();
  st.next_in = const_cast<unsigned char*>(in_start);
  st.avail_in = static_cast<std::uint32_t>(in_given);
  st.next_out = out.data();
  st.avail_out = static_cast<std::uint32_t>(out_given);
  const int rc = isal_inflate(&st);
  if (rc < 0) {
    // ISAL_INVALID_BLOCK, _SYMBOL or _LOOKBACK (the other failures belong to
    // wrappers and dictionaries, which raw deflate has none of).
    if (!s.hand_to_zlib()) return Status::NoMemory;
    return zlib_inflate(s.zlib, s.zlib_next, s.zlib_skip, in, out);
  }
  const bool consumed = st.next_in != in_start;
  // At the end of the data ISA-L gives back the whole bytes it had read
  // ahead, which may lie before this call's input: the caller's input is
  // one buffer, handed over piece after piece.
  in = std::span(static_cast<const unsigned char*>(st.next_in), in_start + in.size());
  const std::size_t produced = out_given - st.avail_out;
  out = out.subspan(produced);
  s.handed_out += produced;
  if (st.block_state == ISAL_BLOCK_FINISH) return Status::End;
  return produced > 0 || consumed ? Status::Progress : Status::NeedInput;
}

#else

#define INFLATER_TEXT ZLIB_TEXT

struct Inflater::Stream {
  ZlibInflate zlib;
};

Inflater::Inflater() : stream_(std::make_unique<Stream>()) {}

Inflater::~Inflater() = default;

bool Inflater::start() { return stream_->zlib.start(); }

Inflater::Status Inflater::inflate(std::span<const unsigned char>& in, std::span<unsigned char>& out) {
  return stream_->zlib.inflate(in, out);
}

bool Inflater::input_ends() { return false; }

#endif

std::uint32_t Inflater::crc32(std::uint32_t crc, std::span<const unsigned char> bytes) {
#if MORVANE_ISAL
  // ISA-L's gzip CRC-32 is the same function as zlib's, and the faster of
  // the two where ISA-L is built (by a tenth on the reader's 256 KiB pieces,
  // by a third on pieces of a few hundred bytes, on x86_64).
  return crc32_gzip_refl(crc, bytes.data(), bytes.size());
#else
  return static_cast<std::uint32_t>(crc32_of(crc, bytes.data(), bytes.size()));
#endif
}

// Which inflater this build has, kept in the library's read-only data, where
// a reader of the file's bytes finds it ("morvane_core inflater: zlib-ng
// 2.3.3", or "isa-l 2.32.1, zlib-ng 2.3.3" with the one behind ISA-L);
// stripping removes symbols, not data. The module adds no name for it.
[[gnu::used, gnu::retain]] constexpr char build_inflater[] = "morvane_core inflater: " INFLATER_TEXT;

}  // namespace morvane::archive
