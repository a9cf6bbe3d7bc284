#include "SoftwareUpdate/SUSignatureVerifier.h"

#include <fstream>
#include <sodium.h>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool initSodium() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::string_view(" \t\r\n").find(text.front()) != std::string_view::npos)
    text.remove_prefix(1);
  while (!text.empty() && std::string_view(" \t\r\n").find(text.back()) != std::string_view::npos)
    text.remove_suffix(1);
  return text;
}

} // namespace

std::optional<std::string> SUSignatureVerifier::decodeBase64(std::string_view text) {
  if (!initSodium())
    return std::nullopt;
  text = trimmed(text);
  std::string bytes(text.size() / 4 * 3 + 3, '\0');
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(),
                        text.size(), nullptr, &length, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size())
    return std::nullopt;
  bytes.resize(length);
  return bytes;
}

std::string SUSignatureVerifier::encodeBase64(std::string_view bytes) {
  initSodium();
  std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(bytes.data()),
                    bytes.size(), sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1); // the terminating NUL
  return text;
}

std::optional<std::string> SUSignatureVerifier::verifyArchive(const fs::path& archive,
                                                              std::uint64_t expectedLength,
                                                              std::string_view signatureBase64,
                                                              std::string_view publicKeyBase64) {
  if (!initSodium())
    return "The update cannot be verified: the cryptography library failed to start.";
  std::optional<std::string> publicKey = decodeBase64(publicKeyBase64);
  if (!publicKey || publicKey->size() != crypto_sign_PUBLICKEYBYTES)
    return "The update cannot be verified: this application's public key (SUPublicEDKey) is not "
           "a base64 Ed25519 key.";
  if (trimmed(signatureBase64).empty())
    return "The update is not signed (its appcast item has no sparkle:edSignature), so it was "
           "not installed.";
  std::optional<std::string> signature = decodeBase64(signatureBase64);
  if (!signature || signature->size() != crypto_sign_BYTES)
    return "The update's signature (sparkle:edSignature) is not a base64 Ed25519 signature, so "
           "the update was not installed.";

  std::error_code ec;
  std::uintmax_t size = fs::file_size(archive, ec);
  if (ec)
    return "The downloaded update cannot be read: " + ec.message() + ".";
  if (size != expectedLength)
    return "The downloaded update is " + std::to_string(size) + " bytes, not the " +
           std::to_string(expectedLength) +
           " bytes its appcast item announces, so it was not "
           "installed.";
  if (size > kMaximumArchiveSize)
    return "The update is too large to be verified.";

  std::string bytes(size, '\0');
  std::ifstream in(archive, std::ios::binary);
  if (!in.read(bytes.data(), static_cast<std::streamsize>(size)))
    return "The downloaded update cannot be read.";
  if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature->data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size(),
                                  reinterpret_cast<const unsigned char*>(publicKey->data())) != 0)
    return "The update's signature does not match this application's public key: the archive "
           "was changed or signed by someone else, so it was not installed.";
  return std::nullopt;
}
