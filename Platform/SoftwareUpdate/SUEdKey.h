// SUEdKey: the release side of update signing: Ed25519 key pairs and detached signatures of
// whole archives, as the release tools (generate_keys, sign_update) make them. A private key
// file holds the base64 of the 32-byte seed, on one line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace SUEdKey {

struct KeyPair {
  std::string seed;      // 32 bytes: the private key as stored
  std::string publicKey; // 32 bytes
};

KeyPair generate();
// The key pair of a seed (32 bytes) or of a libsodium secret key (64 bytes); nullopt otherwise.
std::optional<KeyPair> fromPrivateKey(std::string_view bytes);

// Writes a new private key file readable by its owner only; fails rather than replacing a file.
// nullopt on success, else the reason.
std::optional<std::string> writePrivateKeyFile(const std::filesystem::path& file,
                                               const KeyPair& keys);
// Reads a private key file; nullopt with `error` set when it is missing or not a key.
std::optional<KeyPair> readPrivateKeyFile(const std::filesystem::path& file, std::string& error);

// The detached signature (64 bytes) of `message`.
std::string sign(std::string_view message, const KeyPair& keys);

} // namespace SUEdKey
