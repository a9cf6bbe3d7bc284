// The preview server's parts that need no bus: the reply cache, the hand-over of replies in
// memory files, the activation file, and the pool of warm extension processes.
#include "QuickLookService/ExtensionProcessPool.h"
#include "QuickLookService/PanelAgentNames.h"
#include "QuickLookService/ReplyCache.h"
#include "QuickLookService/ReplyTransfer.h"
#include "QuickLookService/ServiceInstallation.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sched.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path temporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "service-test-XXXXXX").string();
  EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
  return pattern;
}

std::shared_ptr<const PreviewWire::Reply> page(std::size_t bytes) {
  auto reply = std::make_shared<PreviewWire::Reply>();
  reply->contentType = "public.html";
  reply->data.assign(bytes, 'x');
  return reply;
}

void write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

} // namespace

TEST(ReplyCache, AnEntryHoldsOnlyWhileTheDocumentIsUnchanged) {
  const fs::path folder = temporaryFolder();
  const fs::path document = folder / "a.md";
  write(document, "# one\n");
  ReplyCache cache(1 << 20);
  const auto key = ReplyCacheKey::of(document, "net.daringfireball.markdown");
  ASSERT_TRUE(key);
  cache.insert(*key, page(10));
  EXPECT_NE(cache.find(*key), nullptr);
  EXPECT_EQ(cache.find(*ReplyCacheKey::of(document, "public.plain-text")), nullptr);

  write(document, "# one, longer\n"); // a new size (and time): the old reply no longer answers
  EXPECT_EQ(cache.find(*ReplyCacheKey::of(document, "net.daringfireball.markdown")), nullptr);
  EXPECT_EQ(ReplyCacheKey::of(folder, "public.folder"), std::nullopt);
  EXPECT_EQ(ReplyCacheKey::of(folder / "missing.md", "x"), std::nullopt);
  fs::remove_all(folder);
}

// A Markdown document's reply carries its images: editing one, or adding one it looked for,
// must make the reply afresh, though the document itself is unchanged.
TEST(ReplyCache, AnEntryIsDroppedWhenAFileItWasMadeFromChanges) {
  const fs::path folder = temporaryFolder();
  const fs::path document = folder / "a.md";
  const fs::path image = folder / "red.png";
  const fs::path missing = folder / "later.png";
  write(document, "![](red.png) ![](later.png)\n");
  write(image, "PNG1");
  const auto key = ReplyCacheKey::of(document, "net.daringfireball.markdown");
  ASSERT_TRUE(key);
  auto made = [&] {
    auto reply = std::make_shared<PreviewWire::Reply>(*page(10));
    reply->dependencies = {image.string(), missing.string()};
    return reply;
  };
  ReplyCache cache(1 << 20);
  cache.insert(*key, made());
  ASSERT_NE(cache.find(*key), nullptr);

  write(image, "PNG2"); // same size; a new change time (and inode number kept)
  EXPECT_EQ(cache.find(*key), nullptr);
  EXPECT_EQ(cache.entries(), 0u); // the stale entry is gone, not only skipped

  cache.insert(*key, made());
  ASSERT_NE(cache.find(*key), nullptr);
  write(missing, "PNG"); // an image it looked for appeared
  EXPECT_EQ(cache.find(*key), nullptr);

  // A reply whose image changed while it was being made is not kept at all.
  const std::int64_t imageChanged = FileState::of(image.string()).changedNanoseconds;
  cache.insert(*key, made(), imageChanged + 1000000000); // made a second after the change
  EXPECT_NE(cache.find(*key), nullptr);
  cache.clear();
  cache.insert(*key, made(), imageChanged);
  EXPECT_EQ(cache.find(*key), nullptr);
  fs::remove_all(folder);
}

