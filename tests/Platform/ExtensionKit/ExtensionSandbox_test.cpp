// The sandbox proven from outside: HostileLens, run through the real launcher, tries to change
// the file system in /tmp, in the home folder and beside its document, to reach loopback
// servers, Unix sockets and the session bus, and to signal, trace or fork processes. Every
// attempt must fail, and the harness checks that nothing changed and nothing arrived.
#include "ExtensionKit/ExtensionProcess.h"
#include "ExtensionKit/ExtensionSandbox.h"
#include "TestExtensions.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using TestExtensions::ScopedEnvironment;
using TestExtensions::ScratchFolder;

namespace {

// A listening socket the extension must not reach; it remembers whether anything arrived.
class Listener {
public:
  Listener(int family, int type, const sockaddr* address, socklen_t length) {
    fd_ = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(::bind(fd_, address, length), 0) << std::strerror(errno);
    if (type == SOCK_STREAM) {
      EXPECT_EQ(::listen(fd_, 8), 0);
    }
    stream_ = type == SOCK_STREAM;
  }
  ~Listener() { ::close(fd_); }
  int port() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
  }
  bool receivedAnything() const {
    char byte;
    const int got = stream_ ? ::accept(fd_, nullptr, nullptr) : ::recv(fd_, &byte, 1, 0);
    return got >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
  }

private:
  int fd_ = -1;
  bool stream_ = false;
};

sockaddr_in loopback() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

sockaddr_un unixAddress(const std::string& name, bool abstract, socklen_t& length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + (abstract ? 1 : 0), name.data(), name.size());
  length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) + name.size());
  return address;
}

// Every entry under `folder` whose name holds `tag`, with what could change about it.
std::map<std::string, std::string> snapshot(const fs::path& folder, const std::string& tag) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(tag) == std::string::npos)
      continue;
    struct stat info {};
    ::lstat(entry.path().c_str(), &info);
    std::ostringstream state;
    state << info.st_mode << " " << info.st_size << " " << info.st_mtim.tv_sec << "."
          << info.st_mtim.tv_nsec << " " << info.st_ino;
    entries[name] = state.str();
  }
  return entries;
}

// The session bus the extension must not reach: the one the tests run under, or else a private
// one started for the test when dbus-daemon is installed.
class SessionBus {
public:
  explicit SessionBus(const fs::path& folder) {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS"))
      return;
    const fs::path socket = folder / "session-bus";
    const std::string address = "--address=unix:path=" + socket.string();
    char* argv[] = {const_cast<char*>("dbus-daemon"),   const_cast<char*>("--session"),
                    const_cast<char*>("--nofork"),      const_cast<char*>("--nopidfile"),
                    const_cast<char*>(address.c_str()), nullptr};
    if (::posix_spawnp(&daemon_, "dbus-daemon", nullptr, nullptr, argv, environ) != 0) {
      daemon_ = -1;
      return;
    }
    for (int i = 0; i < 500 && !fs::exists(socket); ++i)
      ::usleep(10000);
    address_.emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket.string());
  }
  ~SessionBus() {
    if (daemon_ > 0) {
      ::kill(daemon_, SIGTERM);
      ::waitpid(daemon_, nullptr, 0);
    }
  }
  bool available() const { return std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr; }

private:
  pid_t daemon_ = -1;
  std::optional<ScopedEnvironment> address_;
};

