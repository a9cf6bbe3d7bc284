// HostileLens: a test extension that tries, on every request, everything its sandbox must
// prevent, and reports each attempt as one line of its page: "<probe> ok" when it succeeded,
// "<probe> denied <errno name>" when it failed. The document is a list of "key value" lines
// from the test harness: folders to attack with their victim files, the loopback servers, and
// a process to signal. A few lines also report the sandbox's state ("state <name> <value>").
#include "QuickLook/ExtensionMain.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

class Report {
public:
  // Records whether `result` (a system call's return value) means success.
  void probe(const std::string& name, long result) {
    const int err = errno;
    out_ << name << (result >= 0 ? " ok" : std::string(" denied ") + strerrorname_np(err)) << "\n";
  }
  void state(const std::string& name, const std::string& value) {
    out_ << "state " << name << " " << value << "\n";
  }
  std::string text() const { return out_.str(); }

private:
  std::ostringstream out_;
};

std::multimap<std::string, std::string> readConfig(const std::string& path) {
  std::multimap<std::string, std::string> config;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line))
    if (auto space = line.find(' '); space != std::string::npos)
      config.emplace(line.substr(0, space), line.substr(space + 1));
  return config;
}

std::string value(const std::multimap<std::string, std::string>& config, const std::string& key) {
  auto it = config.find(key);
  return it == config.end() ? std::string() : it->second;
}