TEST(ReplyCache, StaysWithinItsCapacityDroppingTheLeastRecentlyUsed) {
  ReplyCache cache(3000);
  auto key = [](int n) { return ReplyCacheKey{"/doc" + std::to_string(n), "t", 1, 1, 1, 1}; };
  cache.insert(key(1), page(1000));
  cache.insert(key(2), page(1000));
  ASSERT_NE(cache.find(key(1)), nullptr); // 1 is now the most recently used
  cache.insert(key(3), page(1000));       // over capacity: 2 goes
  EXPECT_NE(cache.find(key(1)), nullptr);
  EXPECT_EQ(cache.find(key(2)), nullptr);
  EXPECT_NE(cache.find(key(3)), nullptr);
  cache.insert(key(4), page(10000)); // larger than the whole cache: not kept
  EXPECT_EQ(cache.find(key(4)), nullptr);
  // A newer reply for the same document replaces the older one.
  cache.insert(ReplyCacheKey{"/doc1", "t", 1, 1, 2, 2}, page(10));
  EXPECT_EQ(cache.find(key(1)), nullptr);
  cache.clear();
  EXPECT_EQ(cache.entries(), 0u);
}

TEST(ReplyTransfer, ALargeReplyCrossesWholeThroughASealedMemoryFile) {
  PreviewWire::Reply reply;
  reply.id = 7;
  reply.title = "Notes";
  reply.contentType = "public.html";
  reply.width = 1024;
  reply.height = 768;
  reply.stringEncoding = "utf-8";
  reply.data.assign(24u << 20, 'p');
  reply.data[12345] = '\0';
  reply.attachments.push_back(
      {"lumivale-asset-0", "public.png", "image/png", std::string(5000, '\x89')});
  const int fd = ReplyTransfer::writeToMemoryFile(reply);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::write(fd, "x", 1), -1) << "the memory file is sealed against writes";
  EXPECT_EQ(ReplyTransfer::readFromMemoryFile(fd), reply);
  EXPECT_EQ(ReplyTransfer::readFromMemoryFile(fd), reply) << "reads start from the beginning";
  ::close(fd);
}

TEST(ReplyTransfer, AnEmptyOrForeignFileIsNoReply) {
  const int empty = ::memfd_create("empty", MFD_CLOEXEC);
  EXPECT_ANY_THROW(ReplyTransfer::readFromMemoryFile(empty));
  const int junk = ::memfd_create("junk", MFD_CLOEXEC);
  ASSERT_EQ(::write(junk, "not a frame at all, not a frame at all", 38), 38);
  EXPECT_THROW(ReplyTransfer::readFromMemoryFile(junk), PreviewWire::WireError);
  ::close(empty);
  ::close(junk);
}

