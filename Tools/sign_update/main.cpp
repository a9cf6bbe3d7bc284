// sign_update: signs an update archive with a private key file from generate_keys and prints the
// enclosure attributes for the appcast: sparkle:edSignature="..." length="...".
#include "SoftwareUpdate/SUEdKey.h"
#include "SoftwareUpdate/SUSignatureVerifier.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

namespace {

int usage() {
  std::fprintf(stderr, "usage: sign_update [-p] --ed-key-file PRIVATE-KEY-FILE ARCHIVE\n"
                       "Prints sparkle:edSignature=\"...\" length=\"...\" for the archive's\n"
                       "appcast enclosure (with -p, the signature alone).\n");
  return 64;
}

} // namespace

int main(int argc, char** argv) {
  bool signatureOnly = false;
  std::string keyFile, archive;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "-p")
      signatureOnly = true;
    else if ((argument == "--ed-key-file" || argument == "-f") && i + 1 < argc)
      keyFile = argv[++i];
    else if (!argument.empty() && argument[0] != '-' && archive.empty())
      archive = argv[i];
    else
      return usage();
  }
  if (keyFile.empty() || archive.empty())
    return usage();

  std::string error;
  auto keys = SUEdKey::readPrivateKeyFile(keyFile, error);
  if (!keys) {
    std::fprintf(stderr, "sign_update: %s\n", error.c_str());
    return 1;
  }
  std::error_code ec;
  auto size = std::filesystem::file_size(archive, ec);
  if (ec || size > SUSignatureVerifier::kMaximumArchiveSize) {
    std::fprintf(stderr, "sign_update: cannot read %s%s\n", archive.c_str(),
                 ec ? (": " + ec.message()).c_str() : ": larger than updates may be");
    return 1;
  }
  std::ifstream in(archive, std::ios::binary);
  std::string bytes(size, '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(size))) {
    std::fprintf(stderr, "sign_update: cannot read %s\n", archive.c_str());
    return 1;
  }
  std::string signature = SUSignatureVerifier::encodeBase64(SUEdKey::sign(bytes, *keys));
  if (signatureOnly)
    std::printf("%s\n", signature.c_str());
  else
    std::printf("sparkle:edSignature=\"%s\" length=\"%zu\"\n", signature.c_str(), bytes.size());
  return 0;
}
