#include "SoftwareUpdate/SUEdKey.h"

#include "SoftwareUpdate/SUSignatureVerifier.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sodium.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const unsigned char* bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

} // namespace

SUEdKey::KeyPair SUEdKey::generate() {
  if (sodium_init() < 0)
    throw std::runtime_error("libsodium failed to start");
  std::string seed(crypto_sign_SEEDBYTES, '\0');
  randombytes_buf(seed.data(), seed.size());
  KeyPair keys = *fromPrivateKey(seed);
  sodium_memzero(seed.data(), seed.size());
  return keys;
}

std::optional<SUEdKey::KeyPair> SUEdKey::fromPrivateKey(std::string_view key) {
  if (sodium_init() < 0)
    return std::nullopt;
  std::string_view seed;
  if (key.size() == crypto_sign_SEEDBYTES)
    seed = key;
  else if (key.size() == crypto_sign_SECRETKEYBYTES)
    seed = key.substr(0, crypto_sign_SEEDBYTES);
  else
    return std::nullopt;
  KeyPair keys;
  keys.seed.assign(seed);
  keys.publicKey.assign(crypto_sign_PUBLICKEYBYTES, '\0');
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
  crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(keys.publicKey.data()), secret,
                           bytes(keys.seed));
  sodium_memzero(secret, sizeof secret);
  // A 64-byte key carries its public half: it must be the one the seed gives.
  if (key.size() == crypto_sign_SECRETKEYBYTES && key.substr(32) != keys.publicKey)
    return std::nullopt;
  return keys;
}

std::optional<std::string> SUEdKey::writePrivateKeyFile(const std::filesystem::path& file,
                                                        const KeyPair& keys) {
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0)
    return "cannot create " + file.string() + ": " + std::strerror(errno);
  std::string text = SUSignatureVerifier::encodeBase64(keys.seed) + "\n";
  bool ok = fchmod(fd, 0600) == 0 &&
            write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
            fsync(fd) == 0;
  int saved = errno;
  sodium_memzero(text.data(), text.size());
  if (close(fd) != 0 || !ok) {
    unlink(file.c_str());
    return "cannot write " + file.string() + ": " + std::strerror(saved);
  }
  return std::nullopt;
}

std::optional<SUEdKey::KeyPair> SUEdKey::readPrivateKeyFile(const std::filesystem::path& file,
                                                            std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot read the private key file " + file.string();
    return std::nullopt;
  }
  std::string text(4096, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  std::optional<std::string> key = SUSignatureVerifier::decodeBase64(text);
  sodium_memzero(text.data(), text.size());
  std::optional<KeyPair> keys = key ? fromPrivateKey(*key) : std::nullopt;
  if (key)
    sodium_memzero(key->data(), key->size());
  if (!keys)
    error = file.string() + " does not hold a base64 Ed25519 private key";
  return keys;
}

std::string SUEdKey::sign(std::string_view message, const KeyPair& keys) {
  unsigned char secret[crypto_sign_SECRETKEYBYTES];
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  crypto_sign_seed_keypair(publicKey, secret, bytes(keys.seed));
  std::string signature(crypto_sign_BYTES, '\0');
  crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr, bytes(message),
                       message.size(), secret);
  sodium_memzero(secret, sizeof secret);
  return signature;
}
