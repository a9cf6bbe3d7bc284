#include "PlugInKit/PlugInListing.h"
#include "PlugInKit/PlugInRegistry.h"
#include "PlugInKit/RegistryFile.h"
#include "RegistryFixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class PlugInRegistryTest : public ::testing::Test {
protected:
  void seed(std::vector<PlugIn> plugIns) {
    PlugInRegistry registry(fixture_.location());
    RegistryLock lock(registry.location());
    RegistryState state;
    state.plugIns = std::move(plugIns);
    registry.write(lock, RegistryState(), state);
  }
  std::string listAll(bool verbose = false) {
    PlugInRegistry registry(fixture_.location());
    return listing(registry.read(), {}, verbose);
  }
  std::vector<fs::path> damagedCopies(const fs::path& file) {
    std::vector<fs::path> copies;
    for (const auto& entry : fs::directory_iterator(file.parent_path()))
      if (entry.path().filename().string().starts_with(file.filename().string() + ".damaged-"))
        copies.push_back(entry.path());
    return copies;
  }

  RegistryFixture fixture_;
};

TEST_F(PlugInRegistryTest, ElectionsAreStoredListedAndReturnedToTheDefault) {
  seed({RegistryFixture::plugIn("com.example.b", "1.2"),
        RegistryFixture::plugIn("com.example.a", "")});
  EXPECT_EQ(listAll(), "     com.example.a()\n     com.example.b(1.2)\n");

  PlugInRegistry registry(fixture_.location());
  ASSERT_TRUE(registry.elect("com.example.b", Election::use));
  ASSERT_TRUE(registry.elect("com.example.a", Election::ignore));
  EXPECT_EQ(listAll(), "-    com.example.a()\n+    com.example.b(1.2)\n");

  ASSERT_TRUE(registry.elect("com.example.b", Election::automatic));
  EXPECT_EQ(listAll(), "-    com.example.a()\n     com.example.b(1.2)\n");
  // The default is no stored choice at all.
  const std::string stored = *RegistryFixture::read(fixture_.location().electionsFile());
  EXPECT_EQ(stored.find("com.example.b"), std::string::npos) << stored;
  // Elections are configuration, apart from the discovered plug-ins.
  EXPECT_EQ(RegistryFixture::read(fixture_.location().plugInsFile())->find("ignore"),
            std::string::npos);
}

TEST_F(PlugInRegistryTest, AnUnknownIdentifierIsRefusedAndNothingIsStored) {
  seed({RegistryFixture::plugIn("com.example.a")});
  PlugInRegistry registry(fixture_.location());
  EXPECT_FALSE(registry.elect("com.example.A", Election::use)); // case matters
  EXPECT_FALSE(registry.elect("com.example.a ", Election::ignore));
  EXPECT_FALSE(registry.elect(std::string("com.example.\xff", 13), Election::use));
  EXPECT_FALSE(fs::exists(fixture_.location().electionsFile()));
}

TEST_F(PlugInRegistryTest, AnElectionCoversEveryPlugInWithTheIdentifier) {
  PlugIn first = RegistryFixture::plugIn("com.example.a", "1.0");
  PlugIn second = first;
  second.path = "/Other/Test.app/Contents/PlugIns/a.appex";
  second.container = "/Other/Test.app";
  second.version = "2.0";
  seed({first, second, RegistryFixture::plugIn("com.example.b")});
  PlugInRegistry registry(fixture_.location());
  ASSERT_TRUE(registry.elect("com.example.a", Election::ignore));
  EXPECT_EQ(listAll(true), "-    com.example.a(1.0)\t/Applications/Test.app/Contents/PlugIns/"
                           "com.example.a.appex\n"
                           "-    com.example.a(2.0)\t/Other/Test.app/Contents/PlugIns/a.appex\n"
                           "     com.example.b(1.0)\t/Applications/Test.app/Contents/PlugIns/"
                           "com.example.b.appex\n");
}

TEST_F(PlugInRegistryTest, ListingFiltersByExtensionPointAndIdentifier) {
  seed({RegistryFixture::plugIn("com.example.preview"),
        RegistryFixture::plugIn("com.example.share", "3", {}, "com.apple.share-services")});
  PlugInRegistry registry(fixture_.location());
  const RegistryState state = registry.read();
  EXPECT_EQ(listing(state, {"com.apple.quicklook.preview", std::nullopt}, false),
            "     com.example.preview(1.0)\n");
  EXPECT_EQ(listing(state, {std::nullopt, "com.example.share"}, false),
            "     com.example.share(3)\n");
  EXPECT_EQ(listing(state, {"com.apple.quicklook.preview", "com.example.share"}, false), "");
}

