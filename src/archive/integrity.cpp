#include "archive/integrity.hpp"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <array>
#include <memory>
#include <utility>

#include "archive/package_error.hpp"

namespace morvane::archive {

namespace {

struct EvpMdCtxFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
using EvpMdCtx = std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree>;

constexpr std::string_view integrity_prefix = "sha512-";
constexpr std::size_t digest_bytes = 64;
constexpr std::size_t base64_chars = 88;  // 4 * ceil(64 / 3), "==" padded

// `what` failed: the message adds the text of OpenSSL's first queued error,
// and the queue is emptied so that no stale error reaches a later call.
std::unexpected<PackageError> crypto_failure(const char* what) {
  std::string message = what;
  if (const unsigned long code = ERR_get_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    message += ": ";
    message += text;
  }
  ERR_clear_error();
  return std::unexpected(PackageError{PackageError::Kind::Internal, std::move(message), {}});
}

// Fails only when the crypto library cannot compute SHA-512 at all: an
// internal fault that no input causes.
PackageResult<std::string> integrity_of(std::span<const unsigned char> data) {
  EvpMdCtx ctx(EVP_MD_CTX_new());
  std::array<unsigned char, digest_bytes> digest{};
  unsigned int digest_len = 0;
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha512(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), data.data(), data.size()) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), digest.data(), &digest_len) != 1 || digest_len != digest_bytes) {
    return crypto_failure("SHA-512 digest could not be computed");
  }
  // EVP_EncodeBlock writes a terminating NUL after the text.
  std::array<unsigned char, base64_chars + 1> text{};
  if (EVP_EncodeBlock(text.data(), digest.data(), static_cast<int>(digest.size())) != static_cast<int>(base64_chars)) {
    return crypto_failure("Base64 encoding of the digest failed");
  }
  std::string out(integrity_prefix);
  out.append(reinterpret_cast<const char*>(text.data()), base64_chars);
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
