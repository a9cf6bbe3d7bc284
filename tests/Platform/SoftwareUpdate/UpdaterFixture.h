// UpdaterFixture: an installed test bundle (version 1) beside nothing else, a signing key, a
// published feed and archive, a scripted user driver and a stand-in process for the running
// application, for tests that drive SPUUpdater from check to installation.
#pragma once

#include "Foundation/NSUserDefaults.h"
#include "SoftwareUpdate/SPUUpdater.h"
#include "SoftwareUpdate/SUEdKey.h"
#include "SoftwareUpdate/SUSignatureVerifier.h"
#include "SoftwareUpdateTestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

namespace sutest {

class UpdaterFixture : public ::testing::Test {
protected:
  static constexpr const char* kOldScript = "#!/bin/sh\necho 1 >> \"$LUMIVALE_SU_MARKER\"\n";
  static constexpr const char* kNewScript = "#!/bin/sh\necho 2 >> \"$LUMIVALE_SU_MARKER\"\n";

  TemporaryFolder installFolder; // holds only the installed bundle
  TemporaryFolder publishFolder; // the feed and archives for file URLs, the marker, defaults
  fs::path bundle = installFolder.path() / "Lumivale Quick Look.app";
  fs::path marker = publishFolder.path() / "relaunched.txt";
  SUEdKey::KeyPair keys = SUEdKey::generate();
  ScriptedUserDriver driver;
  std::unique_ptr<NSUserDefaults> defaults;
  std::unique_ptr<SPUUpdater> updater;
  std::map<std::string, std::string> installed;
  pid_t application = 0;
  bool quitRequested = false;

  void SetUp() override {
    sutest::application();
    writeBundle(bundle, "1", kOldScript);
    installed = snapshot(bundle);
    setenv("LUMIVALE_SU_MARKER", marker.c_str(), 1);
    defaults = std::make_unique<NSUserDefaults>(publishFolder.path() / "defaults.plist");
    char sleepPath[] = "/bin/sleep", seconds[] = "120";
    char* argv[] = {sleepPath, seconds, nullptr};
    ASSERT_EQ(posix_spawn(&application, "/bin/sleep", nullptr, nullptr, argv, environ), 0);
  }

  void TearDown() override {
    updater.reset();
    stopApplication();
  }

  void stopApplication() {
    if (application > 0) {
      kill(application, SIGKILL);
      waitpid(application, nullptr, 0);
      application = 0;
    }
  }

  SPUUpdaterConfiguration configuration(const std::string& feedURL) {
    SPUUpdaterConfiguration config;
    config.feedURL = feedURL;
    config.publicEDKey = SUSignatureVerifier::encodeBase64(keys.publicKey);
    config.bundleVersion = "1";
    config.bundleIdentifier = "com.lumivale.quicklook";
    config.bundlePath = bundle;
    config.relaunchExecutable = "Contents/MacOS/App";
#ifdef LUMIVALE_AUTOUPDATE
    config.installerToolPath = LUMIVALE_AUTOUPDATE;
#endif
    config.processToQuit = application;
    config.quitApplication = [this] {
      quitRequested = true;
      stopApplication();
    };
    return config;
  }

  void makeUpdater(const std::string& feedURL) {
    updater = std::make_unique<SPUUpdater>(configuration(feedURL), driver, *defaults);
  }

  std::string archiveOf(const std::string& version, const std::string& script = kNewScript) {
    return makeTarGz(bundleEntries("Lumivale Quick Look.app", version, script));
  }

  std::string signatureOf(const std::string& bytes) {
    return SUSignatureVerifier::encodeBase64(SUEdKey::sign(bytes, keys));
  }

  static std::string feedWith(const std::string& version, const std::string& url,
                              std::uint64_t length, const std::string& signature,
                              const std::string& os = "linux") {
    std::string signatureAttribute =
        signature.empty() ? "" : " sparkle:edSignature=\"" + signature + "\"";
    return "<?xml version=\"1.0\"?>\n<rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
           "<item><title>Version " +
           version + "</title><sparkle:version>" + version +
           "</sparkle:version><sparkle:shortVersionString>1." + version +
           "</sparkle:shortVersionString><description>Better previews.</description>"
           "<enclosure url=\"" +
           url + "\" length=\"" + std::to_string(length) + "\" sparkle:os=\"" + os + "\"" +
           signatureAttribute + " type=\"application/octet-stream\"/></item></channel></rss>";
  }

  // Runs the event loop until the current session has ended.
  bool waitForSession() {
    return runUntil([&] { return !updater->sessionInProgress(); });
  }

  // Nothing but the installed bundle may remain beside it (no staging folder).
  void expectOnlyTheBundleBeside() {
    std::vector<fs::path> entries;
    for (auto& entry : fs::directory_iterator(installFolder.path()))
      entries.push_back(entry.path());
    EXPECT_EQ(entries, std::vector<fs::path>{bundle});
  }

  void expectUntouched() {
    EXPECT_EQ(snapshot(bundle), installed);
    expectOnlyTheBundleBeside();
    EXPECT_FALSE(quitRequested);
  }
};

} // namespace sutest
