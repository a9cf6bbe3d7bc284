// xpcproxy: starts one preview extension inside its sandbox. The preview service runs
// `xpcproxy EXECUTABLE` with the request and reply pipes as standard input and output; the
// launcher closes every other descriptor, sets the resource limits, drops privileges, applies
// Landlock and the seccomp filter, and only then executes the extension, which inherits all of
// it. If any step fails the extension is not run at all.
#include "ExtensionKit/ExtensionSandbox.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <unistd.h>

namespace {
constexpr int kCannotSandbox = 71; // EX_OSERR
constexpr int kCannotExecute = 127;
} // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--landlock-abi") == 0) {
    // For scripts: the Landlock ABI the sandbox would use here (0: none).
    std::printf("%d\n", ExtensionSandbox::landlockABI());
    return 0;
  }
  if (argc < 2 || argv[1][0] == '-') {
    std::fputs("usage: xpcproxy EXECUTABLE [ARGUMENT...]\n"
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
