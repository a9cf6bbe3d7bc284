#include "Foundation/Bundle.h"
#include "SoftwareUpdate/SPUUpdaterConfiguration.h"
#include "SoftwareUpdate/SUAutoupdate.h"
#include "SoftwareUpdateTestSupport.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

SPUUpdaterConfiguration configurationOf(const std::string& entries) {
  sutest::TemporaryFolder folder;
  fs::path bundle = folder.path() / "Lumivale Quick Look.app";
  sutest::writeFile(bundle / "Contents/Info.plist",
                    "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" + entries +
                        "</dict></plist>");
  return SPUUpdaterConfiguration::fromBundle(Bundle(bundle));
}

TEST(SPUUpdaterConfiguration, ReadsTheUpdateSettingsOfTheBundle) {
  auto config =
      configurationOf("<key>SUFeedURL</key><string>https://example.org/appcast.xml</string>"
                      "<key>SUPublicEDKey</key><string>AAAA</string>"
                      "<key>SUScheduledCheckInterval</key><integer>7200</integer>"
                      "<key>CFBundleVersion</key><string>12</string>"
                      "<key>CFBundleIdentifier</key><string>com.lumivale.quicklook</string>"
                      "<key>CFBundleName</key><string>Lumivale Quick Look</string>"
                      "<key>CFBundleExecutable</key><string>Lumivale Quick Look</string>");
  EXPECT_EQ(config.feedURL, "https://example.org/appcast.xml");
  EXPECT_EQ(config.publicEDKey, "AAAA");
  EXPECT_EQ(config.scheduledCheckInterval, 7200);
  EXPECT_EQ(config.bundleVersion, "12");
  EXPECT_EQ(config.bundleIdentifier, "com.lumivale.quicklook");
  EXPECT_EQ(config.relaunchExecutable, fs::path("Contents/MacOS/Lumivale Quick Look"));
  EXPECT_EQ(config.installerToolPath.filename(), "Autoupdate");
  EXPECT_EQ(config.installerToolPath.parent_path().filename(), "MacOS");
}

TEST(SPUUpdaterConfiguration, IntervalAsRealOrTextAndDefaults) {
  EXPECT_EQ(configurationOf("<key>SUScheduledCheckInterval</key><real>5400.5</real>")
                .scheduledCheckInterval,
            5400.5);
  EXPECT_EQ(configurationOf("<key>SUScheduledCheckInterval</key><string>3600</string>")
                .scheduledCheckInterval,
            3600);
  for (std::string odd : {"<key>SUScheduledCheckInterval</key><string>soon</string>",
                          "<key>SUScheduledCheckInterval</key><integer>-5</integer>", ""})
    EXPECT_EQ(configurationOf(odd).scheduledCheckInterval, 86400) << odd;
  auto empty = configurationOf("");
  EXPECT_EQ(empty.feedURL, "");
  EXPECT_EQ(empty.publicEDKey, "");
  // An executable name with a slash could point outside the bundle: not taken.
  auto sneaky = configurationOf("<key>CFBundleExecutable</key><string>../../bin/sh</string>");
  EXPECT_NE(sneaky.relaunchExecutable, fs::path("Contents/MacOS/../../bin/sh"));
}

int runHelper(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "Autoupdate");
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  return SUAutoupdateMain(static_cast<int>(arguments.size()), argv.data());
}

TEST(SUAutoupdate, RefusesIncompleteOrUnsafeArguments) {
  EXPECT_EQ(runHelper({}), 64);
  EXPECT_EQ(runHelper({"--pid", "1", "--installed", "/a/App.app"}), 64);
  EXPECT_EQ(runHelper({"--bogus", "x"}), 64);
  // The old bundle must be inside the staging folder that the helper removes.
  EXPECT_EQ(runHelper({"--pid", "1", "--installed", "/a/App.app", "--old", "/elsewhere/App.app",
                       "--staging", "/a/.App.app.update-x", "--executable", "Contents/MacOS/App"}),
            64);
  EXPECT_EQ(
      runHelper({"--pid", "1", "--installed", "/a/App.app", "--old", "/a/.App.app.update-x/App.app",
                 "--staging", "/a/.App.app.update-x", "--executable", "/bin/sh"}),
      64);
}

} // namespace
