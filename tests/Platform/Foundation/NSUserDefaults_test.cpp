#include "Foundation/NSUserDefaults.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

class NSUserDefaultsTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("lumivale-defaults-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    plist_ = dir_ / "lumivale" / "com.example.test.plist";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string contents() const {
    std::ifstream in(plist_, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  void write(const std::string& bytes) {
    fs::create_directories(plist_.parent_path());
    std::ofstream(plist_, std::ios::binary) << bytes;
  }
  std::vector<fs::path> filesBeside() const {
    std::vector<fs::path> files;
    for (auto& entry : fs::directory_iterator(plist_.parent_path()))
      files.push_back(entry.path());
    return files;
  }

  fs::path dir_, plist_;
};

TEST_F(NSUserDefaultsTest, ValuesRoundTripThroughTheFile) {
  {
    NSUserDefaults defaults(plist_);
    EXPECT_FALSE(defaults.boolForKey("flag"));
    EXPECT_EQ(defaults.stringForKey("name"), std::nullopt);
    EXPECT_EQ(defaults.doubleForKey("time"), std::nullopt);
    defaults.setBool(true, "flag");
    defaults.setString("1.0b<2> & \"x\"", "name");
    defaults.setDouble(1765238400.25, "time");
    defaults.setString("gone", "removed");
    defaults.removeObjectForKey("removed");
  }
  EXPECT_NE(contents().find("<plist"), std::string::npos) << "an XML property list";
  NSUserDefaults reread(plist_);
  EXPECT_TRUE(reread.boolForKey("flag"));
  EXPECT_EQ(reread.stringForKey("name"), "1.0b<2> & \"x\"");
  EXPECT_EQ(reread.doubleForKey("time"), 1765238400.25);
  EXPECT_EQ(reread.stringForKey("removed"), std::nullopt);
  // A value of another type is not reported as the asked one.
  EXPECT_EQ(reread.stringForKey("flag"), std::nullopt);
  EXPECT_EQ(reread.doubleForKey("name"), std::nullopt);
}

TEST_F(NSUserDefaultsTest, WritesReplaceTheFileAtomicallyAndLeaveNoTemporaries) {
  NSUserDefaults defaults(plist_);
  defaults.setBool(true, "a");
  struct stat before {};
  ASSERT_EQ(stat(plist_.c_str(), &before), 0);
  defaults.setBool(false, "a");
  struct stat after {};
  ASSERT_EQ(stat(plist_.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "a new file renamed into place";
  EXPECT_EQ(after.st_mode & 0777, 0600u);
  EXPECT_EQ(filesBeside(), std::vector<fs::path>{plist_});
}

TEST_F(NSUserDefaultsTest, ValuesOfOtherTypesWrittenByOthersSurvive) {
  write("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
        "<key>data</key><data>AAEC</data><key>list</key><array><integer>3</integer></array>"
        "<key>n</key><integer>42</integer></dict></plist>");
  NSUserDefaults defaults(plist_);
  EXPECT_EQ(defaults.doubleForKey("n"), 42.0);
  defaults.setBool(true, "new");
  std::string text = contents();
  EXPECT_NE(text.find("<data>"), std::string::npos);
  EXPECT_NE(text.find("<integer>3</integer>"), std::string::npos);
}

TEST_F(NSUserDefaultsTest, ADamagedFileIsKeptAsideAndNeverOverwritten) {
  for (std::string damaged : {std::string("<plist><dict><key>x</key>"), std::string("\x01\x02"),
                              std::string("<?xml version=\"1.0\"?><plist><array/></plist>")}) {
    fs::remove_all(dir_);
    write(damaged);
    NSUserDefaults defaults(plist_);
    EXPECT_FALSE(defaults.boolForKey("x"));
    defaults.setBool(true, "fresh");
    auto files = filesBeside();
    ASSERT_EQ(files.size(), 2u);
    fs::path aside = files[0] == plist_ ? files[1] : files[0];
    EXPECT_NE(aside.filename().string().find(".damaged-"), std::string::npos);
    std::ifstream in(aside, std::ios::binary);
    std::ostringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), damaged);
    EXPECT_TRUE(NSUserDefaults(plist_).boolForKey("fresh"));
  }
}

TEST_F(NSUserDefaultsTest, ConcurrentWritersLoseNothing) {
  NSUserDefaults defaults(plist_);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        defaults.setDouble(i, "k" + std::to_string(t) + "-" + std::to_string(i));
        (void)defaults.doubleForKey("k0-0");
      }
    });
  for (auto& thread : threads)
    thread.join();
  NSUserDefaults reread(plist_);
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(reread.doubleForKey("k" + std::to_string(t) + "-" + std::to_string(i)), i);
}

TEST_F(NSUserDefaultsTest, StandardDefaultsLiveUnderTheConfigurationFolder) {
  // The first use fixes the path; XDG_CONFIG_HOME is set before it.
  setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  NSUserDefaults& standard = NSUserDefaults::standardUserDefaults();
  EXPECT_EQ(standard.path().parent_path(), dir_ / "lumivale");
  EXPECT_EQ(standard.path().extension(), ".plist");
  EXPECT_EQ(&standard, &NSUserDefaults::standardUserDefaults());
}

} // namespace