TEST_F(PlugInRegistryTest, ADamagedElectionsFileIsKeptAsideAndReported) {
  seed({RegistryFixture::plugIn("com.example.a")});
  const fs::path file = fixture_.location().electionsFile();
  RegistryFixture::write(file, "{\"format\":1,\"elections\":{\"com.example.a\":\"us");

  PlugInRegistry reader(fixture_.location());
  const RegistryState state = reader.read();
  EXPECT_TRUE(state.elections.empty());
  ASSERT_EQ(reader.warnings().size(), 1u);
  EXPECT_NE(reader.warnings()[0].find("is damaged"), std::string::npos);
  const std::vector<fs::path> copies = damagedCopies(file);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_NE(reader.warnings()[0].find(copies[0].string()), std::string::npos);
  EXPECT_EQ(RegistryFixture::read(copies[0]),
            "{\"format\":1,\"elections\":{\"com.example.a\":\"us");

  // A new election starts a new file; the damaged copy stays.
  PlugInRegistry writer(fixture_.location());
  ASSERT_TRUE(writer.elect("com.example.a", Election::ignore));
  EXPECT_EQ(listAll(), "-    com.example.a(1.0)\n");
  EXPECT_EQ(damagedCopies(file).size(), 1u);
}

TEST_F(PlugInRegistryTest, WrongShapesAndNonFilesCountAsDamage) {
  const fs::path plugIns = fixture_.location().plugInsFile();
  for (const std::string& bytes : {std::string("[]"), std::string("{\"plugins\":[]}"),
                                   std::string("{\"format\":1,\"plugins\":[{\"identifier\":7}]}"),
                                   std::string("{\"format\":1,\"plugins\":[],\"x\":\"\xff\"}")}) {
    RegistryFixture::write(plugIns, bytes);
    PlugInRegistry registry(fixture_.location());
    EXPECT_TRUE(registry.read().plugIns.empty()) << bytes;
    EXPECT_EQ(registry.warnings().size(), 1u) << bytes;
    EXPECT_FALSE(fs::exists(plugIns)) << bytes;
  }
  ASSERT_EQ(::mkfifo(plugIns.c_str(), 0600), 0); // would block a plain read
  {
    PlugInRegistry registry(fixture_.location());
    EXPECT_TRUE(registry.read().plugIns.empty());
    EXPECT_EQ(registry.warnings().size(), 1u);
  }
  EXPECT_EQ(damagedCopies(plugIns).size(), 5u);

  RegistryFixture::write(fixture_.location().electionsFile(),
                         "{\"format\":1,\"elections\":{\"com.example.a\":\"maybe\"}}");
  PlugInRegistry registry(fixture_.location());
  EXPECT_TRUE(registry.read().elections.empty());
  EXPECT_EQ(registry.warnings().size(), 1u);
}

TEST_F(PlugInRegistryTest, PathsSurviveBlanksPercentSignsAndNonUTF8Bytes) {
  PlugIn odd = RegistryFixture::plugIn("com.example.odd");
  odd.container = fs::path("/tmp/caf\xe9 100%25 \"x\"/App.app");
  odd.path = odd.container / "Contents/PlugIns/\xff\xfe.appex";
  odd.executable = odd.path / "Contents/MacOS/a b";
  seed({odd});
  PlugInRegistry registry(fixture_.location());
  const RegistryState state = registry.read();
  ASSERT_EQ(state.plugIns.size(), 1u);
  EXPECT_EQ(state.plugIns[0], odd);
  EXPECT_TRUE(registry.warnings().empty());
  EXPECT_EQ(RegistryFile::encodePath("/a%b/\xe9"), "/a%25b/%E9");
  EXPECT_EQ(RegistryFile::decodePath("/a%25b/%E9"), fs::path("/a%b/\xe9"));
  EXPECT_THROW(RegistryFile::decodePath("/a%2"), std::runtime_error);
}

// Two processes elect 200 times each at once, every time read-modify-writing the same file
// (processes, not threads: the thread sanitizer suite has nothing to add here):
// the lock around the cycle keeps all 400 elections.
TEST_F(PlugInRegistryTest, TwoProcessesElectingAtOnceLoseNothing) {
  std::vector<PlugIn> plugIns;
  for (int i = 0; i < 200; ++i) {
    plugIns.push_back(RegistryFixture::plugIn("com.example.first." + std::to_string(i)));
    plugIns.push_back(RegistryFixture::plugIn("com.example.second." + std::to_string(i)));
  }
  seed(plugIns);

  std::vector<pid_t> children;
  for (const char* group : {"first", "second"}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      PlugInRegistry registry(fixture_.location());
      const Election election = std::string(group) == "first" ? Election::use : Election::ignore;
      for (int i = 0; i < 200; ++i)
        if (!registry.elect("com.example." + std::string(group) + "." + std::to_string(i),
                            election))
          ::_exit(1);
      ::_exit(registry.warnings().empty() ? 0 : 2);
    }
    children.push_back(pid);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }

  PlugInRegistry registry(fixture_.location());
  const RegistryState state = registry.read();
  ASSERT_EQ(state.elections.size(), 400u);
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(state.electionFor("com.example.first." + std::to_string(i)), Election::use);
    EXPECT_EQ(state.electionFor("com.example.second." + std::to_string(i)), Election::ignore);
  }
  // No temporary files are left beside the registry files.
  for (const auto& entry :
       fs::directory_iterator(fixture_.location().electionsFile().parent_path()))
    EXPECT_EQ(entry.path().filename().string()[0] == '.', false) << entry.path();
}

} // namespace
