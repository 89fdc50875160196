#include "archive/integrity.hpp"

// SHA-512 comes from the platform where it has one in its system library
// (CommonCrypto, part of libSystem on Apple's systems), else from OpenSSL's
// libcrypto. The Apple lines are compiled by CI's cross-build for macOS; they
// cannot run here.
#ifdef __APPLE__
#include <CommonCrypto/CommonDigest.h>
#else
#include <openssl/err.h>
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <utility>

#include "archive/package_error.hpp"

namespace morvane::archive {

namespace {

constexpr std::string_view integrity_prefix = "sha512-";
constexpr std::size_t digest_bytes = 64;
using Digest = std::array<unsigned char, digest_bytes>;

#ifdef __APPLE__
// CC_SHA512_Update takes a 32-bit length: the data goes in pieces below 4 GiB.
constexpr std::size_t max_update_bytes = std::size_t{1} << 30;

// CommonCrypto's SHA-512 works on memory the caller owns and cannot fail.
PackageResult<Digest> sha512(std::span<const unsigned char> data) {
  CC_SHA512_CTX ctx;
  CC_SHA512_Init(&ctx);
  for (std::size_t at = 0; at < data.size(); at += max_update_bytes) {
    const std::size_t n = std::min(data.size() - at, max_update_bytes);
    CC_SHA512_Update(&ctx, data.data() + at, static_cast<CC_LONG>(n));
  }
  Digest digest{};
  CC_SHA512_Final(digest.data(), &ctx);
  return digest;
}
#else
struct EvpMdCtxFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
using EvpMdCtx = std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree>;

// Fails only when the crypto library cannot compute SHA-512 at all: an
// internal fault that no input causes. The message adds the text of
// OpenSSL's first queued error, and the queue is emptied so that no stale
// error reaches a later call.
PackageResult<Digest> sha512(std::span<const unsigned char> data) {
  EvpMdCtx ctx(EVP_MD_CTX_new());
  Digest digest{};
  unsigned int digest_len = 0;
  if (ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha512(), nullptr) == 1 &&
      EVP_DigestUpdate(ctx.get(), data.data(), data.size()) == 1 &&
      EVP_DigestFinal_ex(ctx.get(), digest.data(), &digest_len) == 1 && digest_len == digest_bytes) {
    return digest;
  }
  std::string message = "SHA-512 digest could not be computed";
  if (const unsigned long code = ERR_get_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    message += ": ";
    message += text;
  }
  ERR_clear_error();
  return std::unexpected(PackageError{PackageError::Kind::Internal, std::move(message), {}});
}
#endif

// Standard Base64 with "=" padding: 88 characters for a digest.
void append_base64(std::string& out, const Digest& digest) {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::size_t i = 0;
  for (; i + 3 <= digest.size(); i += 3) {
    const std::uint32_t v = std::uint32_t{digest[i]} << 16 | std::uint32_t{digest[i + 1]} << 8 | digest[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out += alphabet[v >> shift & 0x3F];
  }
  // 64 bytes leave one: two characters and two pads.
  static_assert(digest_bytes % 3 == 1);
  const std::uint32_t v = std::uint32_t{digest[i]} << 16;
  out += alphabet[v >> 18 & 0x3F];
  out += alphabet[v >> 12 & 0x3F];
  out += "==";
}

PackageResult<std::string> integrity_of(std::span<const unsigned char> data) {
  auto digest = sha512(data);
  if (!digest) return std::unexpected(std::move(digest.error()));
  std::string out;
  out.reserve(integrity_prefix.size() + 88);
  out += integrity_prefix;
  append_base64(out, *digest);
  return out;
}

}  // namespace

Outcome<std::string> verify_integrity(std::span<const unsigned char> data, std::string_view expected) {
  auto computed = integrity_of(data);
  if (!computed) return std::unexpected(computed.error().as(ErrorClass::ValueError));
  if (*computed == expected) return std::move(*computed);
  const PackageError mismatch{PackageError::Kind::IntegrityMismatch, std::string(expected), std::move(*computed)};
  return std::unexpected(mismatch.as(ErrorClass::ValueError));
}

}  // namespace morvane::archive