class ExtensionSandboxTest : public testing::Test {
protected:
  void SetUp() override {
    tag_ = std::to_string(::getpid()) + "-" + std::to_string(++counter_);
    home_ = std::getenv("HOME") ? fs::path(std::getenv("HOME")) : fs::path();
    folders_ = {{"tmp", "/tmp"}, {"beside", document_.path()}};
    if (!home_.empty() && fs::is_directory(home_))
      folders_["home"] = home_;
    for (const auto& [label, folder] : folders_) {
      std::ofstream(folder / ("lumivale-victim-" + tag_)) << "victim\n";
      fs::create_directory(folder / ("lumivale-victim-dir-" + tag_));
    }
    char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("120"), nullptr};
    ASSERT_EQ(::posix_spawnp(&victim_, "sleep", nullptr, nullptr, argv, environ), 0);
  }
  void TearDown() override {
    ::kill(victim_, SIGKILL);
    ::waitpid(victim_, nullptr, 0);
    for (const auto& [label, folder] : folders_)
      for (const auto& [name, state] : snapshot(folder, tag_)) {
        std::error_code ec;
        fs::remove_all(folder / name, ec);
      }
    std::error_code ec;
    fs::remove("/tmp/lumivale-moved-" + tag_, ec);
  }

  // Runs HostileLens once and returns its report: probe name to "ok" or "denied <errno>",
  // "state <name>" to the value.
  std::map<std::string, std::string> runHostileLens() {
    sockaddr_in tcpAddress = loopback();
    Listener tcp(AF_INET, SOCK_STREAM, reinterpret_cast<sockaddr*>(&tcpAddress), sizeof tcpAddress);
    sockaddr_in udpAddress = loopback();
    Listener udp(AF_INET, SOCK_DGRAM, reinterpret_cast<sockaddr*>(&udpAddress), sizeof udpAddress);
    socklen_t length = 0;
    const std::string unixPath = (document_.path() / ("listener-" + tag_ + ".sock")).string();
    sockaddr_un unixSocket = unixAddress(unixPath, false, length);
    Listener named(AF_UNIX, SOCK_STREAM, reinterpret_cast<sockaddr*>(&unixSocket), length);
    const std::string abstractName = "lumivale-probe-" + tag_;
    sockaddr_un abstractSocket = unixAddress(abstractName, true, length);
    Listener abstract(AF_UNIX, SOCK_STREAM, reinterpret_cast<sockaddr*>(&abstractSocket), length);

    const fs::path config = document_.path() / ("probe-" + tag_ + ".txt");
    {
      std::ofstream out(config);
      out << "tag " << tag_ << "\n";
      for (const auto& [label, folder] : folders_)
        out << "folder." << label << " " << folder.string() << "\n";
      out << "tcp " << tcp.port() << "\nudp " << udp.port() << "\nunix " << unixPath
          << "\nabstract " << abstractName << "\nvictim " << victim_ << "\n";
    }
    std::map<std::string, std::map<std::string, std::string>> before;
    for (const auto& [label, folder] : folders_)
      before[label] = snapshot(folder, tag_);

    SessionBus bus(document_.path());
    const bool busAvailable = bus.available();
    ExtensionProcess::Options options;
    options.launcher = TestExtensions::launcher();
    PreviewWire::Reply reply;
    {
      ExtensionProcess process("HostileLens", TestExtensions::executable("HostileLens"), options);
      reply = process.request(config.string()).get();
    }
    EXPECT_FALSE(reply.error) << reply.error->localizedDescription;

    for (const auto& [label, folder] : folders_)
      EXPECT_EQ(snapshot(folder, tag_), before[label]) << "the file system changed in " << folder;
    EXPECT_FALSE(fs::exists("/tmp/lumivale-moved-" + tag_));
    EXPECT_FALSE(tcp.receivedAnything()) << "the TCP server was reached";
    EXPECT_FALSE(udp.receivedAnything()) << "the UDP server was reached";
    EXPECT_FALSE(named.receivedAnything()) << "the Unix socket was reached";
    EXPECT_FALSE(abstract.receivedAnything()) << "the abstract Unix socket was reached";
    EXPECT_EQ(::waitpid(victim_, nullptr, WNOHANG), 0) << "the victim process was killed";

    std::map<std::string, std::string> report;
    std::istringstream lines(reply.data);
    std::string line;
    while (std::getline(lines, line)) {
      const auto space = line.find(' ', line.rfind("state ", 0) == 0 ? 6 : 0);
      report[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    if (busAvailable)
      EXPECT_EQ(report.count("net.session-bus"), 1u) << "the session bus was not tried";
    else
      std::cout << "(no session bus to try: dbus-daemon is not installed)\n";
    return report;
  }

  void expectEverythingDenied(const std::map<std::string, std::string>& report) {
    int probes = 0;
    for (const auto& [name, result] : report) {
      if (name.rfind("state ", 0) == 0)
        continue;
      ++probes;
      EXPECT_THAT(result, testing::StartsWith("denied ")) << name << " succeeded";
    }
    // 19 per folder (tmp, beside, maybe home) and 22 or more for network and processes.
    EXPECT_GE(probes, 2 * 19 + 22);
    // The calls only the filter refuses are refused by it.
    for (const char* name :
         {"net.tcp-connect", "net.udp-send", "net.unix-connect", "net.socketpair", "net.io_uring",
          "proc.fork", "proc.ptrace-attach", "proc.unshare-user", "proc.add-key", "proc.keyctl",
          "proc.bpf", "proc.signal-victim", "proc.signal-everyone"})
      EXPECT_EQ(report.at(name), "denied EPERM") << name;
    if (report.count("net.session-bus")) {
      EXPECT_EQ(report.at("net.session-bus"), "denied EPERM");
    }
    EXPECT_EQ(report.at("state NoNewPrivs"), "1");
    EXPECT_EQ(report.at("state Seccomp"), "2");
    EXPECT_EQ(report.at("state CapEff"), "0000000000000000");
    EXPECT_EQ(report.at("state fds"), "0,1,2");
    EXPECT_EQ(report.at("state limit-core"), "0");
    EXPECT_EQ(report.at("state limit-fsize"), "0");
    EXPECT_EQ(report.at("state limit-nofile"), "256");
    EXPECT_NE(report.at("state limit-nproc"), "unlimited");
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_EQ(report.at("state limit-as"),
              std::to_string(ExtensionSandbox::Limits{}.addressSpaceBytes));
#endif
  }

  ScratchFolder document_;
  fs::path home_;
  std::map<std::string, fs::path> folders_;
  std::string tag_;
  pid_t victim_ = -1;
  static inline int counter_ = 0;
};

TEST_F(ExtensionSandboxTest, AHostileExtensionCanChangeNothingAndReachNothing) {
  if (ExtensionSandbox::landlockABI() < 1)
    GTEST_SKIP() << "this kernel has no Landlock (the refusal is tested in ExtensionProcessTest)";
  expectEverythingDenied(runHostileLens());
}

// Each older Landlock ABI, as an older kernel would offer it, still leaves nothing possible:
// what it cannot handle the filter refuses.
TEST_F(ExtensionSandboxTest, EveryLandlockVersionTheKernelOffersHoldsAsWell) {
  const int abi = ExtensionSandbox::landlockABI();
  if (abi < 2)
    GTEST_SKIP() << "this kernel offers no older Landlock version to try";
  for (int version = 1; version < abi; ++version) {
    SCOPED_TRACE("Landlock ABI " + std::to_string(version));
    ScopedEnvironment cap(ExtensionSandbox::kLandlockABICapVariable, std::to_string(version));
    expectEverythingDenied(runHostileLens());
    TearDown();
    SetUp();
  }
}

} // namespace
