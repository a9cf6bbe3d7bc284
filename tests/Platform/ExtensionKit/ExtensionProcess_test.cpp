#include "ExtensionKit/ExtensionProcess.h"
#include "ExtensionKit/ExtensionSandbox.h"
#include "TestExtensions.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using TestExtensions::ScopedEnvironment;
using TestExtensions::ScratchFolder;
using testing::HasSubstr;

namespace {

class ExtensionProcessTest : public testing::Test {
protected:
  void SetUp() override {
    if (ExtensionSandbox::landlockABI() < 1)
      allow_.emplace(ExtensionSandbox::kAllowUnsandboxedVariable, "1");
  }

  ExtensionProcess::Options options(std::chrono::milliseconds timeout = 30s) {
    ExtensionProcess::Options options;
    options.launcher = TestExtensions::launcher();
    options.timeout = timeout;
    return options;
  }
  std::string document(const std::string& name) {
    const std::filesystem::path path = folder_.path() / name;
    std::ofstream(path) << "text\n";
    return path.string();
  }
  void open(const std::string& gatedDocument) { std::ofstream(gatedDocument + ".open") << ""; }

  std::optional<ScopedEnvironment> allow_;
  ScratchFolder folder_;
};

// The pid FaultLens writes into its page.
pid_t answeringPid(const PreviewWire::Reply& reply) {
  EXPECT_FALSE(reply.error) << reply.error->localizedDescription;
  return reply.data.rfind("pid ", 0) == 0 ? std::stoi(reply.data.substr(4)) : -1;
}

TEST_F(ExtensionProcessTest, ServesRequestsFromOneProcess) {
  ExtensionProcess process("FaultLens", TestExtensions::executable("FaultLens"), options());
  const pid_t pid = process.pid();
  ASSERT_GT(pid, 0);
  auto first = process.request(document("a.txt"));
  auto second = process.request(document("b.txt"));
  EXPECT_EQ(answeringPid(first.get()), pid);
  PreviewWire::Reply reply = second.get();
  EXPECT_EQ(answeringPid(reply), pid);
  EXPECT_EQ(reply.title, "b.txt");
  EXPECT_EQ(process.launches(), 1u);
}

// With no launcher given, the one beside the app bundle is used; the real Markdown extension
// previews through it inside the sandbox.
TEST_F(ExtensionProcessTest, TheLauncherIsFoundBesideTheAppBundle) {
  const std::filesystem::path markdownLens = std::filesystem::path(LUMIVALE_APP_BUNDLE) /
                                             "Contents/PlugIns/MarkdownLens.appex/Contents/MacOS/"
                                             "MarkdownLens";
  EXPECT_EQ(ExtensionProcessOptions::findLauncher(markdownLens),
            std::filesystem::path(LUMIVALE_APP_BUNDLE).parent_path() / "xpcproxy");
  ExtensionProcess process("MarkdownLens", markdownLens);
  const std::string path = document("notes.md");
  std::ofstream(path) << "# Notes\n\nSome *text*.\n";
  PreviewWire::Reply reply = process.request(path).get();
  ASSERT_FALSE(reply.error) << reply.error->localizedDescription;
  EXPECT_EQ(reply.title, "notes");
  EXPECT_NE(reply.data.find("Some *text*."), std::string::npos);
}

TEST_F(ExtensionProcessTest, ACrashFailsItsRequestAndTheNextRequestGetsANewProcess) {
  ExtensionProcess process("FaultLens", TestExtensions::executable("FaultLens"), options());
  const pid_t first = process.pid();
  PreviewWire::Reply crashed = process.request(document("crash.txt")).get();
  ASSERT_TRUE(crashed.error);
  EXPECT_EQ(crashed.error->code, ExtensionProcess::kExtensionEnded);
  EXPECT_THAT(crashed.error->localizedDescription,
              HasSubstr("The preview extension FaultLens crashed (Aborted)"));

  PreviewWire::Reply next = process.request(document("after.txt")).get();
  const pid_t second = answeringPid(next);
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
  EXPECT_EQ(process.launches(), 2u);
}

TEST_F(ExtensionProcessTest, ATimeOutEndsTheProcessAndSendsTheOthersToANewOne) {
  ExtensionProcess process("FaultLens", TestExtensions::executable("FaultLens"), options(2s));
  const pid_t first = process.pid();
  auto hung = process.request(document("hang.txt"));
  std::this_thread::sleep_for(1s);
  // In flight in the same process when the hung request times out.
  const std::string gated = document("gate.txt");
  auto waiting = process.request(gated);

  PreviewWire::Reply timedOut = hung.get();
  ASSERT_TRUE(timedOut.error);
  EXPECT_EQ(timedOut.error->code, ExtensionProcess::kTimedOut);
  EXPECT_EQ(timedOut.error->localizedDescription,
            "The preview extension FaultLens did not answer within 2 s; it was ended.");
  EXPECT_EQ(waiting.wait_for(0s), std::future_status::timeout) << "must not fail with the hung one";
  // The hung process is ended (and reaped).
  for (int i = 0; i < 200 && ::kill(first, 0) == 0; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(::kill(first, 0), -1);

  open(gated);
  const pid_t second = answeringPid(waiting.get());
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
  EXPECT_EQ(process.launches(), 2u);
}

TEST_F(ExtensionProcessTest, DestroyingWithAHungRequestEndsWithinTheTimeOut) {
  std::future<PreviewWire::Reply> hung;
  const auto start = std::chrono::steady_clock::now();
  {
    ExtensionProcess process("FaultLens", TestExtensions::executable("FaultLens"), options(500ms));
    hung = process.request(document("hang.txt"));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  ASSERT_EQ(hung.wait_for(0s), std::future_status::ready);
  EXPECT_EQ(hung.get().error->code, ExtensionProcess::kTimedOut);
}

// Whether `pid` has ended (a zombie waiting for whoever adopted it counts as ended).
bool endedWithin(pid_t pid, std::chrono::milliseconds limit) {
  for (const auto end = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms)) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
      return true;
    const auto close = line.rfind(')');
    if (close != std::string::npos && line.compare(close + 1, 3, " Z ") == 0)
      return true;
  }
  return false;
}

// A host killed outright (no destructor runs) takes its extension with it, even one stuck on a
// request; and an extension outlives the thread that happened to start it (the kernel ties
// the parent-death signal to that thread).
TEST_F(ExtensionProcessTest, AHungExtensionDiesWithItsKilledHostButNotWithItsStartingThread) {
  const std::string answered = document("a.txt");
  const std::string hang = document("hang.txt");
  const ExtensionProcess::Options hostOptions = options();
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t host = ::fork();
  ASSERT_GE(host, 0);
  if (host == 0) {
    ::close(report[0]);
    std::unique_ptr<ExtensionProcess> process;
    std::thread([&] {
      process = std::make_unique<ExtensionProcess>(
          "FaultLens", TestExtensions::executable("FaultLens"), hostOptions);
    }).join();
    std::this_thread::sleep_for(100ms);
    const PreviewWire::Reply reply = process->request(answered).get();
    pid_t pid = reply.data.rfind("pid ", 0) == 0 ? std::stoi(reply.data.substr(4)) : -1;
    auto stuck = process->request(hang);
    std::this_thread::sleep_for(200ms); // the extension is inside the hung request
    if (::write(report[1], &pid, sizeof pid) != sizeof pid)
      ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  ::close(report[1]);
  pid_t extension = -1;
  const ssize_t got = ::read(report[0], &extension, sizeof extension);
  ::close(report[0]);
  ASSERT_EQ(got, static_cast<ssize_t>(sizeof extension)) << "the host did not report";
  ASSERT_GT(extension, 0) << "the extension did not answer after its starting thread ended";
  EXPECT_EQ(::kill(extension, 0), 0) << "the extension is running before its host is killed";
  ::kill(host, SIGKILL);
  ::waitpid(host, nullptr, 0);
  EXPECT_TRUE(endedWithin(extension, 5000ms));
}

// An empty page file in the test's folder.
std::shared_ptr<PreviewWire::PageFile> pageFileIn(const std::filesystem::path& folder,
                                                  const std::string& name) {
  const std::string path = (folder / name).string();
  return std::make_shared<PreviewWire::PageFile>(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
}

std::string contentsOf(const PreviewWire::PageFile& file) {
  std::string bytes;
  char buffer[65536];
  ssize_t n;
  for (off_t at = 0; (n = ::pread(file.fd(), buffer, sizeof buffer, at)) > 0; at += n)
    bytes.append(buffer, static_cast<std::size_t>(n));
  return bytes;
}

// A page file takes its request's page whole; requests without one get their pages as before.
TEST_F(ExtensionProcessTest, APageFileReceivesItsRequestsPage) {
  ExtensionProcess process("FaultLens", TestExtensions::executable("FaultLens"), options());
  auto file = pageFileIn(folder_.path(), "page");
  auto large = process.request(document("large.txt"), file);
  auto plain = process.request(document("large-too.txt"));
  PreviewWire::Reply reply = large.get();
  ASSERT_FALSE(reply.error) << reply.error->localizedDescription;
  EXPECT_EQ(reply.title, "large.txt");
  EXPECT_TRUE(reply.data.empty());
  const std::string page = contentsOf(*file);
  EXPECT_GT(page.size(), 3u << 20);
  EXPECT_EQ(file->receivedSize(), page.size());
  EXPECT_EQ(plain.get().data, page) << "the same page, once in the file and once in the reply";
}

// An extension that quits halfway through its reply fails the request; the page file reports
// nothing received, so the half page in it is never taken for a page.
TEST_F(ExtensionProcessTest, AReplyCutShortLeavesItsPageFileUnreceived) {
  ExtensionProcess process("FaultLens", TestExtensions::executable("FaultLens"), options());
  auto file = pageFileIn(folder_.path(), "page");
  PreviewWire::Reply reply = process.request(document("cut.txt"), file).get(); // request 1
  ASSERT_TRUE(reply.error);
  EXPECT_EQ(reply.error->code, ExtensionProcess::kExtensionEnded);
  EXPECT_THAT(reply.error->localizedDescription,
              HasSubstr("quit with status 4: it sent a malformed reply (the stream ends inside a "
                        "frame payload)"));
  EXPECT_FALSE(file->receivedSize());
  EXPECT_GT(answeringPid(process.request(document("a.txt")).get()), 0);
}

// A request sent again to a new process after its first one was ended takes its page from the
// new process.
TEST_F(ExtensionProcessTest, ARequestSentAgainTakesItsPageFromTheNewProcess) {
  ExtensionProcess process("FaultLens", TestExtensions::executable("FaultLens"), options(2s));
  const pid_t first = process.pid();
  auto hung = process.request(document("hang.txt"));
  // Sent well after the hung one, so that its own time is not up with the hung one's.
  std::this_thread::sleep_for(1s);
  const std::string gated = document("gate.txt");
  auto file = pageFileIn(folder_.path(), "page");
  auto waiting = process.request(gated, file);
  EXPECT_EQ(hung.get().error->code, ExtensionProcess::kTimedOut);
  open(gated);
  PreviewWire::Reply reply = waiting.get();
  ASSERT_FALSE(reply.error) << reply.error->localizedDescription;
  const std::string page = contentsOf(*file);
  EXPECT_EQ(file->receivedSize(), page.size());
  const pid_t second = page.rfind("pid ", 0) == 0 ? std::stoi(page.substr(4)) : -1;
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
}

// The service's standard error may be a log file, which the sandbox lets no extension grow: a
// message there is lost, and the extension still answers.
TEST_F(ExtensionProcessTest, AMessageToAStandardErrorThatIsAFileDoesNotEndTheExtension) {
  const std::string log = (folder_.path() / "log").string();
  const int file = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(file, 0);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(file, STDERR_FILENO);
  std::optional<ExtensionProcess> process;
  process.emplace("FaultLens", TestExtensions::executable("FaultLens"), options());
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(file);
  PreviewWire::Reply reply = process->request(document("noisy.txt")).get();
  EXPECT_GT(answeringPid(reply), 0);
}

TEST_F(ExtensionProcessTest, TerminateFailsRequestsInFlightAndRestartsOnDemand) {
  ExtensionProcess process("FaultLens", TestExtensions::executable("FaultLens"), options());
  const pid_t first = process.pid();
  auto hung = process.request(document("hang.txt"));
  process.terminate("The preview service was reset.");
  PreviewWire::Reply reset = hung.get();
  ASSERT_TRUE(reset.error);
  EXPECT_EQ(reset.error->localizedDescription, "The preview service was reset.");
  EXPECT_EQ(process.pid(), -1);
  const pid_t second = answeringPid(process.request(document("a.txt")).get());
  EXPECT_NE(second, first);
}

TEST_F(ExtensionProcessTest, AMissingLauncherOrExtensionIsAClearError) {
  ExtensionProcess::Options noLauncher = options();
  noLauncher.launcher = folder_.path() / "xpcproxy";
  EXPECT_THAT(
      [&] { ExtensionProcess("FaultLens", TestExtensions::executable("FaultLens"), noLauncher); },
      testing::ThrowsMessage<std::runtime_error>(
          HasSubstr("cannot be started: its sandbox launcher")));
  EXPECT_THAT([&] { ExtensionProcess("Nothing", folder_.path() / "Nothing", options()); },
              testing::ThrowsMessage<std::runtime_error>(HasSubstr("is missing")));
}

// On a kernel without Landlock nothing starts unless the user allows it; the ABI cap stands
// in for such a kernel here.
TEST_F(ExtensionProcessTest, WithoutLandlockExtensionsStartOnlyWhenAllowed) {
  ScopedEnvironment noLandlock(ExtensionSandbox::kLandlockABICapVariable, "0");
  {
    ScopedEnvironment notAllowed(ExtensionSandbox::kAllowUnsandboxedVariable, std::nullopt);
    EXPECT_THAT(
        [&] { ExtensionProcess("FaultLens", TestExtensions::executable("FaultLens"), options()); },
        testing::ThrowsMessage<std::runtime_error>(
            HasSubstr("does not offer Landlock, which the extension sandbox needs to keep "
                      "previews from changing files, so no preview extension is started. Set "
                      "LUMIVALE_ALLOW_UNSANDBOXED=1 to run them without it.")));
  }
  ScopedEnvironment allowed(ExtensionSandbox::kAllowUnsandboxedVariable, "1");
  ExtensionProcess process("FaultLens", TestExtensions::executable("FaultLens"), options());
  EXPECT_GT(answeringPid(process.request(document("a.txt")).get()), 0);
}

} // namespace
