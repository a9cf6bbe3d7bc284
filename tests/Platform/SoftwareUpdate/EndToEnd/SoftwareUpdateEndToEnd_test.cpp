// The whole update offline: a loopback HTTP server publishes the feed and the archive; the
// updater downloads, verifies, unpacks and swaps the bundle, and the real Autoupdate helper
// relaunches it once the stand-in application process has quit.
#include "../UpdaterFixture.h"

namespace {

namespace fs = std::filesystem;

class SoftwareUpdateEndToEnd : public sutest::UpdaterFixture {
protected:
  sutest::LoopbackServer server;

  void publish(const std::string& archive, std::uint64_t length, const std::string& signature,
               const std::string& version = "2") {
    server.bodies["/update.tar.gz"] = archive;
    server.bodies["/appcast.xml"] =
        feedWith(version, server.url("/update.tar.gz"), length, signature);
  }

  void checkAndInstall() {
    makeUpdater(server.url("/appcast.xml"));
    updater->checkForUpdates();
    ASSERT_TRUE(waitForSession());
  }

  // Waits for the helper to finish: the marker written whole (the relaunched application
  // creates it, then writes its line) and the staging folder removed.
  bool waitForRelaunch() {
    return sutest::runUntil(
        [&] {
          std::size_t beside = 0;
          for (auto& entry : fs::directory_iterator(installFolder.path()))
            (void)entry, ++beside;
          return fs::exists(marker) && sutest::readFile(marker).ends_with('\n') && beside == 1;
        },
        std::chrono::seconds(30));
  }
};

TEST_F(SoftwareUpdateEndToEnd, AnOldBundleIsUpdatedInPlaceAndRelaunched) {
  std::string archive = archiveOf("2");
  publish(archive, archive.size(), signatureOf(archive));
  checkAndInstall();
  EXPECT_EQ(driver.error, "");
  EXPECT_EQ(driver.events, (std::vector<std::string>{"checking", "found (asked)", "downloading",
                                                     "extracting", "relaunching"}));
  EXPECT_TRUE(quitRequested);
  ASSERT_TRUE(waitForRelaunch());
  EXPECT_EQ(sutest::readFile(marker), "2\n") << "the new version was started";
  EXPECT_EQ(sutest::readFile(bundle / "Contents/Resources/version.txt"), "2\n");
  EXPECT_NE(sutest::readFile(bundle / "Contents/Info.plist").find("<string>2</string>"),
            std::string::npos);
  expectOnlyTheBundleBeside();
  EXPECT_GE(server.requests, 2);
}

TEST_F(SoftwareUpdateEndToEnd, ANewVersionThatDoesNotStartIsRolledBack) {
  std::string archive = archiveOf("2", "#!/bin/sh\nexit 3\n");
  publish(archive, archive.size(), signatureOf(archive));
  checkAndInstall();
  EXPECT_TRUE(quitRequested);
  ASSERT_TRUE(waitForRelaunch());
  EXPECT_EQ(sutest::readFile(marker), "1\n") << "the previous version was started again";
  EXPECT_EQ(sutest::snapshot(bundle), installed);
  expectOnlyTheBundleBeside();
}

TEST_F(SoftwareUpdateEndToEnd, ATamperedArchiveIsRefused) {
  std::string archive = archiveOf("2");
  std::string signature = signatureOf(archive);
  archive[archive.size() / 2] ^= 0x20;
  publish(archive, archive.size(), signature);
  checkAndInstall();
  EXPECT_EQ(driver.events.back(), "error");
  EXPECT_NE(driver.error.find("signature does not match"), std::string::npos) << driver.error;
  expectUntouched();
}

TEST_F(SoftwareUpdateEndToEnd, AWrongLengthIsRefused) {
  std::string archive = archiveOf("2");
  for (std::uint64_t length : {archive.size() - 10, archive.size() + 10}) {
    driver.events.clear();
    publish(archive, length, signatureOf(archive));
    checkAndInstall();
    EXPECT_EQ(driver.events.back(), "error");
    EXPECT_NE(driver.error.find("bytes"), std::string::npos) << driver.error;
    expectUntouched();
  }
}

TEST_F(SoftwareUpdateEndToEnd, AnUnsignedItemIsRefusedWithoutDownloading) {
  std::string archive = archiveOf("2");
  publish(archive, archive.size(), "");
  checkAndInstall();
  EXPECT_EQ(driver.events, (std::vector<std::string>{"checking", "found (asked)", "error"}));
  EXPECT_NE(driver.error.find("not signed"), std::string::npos) << driver.error;
  EXPECT_EQ(server.requests, 1) << "only the feed was fetched";
  expectUntouched();
}

TEST_F(SoftwareUpdateEndToEnd, SignedArchivesThatAreNotAProperUpdateAreRefused) {
  struct Case {
    const char* what;
    std::vector<sutest::Entry> entries;
    const char* message;
  };
  auto escaping = sutest::bundleEntries("Lumivale Quick Look.app", "2", kNewScript);
  escaping.push_back({"Lumivale Quick Look.app/../../evil", AE_IFREG, "x"});
  auto otherApp =
      sutest::bundleEntries("Lumivale Quick Look.app", "2", kNewScript, "com.example.other");
  auto older = sutest::bundleEntries("Lumivale Quick Look.app", "0.9", kNewScript);
  std::vector<Case> cases = {
      {"an entry escaping", escaping, "outside its folder"},
      {"another application", otherApp, "different application"},
      {"an older version inside", older, "not newer"},
      {"no bundle", {{"readme.txt", AE_IFREG, "hi"}}, "no application bundle"},
  };
  for (const Case& c : cases) {
    driver.events.clear();
    std::string archive = sutest::makeTarGz(c.entries);
    publish(archive, archive.size(), signatureOf(archive));
    checkAndInstall();
    EXPECT_EQ(driver.events.back(), "error") << c.what;
    EXPECT_NE(driver.error.find(c.message), std::string::npos) << c.what << ": " << driver.error;
    expectUntouched();
  }
}

TEST_F(SoftwareUpdateEndToEnd, AMissingArchiveAndAnOversizedOneAreRefused) {
  server.bodies["/appcast.xml"] = feedWith("2", server.url("/nothing-here.tar.gz"), 100, "c2ln");
  checkAndInstall();
  EXPECT_NE(driver.error.find("could not be downloaded"), std::string::npos) << driver.error;
  expectUntouched();

  // The server sends far more than announced: the download stops, nothing is unpacked.
  std::string archive = archiveOf("2");
  server.bodies["/update.tar.gz"] = archive + std::string(1 << 20, 'x');
  server.bodies["/appcast.xml"] =
      feedWith("2", server.url("/update.tar.gz"), archive.size(), signatureOf(archive));
  checkAndInstall();
  EXPECT_NE(driver.error.find("larger than"), std::string::npos) << driver.error;
  expectUntouched();
}

} // namespace

