#include "LaunchServices/BundleScan.h"
#include "LaunchServices/Registration.h"
#include "PlugInKit/PlugInListing.h"
#include "RegistryFixture.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const std::vector<RegistryFixture::ExtensionLayout> kExtensions = {
    {"MarkdownLens",
     "com.example.viewer.markdown",
     {"net.daringfireball.markdown", "com.example.mermaid"}},
    {"NotebookLens", "com.example.viewer.notebook", {"org.jupyter.ipynb"}}};

class RegistrationTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The system's MIME database knows Markdown but not the Mermaid type.
    RegistryFixture::write(fixture_.root() / "system" / "mime" / "types",
                           "text/markdown\napplication/x-ipynb+json\n");
    RegistryFixture::write(fixture_.root() / "system" / "mime" / "aliases",
                           "text/x-markdown text/markdown\n");
  }
  Registration registration() {
    return Registration(fixture_.location(), DesktopLocation{dataHome(),
                                                             {fixture_.root() / "system"},
                                                             "/opt/lumivale tools/qlmanage",
                                                             false});
  }
  fs::path dataHome() const { return fixture_.root() / "data"; }
  fs::path desktopEntry() const {
    return dataHome() / "applications" / "com.example.viewer.desktop";
  }
  fs::path mimePackage() const {
    return dataHome() / "mime" / "packages" / "com.example.viewer.xml";
  }
  std::string listAll() {
    PlugInRegistry registry(fixture_.location());
    return listing(registry.read(), {}, false);
  }
  // Every file under the data and configuration folders with its contents.
  std::map<fs::path, std::string> snapshot() {
    std::map<fs::path, std::string> files;
    for (const char* folder : {"data", "config"}) {
      if (!fs::exists(fixture_.root() / folder))
        continue;
      for (const auto& entry : fs::recursive_directory_iterator(fixture_.root() / folder))
        if (entry.is_regular_file() && entry.path().filename() != "registry.lock")
          files[entry.path()] = *RegistryFixture::read(entry.path());
    }
    return files;
  }

  RegistryFixture fixture_;
};

TEST_F(RegistrationTest, RecursiveRegistrationRecordsTheAppItsPlugInsAndTheDesktopFiles) {
  const fs::path app = fixture_.makeApp("Apps/Example Viewer.app", kExtensions);
  Registration lsregister = registration();
  EXPECT_TRUE(lsregister.registerBundle(app, {false, true, true}));
  EXPECT_TRUE(lsregister.warnings().empty());

  // Newly found plug-ins enter the registry with the default election.
  EXPECT_EQ(listAll(), "     com.example.viewer.markdown(2.1)\n"
                       "     com.example.viewer.notebook(2.1)\n");
  EXPECT_EQ(RegistryFixture::read(desktopEntry()),
            "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Example Viewer\n"
            "GenericName=Document Preview\n"
            "Comment=Preview Markdown documents, Mermaid diagrams and Jupyter notebooks\n"
            "Icon=x-office-document\nTryExec=/opt/lumivale tools/qlmanage\n"
            "Exec=\"/opt/lumivale tools/qlmanage\" -p %F\nTerminal=false\nNoDisplay=true\n"
            "StartupNotify=false\nCategories=Office;Viewer;\n"
            "MimeType=text/markdown;text/vnd.example-mermaid;application/x-ipynb+json;\n");
  // Only the type the system lacks goes into the MIME package.
  EXPECT_EQ(RegistryFixture::read(mimePackage()),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
            "  <mime-type type=\"text/vnd.example-mermaid\">\n"
            "    <comment>Mermaid &amp; friends</comment>\n"
            "    <sub-class-of type=\"text/plain\"/>\n"
            "    <alias type=\"application/vnd.example-mermaid\"/>\n"
            "    <glob pattern=\"*.mermaid\"/>\n"
            "    <glob pattern=\"*.mmd\"/>\n"
            "  </mime-type>\n"
            "</mime-info>\n");
  const std::string dump = lsregister.dump();
  EXPECT_NE(dump.find("application: com.example.viewer (2.1, 7)"), std::string::npos) << dump;
  EXPECT_NE(dump.find("trusted: yes"), std::string::npos) << dump;
}