// Everything that would create, change or remove something in `folder`, which holds the file
// victim-<tag> and the empty folder victim-dir-<tag>.
void attackFolder(Report& report, const std::string& label, const std::string& folder,
                  const std::string& tag) {
  const std::string victim = folder + "/lumivale-victim-" + tag;
  const std::string victimDir = folder + "/lumivale-victim-dir-" + tag;
  const std::string fresh = folder + "/lumivale-new-" + tag;
  auto name = [&](const char* what) { return label + "." + what; };

  int fd = ::open(fresh.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
  report.probe(name("create-file"), fd);
  if (fd >= 0)
    ::close(fd);
  report.probe(name("create-dir"), ::mkdir((fresh + "-dir").c_str(), 0755));
  report.probe(name("create-fifo"), ::mkfifo((fresh + "-fifo").c_str(), 0644));
  report.probe(name("create-symlink"), ::symlink("/etc/passwd", (fresh + "-link").c_str()));
  report.probe(name("create-hardlink"), ::link(victim.c_str(), (fresh + "-hard").c_str()));
  fd = ::open(victim.c_str(), O_WRONLY | O_APPEND);
  report.probe(name("open-for-writing"), fd);
  if (fd >= 0) {
    report.probe(name("write"), ::write(fd, "x", 1));
    report.probe(name("ftruncate"), ::ftruncate(fd, 0));
    ::close(fd);
  }
  fd = ::open(victim.c_str(), O_WRONLY | O_TRUNC);
  report.probe(name("open-truncating"), fd);
  if (fd >= 0)
    ::close(fd);
  report.probe(name("truncate"), ::truncate(victim.c_str(), 0));
  report.probe(name("chmod"), ::chmod(victim.c_str(), 0777));
  report.probe(name("utimes"), ::utimensat(AT_FDCWD, victim.c_str(), nullptr, 0));
  report.probe(name("setxattr"), ::setxattr(victim.c_str(), "user.lumivale", "x", 1, 0));
  report.probe(name("rename"), ::rename(victim.c_str(), (fresh + "-renamed").c_str()));
  report.probe(name("rename-to-tmp"),
               ::rename(victim.c_str(), ("/tmp/lumivale-moved-" + tag).c_str()));
  report.probe(name("rename-dir"), ::rename(victimDir.c_str(), (fresh + "-renamed-dir").c_str()));
  report.probe(name("delete"), ::unlink(victim.c_str()));
  report.probe(name("delete-dir"), ::rmdir(victimDir.c_str()));
}

long connectTo(int family, int type, const sockaddr* address, socklen_t length) {
  const int fd = ::socket(family, type | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  const long result = type == SOCK_DGRAM ? ::sendto(fd, "probe", 5, 0, address, length)
                                         : ::connect(fd, address, length);
  const int err = errno;
  ::close(fd);
  errno = err;
  return result;
}

long connectUnix(const std::string& path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  std::memcpy(address.sun_path + offset, path.data(),
              std::min(path.size(), sizeof address.sun_path - 1 - offset));
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  return connectTo(AF_UNIX, SOCK_STREAM, reinterpret_cast<sockaddr*>(&address), length);
}

void attackNetwork(Report& report, const std::multimap<std::string, std::string>& config) {
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  loopback.sin_port = htons(static_cast<std::uint16_t>(std::atoi(value(config, "tcp").c_str())));
  report.probe(
      "net.tcp-connect",
      connectTo(AF_INET, SOCK_STREAM, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback));
  loopback.sin_port = htons(static_cast<std::uint16_t>(std::atoi(value(config, "udp").c_str())));
  report.probe("net.udp-send", connectTo(AF_INET, SOCK_DGRAM,
                                         reinterpret_cast<sockaddr*>(&loopback), sizeof loopback));
  report.probe("net.tcp-listen", ::socket(AF_INET6, SOCK_STREAM, 0));
  report.probe("net.unix-connect", connectUnix(value(config, "unix"), false));
  report.probe("net.unix-abstract-connect", connectUnix(value(config, "abstract"), true));
  // The session bus, wherever its address says it is.
  if (const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    std::string address = bus;
    if (auto at = address.find("unix:path="); at != std::string::npos)
      report.probe(
          "net.session-bus",
          connectUnix(address.substr(at + 10, address.find_first_of(",;", at) - at - 10), false));
    else if (auto at = address.find("unix:abstract="); at != std::string::npos)
      report.probe(
          "net.session-bus",
          connectUnix(address.substr(at + 14, address.find_first_of(",;", at) - at - 14), true));
  }
  struct stat info {};
  if (::stat("/run/dbus/system_bus_socket", &info) == 0)
    report.probe("net.system-bus", connectUnix("/run/dbus/system_bus_socket", false));
  int pair[2];
  report.probe("net.socketpair", ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  report.probe("net.netlink", ::socket(AF_NETLINK, SOCK_RAW, 0));
  report.probe("net.io_uring", ::syscall(SYS_io_uring_setup, 1, nullptr));
}

void attackProcesses(Report& report, const std::multimap<std::string, std::string>& config) {
  const pid_t victim = static_cast<pid_t>(std::atoi(value(config, "victim").c_str()));
  report.probe("proc.signal-victim", ::kill(victim, SIGTERM));
  report.probe("proc.sigqueue-victim", ::syscall(SYS_rt_sigqueueinfo, victim, SIGTERM, nullptr));
  report.probe("proc.signal-parent", ::kill(::getppid(), 0));
  report.probe("proc.signal-group", ::kill(0, 0));
  report.probe("proc.signal-everyone", ::kill(-1, 0));
  report.probe("proc.ptrace-attach", ::ptrace(PTRACE_ATTACH, victim, nullptr, nullptr));
  report.probe("proc.pidfd-open", ::syscall(SYS_pidfd_open, victim, 0));
  const pid_t child = ::fork();
  if (child == 0)
    ::_exit(0);
  if (child > 0)
    ::waitpid(child, nullptr, 0);
  report.probe("proc.fork", child);
  report.probe("proc.unshare-user", ::unshare(CLONE_NEWUSER));
  report.probe("proc.unshare-net", ::unshare(CLONE_NEWNET));
  report.probe("proc.setns", ::setns(0, 0));
  report.probe("proc.add-key",
               ::syscall(SYS_add_key, "user", "lumivale", "x", 1, -2 /* process */));
  report.probe("proc.keyctl", ::syscall(SYS_keyctl, 0 /* get keyring id */, -2, 0));
  report.probe("proc.bpf", ::syscall(SYS_bpf, 0, nullptr, 0));
  const int mem = ::open(("/proc/" + std::to_string(victim) + "/mem").c_str(), O_RDWR);
  report.probe("proc.victim-memory", mem);
  if (mem >= 0)
    ::close(mem);
}

void reportState(Report& report) {
  {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      for (const char* key : {"NoNewPrivs:", "Seccomp:", "CapEff:", "CapBnd:"})
        if (line.rfind(key, 0) == 0) {
          std::string value = line.substr(std::strlen(key));
          value.erase(0, value.find_first_not_of(" \t"));
          report.state(std::string(key, std::strlen(key) - 1), value);
        }
  }
  std::string descriptors;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    const int own = ::dirfd(dir);
    while (dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != own)
        descriptors += std::string(descriptors.empty() ? "" : ",") + entry->d_name;
    ::closedir(dir);
  }
  report.state("fds", descriptors);
  for (auto [name, resource] : {std::pair{"core", RLIMIT_CORE},
                                {"fsize", RLIMIT_FSIZE},
                                {"nofile", RLIMIT_NOFILE},
                                {"as", RLIMIT_AS},
                                {"nproc", RLIMIT_NPROC}}) {
    rlimit limit{};
    ::getrlimit(resource, &limit);
    report.state(std::string("limit-") + name,
                 limit.rlim_cur == RLIM_INFINITY ? "unlimited" : std::to_string(limit.rlim_cur));
  }
}

class HostileProvider : public QLPreviewProvider {
public:
  void providePreview(const QLFilePreviewRequest& request,
                      QLPreviewCompletionHandler completionHandler) override {
    const std::string document = request.fileURL.path();
    const auto config = readConfig(document);
    const std::string tag = value(config, "tag");
    Report report;
    reportState(report);
    for (const auto& [key, folder] : config)
      if (key.rfind("folder.", 0) == 0)
        attackFolder(report, key.substr(7), folder, tag);
    attackNetwork(report, config);
    attackProcesses(report, config);
    const std::string page = report.text();
    QLPreviewReply reply(UTType::html, {100, 100}, [page](QLPreviewReply&) { return page; });
    completionHandler(std::move(reply), std::nullopt);
  }
};

} // namespace

int main() {
  // A write past the file-size limit then fails instead of ending the process, so every probe
  // runs even without the file-system sandbox.
  std::signal(SIGXFSZ, SIG_IGN);
  QLExtensionMain(std::make_shared<HostileProvider>());
}
