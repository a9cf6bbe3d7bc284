#include "Foundation/Subprocess.h"

#include "Foundation/NSError.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Cocoa's texts for a tool that cannot be started, naming the file as the platform does.
NSError launchError(const std::string& executable, int error) {
  const std::string name =
      "\u201c" + std::filesystem::path(executable).filename().string() + "\u201d";
  switch (error) {
  case ENOENT:
  case ENOTDIR:
    return {NSErrorDomain::kCocoa, 4, "The file " + name + " doesn\u2019t exist."};
  case EACCES:
  case EPERM:
    return {NSErrorDomain::kCocoa, 257,
            "The file " + name +
                " couldn\u2019t be opened because you don\u2019t have permission to view it."};
  default:
    return {NSErrorDomain::kPOSIX, error,
            "The file " + name + " couldn\u2019t be started: " + std::strerror(error) + "."};
  }
}

int statusOf(int waitStatus) {
  if (WIFEXITED(waitStatus))
    return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus))
    return WTERMSIG(waitStatus);
  return 1;
}

class Fd {
public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
  }

private:
  int fd_;
};

void keep(std::string& output, const char* data, std::size_t size) {
  const std::size_t room = kSubprocessOutputCap - std::min(output.size(), kSubprocessOutputCap);
  output.append(data, std::min(room, size));
}

} // namespace

SubprocessResult runSubprocess(const std::string& executable,
                               const std::vector<std::string>& arguments,
                               std::chrono::milliseconds timeLimit) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    throw NSErrorException(launchError(executable, errno));
  Fd readEnd(fds[0]);
  Fd writeEnd(fds[1]);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(executable.c_str()));
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
  pid_t pid = 0;
  const int error =
      ::posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  if (error != 0)
    throw NSErrorException(launchError(executable, error));

  // Read while the child runs, so a tool that writes more than the pipe holds never stalls.
  // A descendant that keeps the pipe open past the tool's exit must not hold us either: once
  // the child has exited, what is still buffered is read and the rest is left.
  SubprocessResult result;
  bool exited = false;
  int waitStatus = 0;
  int readsAfterExit = 0;
  bool killed = false;
  const auto deadline = std::chrono::steady_clock::now() + timeLimit;
  char buffer[65536];
  for (;;) {
    if (exited && ++readsAfterExit > 64)
      break; // a descendant still writing after the tool ended is not waited for
    if (!exited && ::waitpid(pid, &waitStatus, WNOHANG) == pid)
      exited = true;
    if (!exited && !killed && std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
    pollfd entry{readEnd.get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, exited ? 0 : 100);
    if (ready < 0 && errno != EINTR)
      break;
    if (ready > 0) {
      const ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
      if (got > 0) {
        keep(result.output, buffer, static_cast<std::size_t>(got));
        continue;
      }
      if (got == 0 || (errno != EINTR && errno != EAGAIN))
        break; // end of output
      continue;
    }
    if (exited)
      break; // the child is gone and nothing more is buffered
  }
  if (!exited) {
    while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
  }
  result.terminationStatus = statusOf(waitStatus);
  return result;
}
