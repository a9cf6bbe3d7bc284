#include "QuickLook/SandboxCheck.h"

#include <fstream>

std::optional<std::string> sandboxProblem() {
  std::ifstream status("/proc/self/status");
  if (!status)
    return "its state cannot be read";
  bool noNewPrivileges = false, filtered = false;
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("NoNewPrivs:", 0) == 0)
      noNewPrivileges = line.find('1') != std::string::npos;
    else if (line.rfind("Seccomp:", 0) == 0)
      filtered = line.find('2') != std::string::npos;
  }
  if (!noNewPrivileges)
    return "it may gain privileges";
  if (!filtered)
    return "it has no system-call filter";
  return std::nullopt;
}