namespace {

// Runs a command line and returns its standard output (and its exit status in `status`).
std::string run(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe)
    return output;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
    output.append(buffer, n);
  status = pclose(pipe);
  return output;
}

std::string between(const std::string& text, const std::string& before, const std::string& after) {
  auto start = text.find(before);
  if (start == std::string::npos)
    return {};
  start += before.size();
  return text.substr(start, text.find(after, start) - start);
}

// A release made with the release tools: generate_keys makes the key pair, sign_update the
// enclosure attributes; the updater accepts the result with the printed public key.
TEST_F(SoftwareUpdateEndToEnd, ReleaseToolsMakeAnUpdateTheUpdaterAccepts) {
  fs::path keyFile = publishFolder.path() / "release-key";
  int status = -1;
  std::string generated =
      run(std::string("'") + LUMIVALE_GENERATE_KEYS + "' '" + keyFile.string() + "'", status);
  ASSERT_EQ(status, 0) << generated;
  struct stat info {};
  ASSERT_EQ(stat(keyFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::string publicKey = between(generated, "<string>", "</string>");
  ASSERT_EQ(publicKey.size(), 44u) << generated;

  // A second run never replaces the key.
  std::string again =
      run(std::string("'") + LUMIVALE_GENERATE_KEYS + "' '" + keyFile.string() + "' 2>&1", status);
  EXPECT_NE(status, 0);

  std::string archive = archiveOf("2");
  fs::path archivePath = publishFolder.path() / "release.tar.gz";
  sutest::writeFile(archivePath, archive);
  std::string signed_ = run(std::string("'") + LUMIVALE_SIGN_UPDATE + "' --ed-key-file '" +
                                keyFile.string() + "' '" + archivePath.string() + "'",
                            status);
  ASSERT_EQ(status, 0) << signed_;
  std::string signature = between(signed_, "sparkle:edSignature=\"", "\"");
  EXPECT_EQ(between(signed_, "length=\"", "\""), std::to_string(archive.size()));

  publish(archive, archive.size(), signature);
  SPUUpdaterConfiguration config = configuration(server.url("/appcast.xml"));
  config.publicEDKey = publicKey;
  updater = std::make_unique<SPUUpdater>(config, driver, *defaults);
  updater->checkForUpdates();
  ASSERT_TRUE(waitForSession());
  EXPECT_EQ(driver.error, "");
  EXPECT_TRUE(quitRequested);
  ASSERT_TRUE(waitForRelaunch());
  EXPECT_EQ(sutest::readFile(bundle / "Contents/Resources/version.txt"), "2\n");
}

} // namespace
