#include "archive/integrity.hpp"

#include <openssl/evp.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace morvane::archive {

namespace {

struct EvpMdCtxFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
using EvpMdCtx = std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree>;

constexpr std::string_view integrity_prefix = "sha512-";
constexpr std::size_t digest_bytes = 64;
constexpr std::size_t base64_chars = 88;  // 4 * ceil(64 / 3), "==" padded

}  // namespace

std::string integrity_of(std::span<const unsigned char> data) {
  // A failure here means the crypto library cannot compute SHA-512 at all: an
  // internal fault, not something the caller's input can cause.
  EvpMdCtx ctx(EVP_MD_CTX_new());
  std::array<unsigned char, digest_bytes> digest{};
  unsigned int digest_len = 0;
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha512(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), data.data(), data.size()) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), digest.data(), &digest_len) != 1 || digest_len != digest_bytes) {
    throw std::runtime_error("SHA-512 digest could not be computed");
  }

  std::string out(integrity_prefix.size() + base64_chars, '\0');
  out.replace(0, integrity_prefix.size(), integrity_prefix);
  // EVP_EncodeBlock writes a terminating NUL after the text.
  std::array<unsigned char, base64_chars + 1> text{};
  if (EVP_EncodeBlock(text.data(), digest.data(), static_cast<int>(digest.size())) != static_cast<int>(base64_chars)) {
    throw std::runtime_error("Base64 encoding of the digest failed");
  }
  out.replace(integrity_prefix.size(), base64_chars, reinterpret_cast<const char*>(text.data()), base64_chars);
  return out;
}

std::expected<std::string, PackageError> verify_integrity(std::span<const unsigned char> data,
                                                          std::string_view expected) {
  std::string computed = integrity_of(data);
  if (computed == expected) return computed;
  return std::unexpected(
      PackageError{PackageError::Kind::IntegrityMismatch, std::string(expected), std::move(computed)});
}

}  // namespace morvane::archive