TEST_F(RegistrationTest, RegisteringAgainChangesNothingAndForceRewritesTheSame) {
  const fs::path app = fixture_.makeApp("Example Viewer.app", kExtensions);
  ASSERT_TRUE(registration().registerBundle(app, {true, true, true}));
  PlugInRegistry(fixture_.location()).elect("com.example.viewer.notebook", Election::ignore);
  const auto before = snapshot();

  EXPECT_FALSE(registration().registerBundle(app, {false, true, true}));
  EXPECT_EQ(snapshot(), before);
  EXPECT_TRUE(registration().registerBundle(app, {true, true, true}));
  EXPECT_EQ(snapshot(), before); // same files, no duplicate records, the election kept
  EXPECT_EQ(listAll(), "     com.example.viewer.markdown(2.1)\n"
                       "-    com.example.viewer.notebook(2.1)\n");
}

TEST_F(RegistrationTest, TheUsersOwnMIMEDatabaseDoesNotCountAsTheSystems) {
  const fs::path app = fixture_.makeApp("Example Viewer.app", kExtensions);
  ASSERT_TRUE(registration().registerBundle(app, {false, true, false}));
  // What update-mime-database would have compiled from our package.
  RegistryFixture::write(dataHome() / "mime" / "types", "text/vnd.example-mermaid\n");
  Registration withDataHomeListed(fixture_.location(),
                                  DesktopLocation{dataHome(),
                                                  {dataHome(), fixture_.root() / "system"},
                                                  "/opt/lumivale tools/qlmanage",
                                                  false});
  EXPECT_FALSE(withDataHomeListed.registerBundle(app, {false, true, false}));
  EXPECT_TRUE(fs::exists(mimePackage()));
}

TEST_F(RegistrationTest, AChangedBundleIsRegisteredAgainWithoutForce) {
  const fs::path app = fixture_.makeApp("Example Viewer.app", kExtensions);
  ASSERT_TRUE(registration().registerBundle(app, {false, true, false}));
  ASSERT_TRUE(
      PlugInRegistry(fixture_.location()).elect("com.example.viewer.notebook", Election::ignore));
  const fs::path notebook = app / "Contents" / "PlugIns" / "NotebookLens.appex";
  fs::rename(notebook, fixture_.root() / "NotebookLens.appex");
  EXPECT_TRUE(registration().registerBundle(app, {false, true, false}));
  EXPECT_EQ(listAll(), "     com.example.viewer.markdown(2.1)\n");
  EXPECT_EQ(RegistryFixture::read(desktopEntry())->find("ipynb"), std::string::npos);
  // Back again, the extension starts from the default election.
  fs::rename(fixture_.root() / "NotebookLens.appex", notebook);
  EXPECT_TRUE(registration().registerBundle(app, {false, true, false}));
  EXPECT_EQ(listAll(), "     com.example.viewer.markdown(2.1)\n"
                       "     com.example.viewer.notebook(2.1)\n");
}

TEST_F(RegistrationTest, UnregistrationRemovesEverythingRegistrationAdded) {
  const auto empty = snapshot();
  const fs::path app = fixture_.makeApp("Example Viewer.app", kExtensions);
  ASSERT_TRUE(registration().registerBundle(app, {true, true, true}));
  ASSERT_TRUE(
      PlugInRegistry(fixture_.location()).elect("com.example.viewer.markdown", Election::use));
  fs::remove_all(app); // the app may be gone by the time it is unregistered
  registration().unregisterBundle(app);

  EXPECT_FALSE(fs::exists(desktopEntry()));
  EXPECT_FALSE(fs::exists(mimePackage()));
  EXPECT_EQ(listAll(), "");
  EXPECT_EQ(registration().dump(), "");
  PlugInRegistry registry(fixture_.location());
  EXPECT_TRUE(registry.read().elections.empty());
  // What stays are the emptied databases, nothing of the application.
  for (const auto& [file, contents] : snapshot())
    EXPECT_TRUE(empty.count(file) || file.extension() == ".json") << file;
  EXPECT_THROW(registration().unregisterBundle(app), std::runtime_error);
}

