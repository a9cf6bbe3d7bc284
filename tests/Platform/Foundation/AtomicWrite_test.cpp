#include "Foundation/AtomicWrite.h"
#include "Foundation/XDGBaseDirectories.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string contentsOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class AtomicWriteTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lumivale-atomic-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(AtomicWriteTest, WritesReplacesAndLeavesNoTemporaryFiles) {
  const fs::path file = dir_ / "new folder" / "a b.json";
  writeFileAtomically(file, std::string("one\0two", 7), 0600);
  EXPECT_EQ(contentsOf(file), std::string("one\0two", 7));
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  writeFileAtomically(file, "three");
  EXPECT_EQ(contentsOf(file), "three");
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
  removeFileDurably(file);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_NO_THROW(removeFileDurably(file)); // already gone
}

TEST_F(AtomicWriteTest, AFailedWriteKeepsTheOldFile) {
  const fs::path file = dir_ / "kept";
  writeFileAtomically(file, "old");
  // A folder in the way of the rename: the write fails, names the file, and nothing changes.
  const fs::path blocked = dir_ / "blocked";
  fs::create_directories(blocked / "inside");
  try {
    writeFileAtomically(blocked, "new");
    FAIL() << "replacing a folder succeeded";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find(blocked.string()), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fs::is_directory(blocked / "inside"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  // A parent that is a file cannot hold the new file.
  EXPECT_THROW(writeFileAtomically(file / "child", "x"), std::system_error);
  EXPECT_EQ(contentsOf(file), "old");
}

TEST(XDGBaseDirectoriesTest, AbsoluteVariablesCountAndOthersFallBackToTheHomeFolder) {
  auto saved = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  const auto home = saved("HOME"), data = saved("XDG_DATA_HOME"), dirs = saved("XDG_DATA_DIRS");
  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(XDGBaseDirectories::dataHome(), fs::path("/srv/data"));
  ::setenv("XDG_DATA_HOME", "relative/data", 1); // not absolute: ignored
  EXPECT_EQ(XDGBaseDirectories::dataHome(), fs::path("/home/someone/.local/share"));
  ::setenv("XDG_DATA_DIRS", "/opt/share::relative:/usr/share", 1);
  EXPECT_EQ(XDGBaseDirectories::dataDirs(), (std::vector<fs::path>{"/opt/share", "/usr/share"}));
  ::unsetenv("XDG_DATA_DIRS");
  EXPECT_EQ(XDGBaseDirectories::dataDirs(),
            (std::vector<fs::path>{"/usr/local/share", "/usr/share"}));
  auto restore = [](const char* name, const std::optional<std::string>& value) {
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  };
  restore("HOME", home);
  restore("XDG_DATA_HOME", data);
  restore("XDG_DATA_DIRS", dirs);
}

} // namespace
