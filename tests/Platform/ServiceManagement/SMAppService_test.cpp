#include "ServiceManagement/DesktopEntry.h"
#include "ServiceManagement/SMAppService.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class SMAppServiceTest : public ::testing::Test {
protected:
  SMAppServiceTest() {
    root = fs::temp_directory_path() / ("lumivale-sm-" + std::to_string(::getpid()));
    fs::create_directories(root / "My App's \"100%\" $HOME");
    executable = root / "My App's \"100%\" $HOME" / "run me";
    fs::copy_file("/bin/true", executable, fs::copy_options::overwrite_existing);
    entry = root / "config" / "autostart" / "com.example.app.desktop";
  }
  ~SMAppServiceTest() override { fs::remove_all(root); }
  std::string entryText() {
    std::ifstream in(entry);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void append(const std::string& line) { std::ofstream(entry, std::ios::app) << line << "\n"; }

  fs::path root, executable, entry;
};

} // namespace

TEST_F(SMAppServiceTest, FourStatuses) {
  SMAppService service(entry, executable, "Example");
  EXPECT_EQ(service.status(), SMAppServiceStatus::notRegistered);
  NSError error;
  ASSERT_TRUE(service.registerAndReturnError(&error)) << error.localizedDescription;
  EXPECT_EQ(service.status(), SMAppServiceStatus::enabled);
  append("X-GNOME-Autostart-enabled=false");
  EXPECT_EQ(service.status(), SMAppServiceStatus::requiresApproval);
  EXPECT_FALSE(service.registerAndReturnError(&error)) << "the user's choice is not overridden";
  EXPECT_NE(error.localizedDescription.find("turned off"), std::string::npos);
  EXPECT_NE(entryText().find("X-GNOME-Autostart-enabled=false"), std::string::npos);
  ASSERT_TRUE(service.unregisterAndReturnError(&error));
  EXPECT_EQ(service.status(), SMAppServiceStatus::notRegistered);

  ASSERT_TRUE(service.registerAndReturnError(&error));
  append("Hidden=true");
  EXPECT_EQ(service.status(), SMAppServiceStatus::requiresApproval);
  fs::remove(entry);

  ASSERT_TRUE(service.registerAndReturnError(&error));
  fs::remove(executable);
  EXPECT_EQ(service.status(), SMAppServiceStatus::notFound);
}

TEST_F(SMAppServiceTest, ExecLineStartsTheExecutableWithTheLoginMarker) {
  SMAppService service(entry, executable, "Example");
  NSError error;
  ASSERT_TRUE(service.registerAndReturnError(&error));
  const auto keys = DesktopEntry::readMainGroup(entryText());
  ASSERT_TRUE(keys.count("Exec"));
  const auto args = DesktopEntry::splitExec(keys.at("Exec"));
  ASSERT_TRUE(args);
  EXPECT_EQ(*args, (std::vector<std::string>{executable.string(), "--launched-as-login-item"}));
  EXPECT_EQ(keys.at("Type"), "Application");
  EXPECT_EQ(keys.at("Name"), "Example");
}

TEST_F(SMAppServiceTest, UnwritableEntryIsAClearError) {
  fs::create_directories(entry.parent_path().parent_path());
  std::ofstream(entry.parent_path()) << "a file where the folder should be";
  SMAppService service(entry, executable, "Example");
  NSError error;
  EXPECT_FALSE(service.registerAndReturnError(&error));
  EXPECT_NE(error.localizedDescription.find("could not be written"), std::string::npos);
}

TEST(DesktopEntryTest, ExecQuotingRoundTrips) {
  for (std::string argument : {"/plain/path", "/with space/app", "/q\"uo`te$/back\\slash",
                               "/per%cent", "/tab\there", ""}) {
    const std::string line = "Exec=" + DesktopEntry::quoteExecArgument(argument) + " %U --x";
    const auto keys = DesktopEntry::readMainGroup("[Desktop Entry]\n" + line + "\n");
    const auto args = DesktopEntry::splitExec(keys.at("Exec"));
    ASSERT_TRUE(args) << line;
    EXPECT_EQ(*args, (std::vector<std::string>{argument, "--x"})) << line;
  }
  EXPECT_FALSE(DesktopEntry::splitExec("\"unclosed"));
}

TEST(DesktopEntryTest, OnlyTheMainGroupCounts) {
  const auto keys = DesktopEntry::readMainGroup(
      "# comment\n[Desktop Action x]\nExec=other\n[Desktop Entry]\n Name = A\\sB \nExec=e\n"
      "Exec=second\n");
  EXPECT_EQ(keys.at("Exec"), "second");
  EXPECT_EQ(keys.at("Name"), "A B");
}
