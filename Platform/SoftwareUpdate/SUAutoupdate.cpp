#include "SoftwareUpdate/SUAutoupdate.h"

#include "SoftwareUpdate/SUInstaller.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

void log(const std::string& message) {
  std::fprintf(stderr, "Autoupdate: %s\n", message.c_str());
}

bool processExists(pid_t pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// Starts `executable` in its own session; 0 when it cannot be started.
pid_t start(const fs::path& executable) {
  std::string path = executable.string();
  char* argv[] = {path.data(), nullptr};
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int status = posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (status != 0) {
    log("cannot start " + path + ": " + std::strerror(status));
    return 0;
  }
  return pid;
}

// True when the child is still running at the end of the window or ended with status 0.
bool startedWell(pid_t child, std::chrono::milliseconds window) {
  auto deadline = std::chrono::steady_clock::now() + window;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child)
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0)
      return false;
    if (std::chrono::steady_clock::now() >= deadline)
      return true;
    std::this_thread::sleep_for(50ms);
  }
}

void removeStaging(const fs::path& staging) {
  std::error_code ec;
  fs::remove_all(staging, ec);
  if (ec)
    log("cannot remove " + staging.string() + ": " + ec.message());
}

} // namespace

int SUAutoupdateRun(const SUAutoupdatePlan& plan) {
  auto deadline = std::chrono::steady_clock::now() + plan.quitTimeout;
  while (processExists(plan.waitPid)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      // The new version stays installed; it starts with the application's next launch.
      log("the application did not quit; the update will take effect at its next launch");
      removeStaging(plan.staging);
      return 1;
    }
    std::this_thread::sleep_for(100ms);
  }

  pid_t child = start(plan.installed / plan.executable);
  if (child && startedWell(child, plan.startWindow)) {
    removeStaging(plan.staging);
    return 0;
  }
  // The new version does not start: put the previous one back and start that instead.
  log("the updated application did not start; restoring the previous version");
  if (auto error = SUInstaller::exchange(plan.installed, plan.old)) {
    log(*error);
    return 1;
  }
  removeStaging(plan.staging);
  start(plan.installed / plan.executable);
  return 1;
}

int SUAutoupdateMain(int argc, char** argv) {
  SUAutoupdatePlan plan;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string_view option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--pid")
      plan.waitPid = static_cast<pid_t>(std::atol(value));
    else if (option == "--installed")
      plan.installed = value;
    else if (option == "--old")
      plan.old = value;
    else if (option == "--staging")
      plan.staging = value;
    else if (option == "--executable")
      plan.executable = value;
    else {
      log("unknown option " + std::string(option));
      return 64;
    }
  }
  if (argc % 2 == 0 || plan.installed.empty() || plan.old.empty() || plan.staging.empty() ||
      plan.executable.empty() || plan.executable.is_absolute()) {
    log("usage: Autoupdate --pid PID --installed BUNDLE --old BUNDLE --staging FOLDER "
        "--executable RELATIVE-PATH");
    return 64;
  }
  // The old bundle must live inside the staging folder that is removed at the end.
  auto relative = plan.old.lexically_normal().lexically_relative(plan.staging.lexically_normal());
  if (relative.empty() || *relative.begin() == "..") {
    log("the old bundle is not inside the staging folder");
    return 64;
  }
  return SUAutoupdateRun(plan);
}
