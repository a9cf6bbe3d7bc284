// xpcproxy: starts one preview extension inside its sandbox. The preview service runs
// `xpcproxy [--parent PID] EXECUTABLE` with the request and reply pipes as standard input and
// output; with --parent the extension is killed when that process (its host) ends, however it
// ends, so that a hung extension never outlives a killed host. The launcher closes every other
// descriptor, sets the resource limits, drops privileges, applies
// Landlock and the seccomp filter, and only then executes the extension, which inherits all of
// it. If any step fails the extension is not run at all.
#include "ExtensionKit/ExtensionSandbox.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <sys/prctl.h>
#include <unistd.h>

namespace {
constexpr int kCannotSandbox = 71; // EX_OSERR
constexpr int kCannotExecute = 127;
constexpr int kHostGone = 75; // EX_TEMPFAIL

// Has the kernel kill this process (and the extension it becomes) when `parent` ends. The
// setting survives execve; the check after it catches a parent that ended before it was made.
bool dieWithParent(const char* parentText) {
  char* end = nullptr;
  const long parent = std::strtol(parentText, &end, 10);
  if (!*parentText || *end || parent <= 1)
    return false;
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
    return false;
  return ::getppid() == static_cast<pid_t>(parent);
}
} // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--parent") == 0) {
    if (!dieWithParent(argv[2])) {
      std::fprintf(stderr, "xpcproxy: not started: its host %s has ended or is not its parent\n",
                   argv[2]);
      return kHostGone;
    }
    argv[2] = argv[0];
    argv += 2;
    argc -= 2;
  }
  if (argc == 2 && std::strcmp(argv[1], "--landlock-abi") == 0) {
    // For scripts: the Landlock ABI the sandbox would use here (0: none).
    std::printf("%d\n", ExtensionSandbox::landlockABI());
    return 0;
  }
  if (argc < 2 || argv[1][0] == '-') {
    std::fputs("usage: xpcproxy [--parent PID] EXECUTABLE [ARGUMENT...]\n"
               "       xpcproxy --landlock-abi\n",
               stderr);
    return 2;
  }
  try {
    ExtensionSandbox::enter(ExtensionSandbox::Limits{});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "xpcproxy: %s was not started: %s\n", argv[1], e.what());
    return kCannotSandbox;
  }
  ::execv(argv[1], argv + 1);
  std::fprintf(stderr, "xpcproxy: cannot execute %s: %s\n", argv[1], std::strerror(errno));
  return kCannotExecute;
}
