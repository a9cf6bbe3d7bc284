// SUSignatureVerifier: checks a downloaded archive against its appcast item before anything in it
// is used: the exact length, then an Ed25519 detached signature over the whole file made with
// the private key whose public half is the application's SUPublicEDKey.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace SUSignatureVerifier {

// Archives larger than this are refused (the whole file is read to be verified).
inline constexpr std::uint64_t kMaximumArchiveSize = 1ull << 30;

// Decodes standard base64 (with padding, surrounding white space allowed); nullopt when invalid.
std::optional<std::string> decodeBase64(std::string_view text);
std::string encodeBase64(std::string_view bytes);

// nullopt when `archive` is exactly `expectedLength` bytes and `signatureBase64` is a valid
// signature of it by `publicKeyBase64`; otherwise a message saying what is wrong.
std::optional<std::string> verifyArchive(const std::filesystem::path& archive,
                                         std::uint64_t expectedLength,
                                         std::string_view signatureBase64,
                                         std::string_view publicKeyBase64);

} // namespace SUSignatureVerifier