TEST(ServiceInstallation, WritesTheActivationFileNamingTheServer) {
  const fs::path data = temporaryFolder();
  const fs::path file =
      ServiceInstallation::installServiceFile(data, "/opt/Quick Look/bin/../bin/quicklookd");
  EXPECT_EQ(file, data / "dbus-1/services/com.lumivale.quicklook.PreviewService.service");
  std::stringstream text;
  text << std::ifstream(file).rdbuf();
  EXPECT_EQ(text.str(), "[D-BUS Service]\nName=com.lumivale.quicklook.PreviewService\n"
                        "Exec=\"/opt/Quick Look/bin/quicklookd\"\n");
  // Installing again replaces it; nothing else is left in the folder.
  ServiceInstallation::installServiceFile(data, "/usr/lib/a\"b$c/quicklookd");
  std::stringstream again;
  again << std::ifstream(file).rdbuf();
  EXPECT_NE(again.str().find("Exec=\"/usr/lib/a\\\"b\\$c/quicklookd\"\n"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
  EXPECT_THROW(ServiceInstallation::installServiceFile(data, "/bad\nExec=/bin/sh"),
               std::runtime_error);
  // The panel agent's file lives beside it, under its own name; each is removed alone.
  const fs::path agent = ServiceInstallation::installServiceFile(data, PanelAgentNames::kService,
                                                                 "/opt/ql/qlpanelagent");
  EXPECT_EQ(agent, data / "dbus-1/services/com.lumivale.quicklook.PanelAgent.service");
  std::stringstream agentText;
  agentText << std::ifstream(agent).rdbuf();
  EXPECT_EQ(agentText.str(), "[D-BUS Service]\nName=com.lumivale.quicklook.PanelAgent\n"
                             "Exec=\"/opt/ql/qlpanelagent\"\n");
  EXPECT_TRUE(ServiceInstallation::uninstallServiceFile(data));
  EXPECT_FALSE(ServiceInstallation::uninstallServiceFile(data));
  EXPECT_TRUE(fs::exists(agent));
  EXPECT_TRUE(ServiceInstallation::uninstallServiceFile(data, PanelAgentNames::kService));
  fs::remove_all(data);
}

TEST(ServiceInstallation, DataHomeFollowsXDG) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string before = saved ? saved : "";
  ::setenv("XDG_DATA_HOME", "/somewhere/data", 1);
  EXPECT_EQ(ServiceInstallation::dataHome(), fs::path("/somewhere/data"));
  ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
  EXPECT_EQ(ServiceInstallation::dataHome().filename(), "share");
  if (saved)
    ::setenv("XDG_DATA_HOME", before.c_str(), 1);
  else
    ::unsetenv("XDG_DATA_HOME");
}

// The app bundle's Markdown extension, as the catalog would describe it.
PreviewExtension bundledMarkdownExtension() {
  return {"MarkdownLens",
          fs::path(LUMIVALE_APP_BUNDLE) /
              "Contents/PlugIns/MarkdownLens.appex/Contents/MacOS/MarkdownLens",
          {"net.daringfireball.markdown"}};
}

TEST(ExtensionProcessPool, KeepsOneProcessPerExtensionAndReplacesWhatIsDiscarded) {
  const fs::path folder = temporaryFolder();
  const fs::path document = folder / "doc.md";
  write(document, "# Title\n\nText.\n");
  const PreviewExtension markdown = bundledMarkdownExtension();
  ExtensionProcessPool pool;
  auto first = pool.processFor(markdown);
  EXPECT_EQ(pool.processFor(markdown), first);
  EXPECT_EQ(pool.size(), 1u);
  EXPECT_FALSE(first->request(document).get().error);

  pool.discard(first);
  auto second = pool.processFor(markdown);
  EXPECT_NE(second, first);
  pool.discard(first); // no longer in use: changes nothing
  EXPECT_EQ(pool.processFor(markdown), second);

  // Ending them all fails what is asked of the ended process, and the next one is new.
  pool.endAll();
  EXPECT_EQ(pool.size(), 0u);
  EXPECT_TRUE(second->request(document).get().error) << "a killed process answers nothing";
  auto third = pool.processFor(markdown);
  EXPECT_NE(third, second);
  EXPECT_FALSE(third->request(document).get().error);
  fs::remove_all(folder);
}

// Ending every process must signal only the pool's own: one whose process has already ended has
// no pid, and a bare kill(-1) would end every process the caller may signal. Run inside a PID
// namespace of its own, so that the fault, were it back, ends only the namespace's processes.
TEST(ExtensionProcessPool, EndingAllSignalsNothingButItsOwnProcesses) {
  const fs::path folder = temporaryFolder();
  const fs::path document = folder / "doc.md";
  write(document, "# Title\n");
  const PreviewExtension markdown = bundledMarkdownExtension();
  const pid_t outer = ::fork();
  ASSERT_GE(outer, 0);
  if (outer == 0) {
    if (::unshare(CLONE_NEWPID) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0)
      ::_exit(77);
    const pid_t inner = ::fork(); // the namespace's first process
    if (inner < 0)
      ::_exit(3);
    if (inner == 0) {
      const pid_t bystander = ::fork();
      if (bystander == 0) {
        for (;;)
          ::pause();
      }
      // The pool runs in a child of the namespace's first process, as the server runs under
      // the bus: its extensions' launcher checks that its host is its parent.
      const pid_t host = ::fork();
      if (host == 0) {
        ExtensionProcessPool pool;
        auto process = pool.processFor(markdown);
        if (process->request(document).get().error)
          ::_exit(4);
        ::kill(process->pid(), SIGKILL);
        for (int i = 0; i < 500 && process->pid() > 0; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (process->pid() > 0)
          ::_exit(5);
        pool.endAll();
        ::_exit(0);
      }
      int status = 0;
      ::waitpid(host, &status, 0);
      const int hostStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 6;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const bool alive = ::waitpid(bystander, &status, WNOHANG) == 0;
      ::_exit(hostStatus != 0 ? hostStatus : alive ? 0 : 1);
    }
    int status = 0;
    ::waitpid(inner, &status, 0);
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(outer, &status, 0), outer);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "no PID namespace can be made here";
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: a process outside the pool was signalled; 4: the preview failed; 5: the ended "
         "process still had a pid; 6: the pool's host was killed";
  fs::remove_all(folder);
}
