// generate_keys: creates a new update signing key pair, saving the private key in a file only its
// owner can read and printing the public key for the application's SUPublicEDKey; or, with -p,
// prints the public key of an existing private key file.
#include "SoftwareUpdate/SUEdKey.h"
#include "SoftwareUpdate/SUSignatureVerifier.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

int usage() {
  std::fprintf(stderr, "usage: generate_keys PRIVATE-KEY-FILE\n"
                       "       generate_keys -p PRIVATE-KEY-FILE\n"
                       "Creates a new Ed25519 key pair for signing updates and saves the private\n"
                       "key (mode 0600; an existing file is never replaced), or with -p prints\n"
                       "the public key of an existing private key file.\n");
  return 64;
}

void printPublicKey(const SUEdKey::KeyPair& keys) {
  std::string publicKey = SUSignatureVerifier::encodeBase64(keys.publicKey);
  std::printf("Add this public key to the application's Info.plist:\n\n"
              "    <key>SUPublicEDKey</key>\n    <string>%s</string>\n",
              publicKey.c_str());
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "-p") {
    std::string error;
    auto keys = SUEdKey::readPrivateKeyFile(argv[2], error);
    if (!keys) {
      std::fprintf(stderr, "generate_keys: %s\n", error.c_str());
      return 1;
    }
    printPublicKey(*keys);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '-')
    return usage();
  SUEdKey::KeyPair keys = SUEdKey::generate();
  if (auto error = SUEdKey::writePrivateKeyFile(argv[1], keys)) {
    std::fprintf(stderr, "generate_keys: %s\n", error->c_str());
    return 1;
  }
  std::printf("A new signing key was saved in %s. Keep it secret and back it up: updates\n"
              "signed with any other key will be refused.\n\n",
              argv[1]);
  printPublicKey(keys);
  return 0;
}
