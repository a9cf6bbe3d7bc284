#include "SoftwareUpdate/SUEdKey.h"
#include "SoftwareUpdate/SUSignatureVerifier.h"
#include "SoftwareUpdateTestSupport.h"

#include <gtest/gtest.h>

namespace {

using SUSignatureVerifier::encodeBase64;
using SUSignatureVerifier::verifyArchive;

class SUSignatureVerifierTest : public ::testing::Test {
protected:
  sutest::TemporaryFolder folder;
  SUEdKey::KeyPair keys = SUEdKey::generate();
  std::string bytes = sutest::makeTarGz(sutest::bundleEntries("A.app", "2", "#!/bin/sh\n"));
  std::filesystem::path archive = folder.path() / "update.tar.gz";

  void SetUp() override { sutest::writeFile(archive, bytes); }
  std::string publicKey() const { return encodeBase64(keys.publicKey); }
  std::string signature() const { return encodeBase64(SUEdKey::sign(bytes, keys)); }
};

TEST_F(SUSignatureVerifierTest, AcceptsTheSignedArchiveOfTheAnnouncedLength) {
  EXPECT_EQ(verifyArchive(archive, bytes.size(), signature(), publicKey()), std::nullopt);
}

TEST_F(SUSignatureVerifierTest, RefusesUnsignedWrongLengthAndTamperedArchives) {
  auto unsigned_ = verifyArchive(archive, bytes.size(), "", publicKey());
  ASSERT_TRUE(unsigned_);
  EXPECT_NE(unsigned_->find("not signed"), std::string::npos);

  auto shorter = verifyArchive(archive, bytes.size() - 1, signature(), publicKey());
  ASSERT_TRUE(shorter);
  EXPECT_NE(shorter->find("bytes"), std::string::npos);

  std::string tampered = bytes;
  tampered[tampered.size() / 2] ^= 1;
  sutest::writeFile(archive, tampered);
  auto changed = verifyArchive(archive, bytes.size(), signature(), publicKey());
  ASSERT_TRUE(changed);
  EXPECT_NE(changed->find("signature does not match"), std::string::npos);
}

TEST_F(SUSignatureVerifierTest, RefusesASignatureByAnotherKey) {
  SUEdKey::KeyPair other = SUEdKey::generate();
  std::string foreign = encodeBase64(SUEdKey::sign(bytes, other));
  EXPECT_TRUE(verifyArchive(archive, bytes.size(), foreign, publicKey()));
  // Nor is a signature of the pre-hashed variant or of a prefix accepted.
  std::string prefix = encodeBase64(SUEdKey::sign(bytes.substr(0, 100), keys));
  EXPECT_TRUE(verifyArchive(archive, bytes.size(), prefix, publicKey()));
}

TEST_F(SUSignatureVerifierTest, RefusesMalformedKeysAndSignatures) {
  EXPECT_TRUE(verifyArchive(archive, bytes.size(), signature(), ""));
  EXPECT_TRUE(verifyArchive(archive, bytes.size(), signature(), "not base64!"));
  EXPECT_TRUE(verifyArchive(archive, bytes.size(), signature(), encodeBase64("short")));
  EXPECT_TRUE(verifyArchive(archive, bytes.size(), "!!!", publicKey()));
  EXPECT_TRUE(verifyArchive(archive, bytes.size(), encodeBase64("short"), publicKey()));
  EXPECT_TRUE(verifyArchive(folder.path() / "missing", bytes.size(), signature(), publicKey()));
}

TEST(SUEdKeyTest, PrivateKeyFileIsOwnerOnlyNeverReplacedAndReadsBack) {
  sutest::TemporaryFolder folder;
  auto file = folder.path() / "key";
  SUEdKey::KeyPair keys = SUEdKey::generate();
  ASSERT_EQ(SUEdKey::writePrivateKeyFile(file, keys), std::nullopt);
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_TRUE(SUEdKey::writePrivateKeyFile(file, SUEdKey::generate()));
  std::string error;
  auto read = SUEdKey::readPrivateKeyFile(file, error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->publicKey, keys.publicKey);
  sutest::writeFile(file, "garbage");
  EXPECT_FALSE(SUEdKey::readPrivateKeyFile(file, error));
  EXPECT_NE(error, "");
}

} // namespace
