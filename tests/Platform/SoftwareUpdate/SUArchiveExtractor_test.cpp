#include "SoftwareUpdate/SUArchiveExtractor.h"
#include "SoftwareUpdateTestSupport.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using sutest::Entry;

class SUArchiveExtractorTest : public ::testing::Test {
protected:
  sutest::TemporaryFolder folder;
  fs::path destination = folder.path() / "stage" / "unpacked";
  fs::path outside = folder.path() / "stage";

  void SetUp() override { fs::create_directories(destination); }

  std::optional<std::string> extract(const std::vector<Entry>& entries) {
    fs::path archive = folder.path() / "a.tar.gz";
    sutest::writeFile(archive, sutest::makeTarGz(entries));
    return SUArchiveExtractor::extract(archive, destination);
  }

  // Nothing may have appeared beside the destination.
  void expectNothingOutside() {
    for (auto& entry : fs::directory_iterator(outside))
      EXPECT_EQ(entry.path(), destination) << "escaped: " << entry.path();
    EXPECT_FALSE(fs::exists(fs::symlink_status("/tmp/lumivale-su-escaped")));
  }
};

TEST_F(SUArchiveExtractorTest, UnpacksABundleWithItsModesAndInnerLinks) {
  auto entries = sutest::bundleEntries("A.app", "2", "#!/bin/sh\necho hi\n");
  entries.push_back({"A.app/Contents/Resources/current", AE_IFLNK, "", "version.txt"});
  entries.push_back({"A.app/Contents/Resources/up", AE_IFLNK, "", "../Info.plist"});
  entries.push_back({"A.app/Contents/setid", AE_IFREG, "x", "", 06755});
  ASSERT_EQ(extract(entries), std::nullopt);
  fs::path app = destination / "A.app";
  EXPECT_EQ(sutest::readFile(app / "Contents/Resources/version.txt"), "2\n");
  EXPECT_EQ(fs::read_symlink(app / "Contents/Resources/current"), "version.txt");
  EXPECT_EQ(sutest::readFile(app / "Contents/Resources/up"), sutest::infoPlist("2"));
  EXPECT_EQ(access((app / "Contents/MacOS/App").c_str(), X_OK), 0);
  struct stat info {};
  ASSERT_EQ(stat((app / "Contents/setid").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07000, 0u);
  expectNothingOutside();
}

TEST_F(SUArchiveExtractorTest, RefusesEntriesThatLeaveTheFolder) {
  struct Case {
    const char* what;
    std::vector<Entry> entries;
  };
  std::vector<Case> cases = {
      {"dot-dot", {{"../escaped", AE_IFREG, "x"}}},
      {"inner dot-dot", {{"A.app/../../escaped", AE_IFREG, "x"}}},
      {"harmless-looking dot-dot", {{"A.app/x/../y", AE_IFREG, "x"}}},
      {"absolute path", {{"/tmp/lumivale-su-escaped", AE_IFREG, "x"}}},
      {"absolute link", {{"A.app", AE_IFDIR}, {"A.app/l", AE_IFLNK, "", "/etc/passwd"}}},
      {"link out", {{"A.app", AE_IFDIR}, {"A.app/l", AE_IFLNK, "", "../../escaped"}}},
      {"link to the parent", {{"l", AE_IFLNK, "", ".."}}},
      {"write through a link",
       {{"A.app", AE_IFDIR}, {"A.app/d", AE_IFLNK, "", "."}, {"A.app/d/f", AE_IFREG, "x"}}},
      {"character device", {{"A.app", AE_IFDIR}, {"A.app/null", AE_IFCHR}}},
      {"block device", {{"A.app", AE_IFDIR}, {"A.app/disk", AE_IFBLK}}},
      {"fifo", {{"A.app", AE_IFDIR}, {"A.app/pipe", AE_IFIFO}}},
      {"hard link", {{"A.app", AE_IFDIR}, {"A.app/h", AE_IFREG, "", "/etc/passwd"}}},
  };
  for (const Case& c : cases) {
    fs::remove_all(destination);
    fs::create_directories(destination);
    auto error = extract(c.entries);
    EXPECT_TRUE(error) << c.what;
    expectNothingOutside();
  }
}

TEST_F(SUArchiveExtractorTest, RefusesDamagedAndEmptyArchives) {
  fs::path archive = folder.path() / "bad.tar.gz";
  std::string good = sutest::makeTarGz(sutest::bundleEntries("A.app", "2", "x"));
  sutest::writeFile(archive, good.substr(0, good.size() / 2));
  EXPECT_TRUE(SUArchiveExtractor::extract(archive, destination));
  sutest::writeFile(archive, "not an archive at all");
  EXPECT_TRUE(SUArchiveExtractor::extract(archive, destination));
  EXPECT_TRUE(extract({}));
  EXPECT_TRUE(SUArchiveExtractor::extract(folder.path() / "missing", destination));
}

} // namespace