TEST_F(RegistrationTest, AnInvalidBundleIsRefusedAndNothingIsRecorded) {
  fs::create_directories(fixture_.root() / "Empty.app");
  const fs::path noExecutable = fixture_.makeApp(
      "Broken.app", {{"MarkdownLens", "com.example.viewer.markdown", {"x"}, false}});
  const fs::path notAnApp = fixture_.root() / "Doc.app";
  RegistryFixture::write(
      notAnApp / "Contents" / "Info.plist",
      RegistryFixture::plist("<key>CFBundleIdentifier</key><string>x</string>"
                             "<key>CFBundleExecutable</key><string>x</string>"
                             "<key>CFBundlePackageType</key><string>BNDL</string>"));
  RegistryFixture::write(fixture_.root() / "Garbage.app" / "Contents" / "Info.plist", "<plist");
  const fs::path badIdentifier =
      fixture_.makeApp("Odd.app", {{"MarkdownLens", "com.example.two\nlines", {"x"}}});

  auto messageFor = [&](const fs::path& bundle) -> std::string {
    try {
      registration().registerBundle(bundle, {true, true, true});
    } catch (const InvalidBundleError& e) {
      return e.what();
    }
    return "(registered)";
  };
  EXPECT_NE(messageFor(fixture_.root() / "Missing.app").find("there is no such folder"),
            std::string::npos);
  EXPECT_NE(messageFor(fixture_.root() / "Empty.app").find("Info.plist cannot be read"),
            std::string::npos);
  EXPECT_NE(messageFor(fixture_.root() / "Garbage.app").find("cannot be read"), std::string::npos);
  EXPECT_NE(messageFor(notAnApp).find("is not an application"), std::string::npos);
  EXPECT_NE(messageFor(noExecutable).find("has no executable"), std::string::npos);
  EXPECT_NE(messageFor(badIdentifier).find("holds blanks or control characters"),
            std::string::npos);
  EXPECT_TRUE(snapshot().empty());
}

TEST_F(RegistrationTest, OddPathsAndToolPathsAreHandled) {
  const fs::path app = fixture_.makeApp(
      "caf\xe9 & \"co\"/My App.app", kExtensions,
      "<key>LumivaleQuickLookToolPath</key><string>/opt/a \"b\" $c `d` \\e 100%/qlmanage</string>");
  ASSERT_TRUE(registration().registerBundle(app, {false, true, false}));
  const std::string entry = *RegistryFixture::read(desktopEntry());
  EXPECT_NE(
      entry.find(
          "Exec=\"/opt/a \\\\\"b\\\\\" \\\\$c \\\\`d\\\\` \\\\\\\\e 100%%/qlmanage\" -p %F\n"),
      std::string::npos)
      << entry;
  PlugInRegistry registry(fixture_.location());
  const RegistryState state = registry.read();
  ASSERT_EQ(state.plugIns.size(), 2u);
  EXPECT_EQ(state.plugIns[0].container, fs::canonical(app));
  registration().unregisterBundle(app);
  EXPECT_EQ(listAll(), "");
}

TEST_F(RegistrationTest, CopiesOfOneApplicationShareTheDesktopFilesUntilTheLastGoes) {
  const fs::path first = fixture_.makeApp("A/Example Viewer.app", kExtensions);
  const fs::path second = fixture_.makeApp("B/Example Viewer.app", kExtensions);
  ASSERT_TRUE(registration().registerBundle(first, {false, true, false}));
  ASSERT_TRUE(registration().registerBundle(second, {false, true, false}));
  ASSERT_TRUE(
      PlugInRegistry(fixture_.location()).elect("com.example.viewer.notebook", Election::ignore));
  registration().unregisterBundle(first);
  EXPECT_TRUE(fs::exists(desktopEntry()));
  EXPECT_TRUE(fs::exists(mimePackage()));
  // The remaining copy keeps the user's election.
  EXPECT_EQ(listAll(), "     com.example.viewer.markdown(2.1)\n"
                       "-    com.example.viewer.notebook(2.1)\n");
  registration().unregisterBundle(second);
  EXPECT_FALSE(fs::exists(desktopEntry()));
  EXPECT_FALSE(fs::exists(mimePackage()));
}

} // namespace
