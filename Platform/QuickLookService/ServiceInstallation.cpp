#include "QuickLookService/ServiceInstallation.h"

#include "QuickLookService/PreviewServiceNames.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace ServiceInstallation {
namespace {

// The bus splits Exec like a shell word list: quote the path, escaping what a quote needs.
std::string quotedForExec(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\' || c == '`' || c == '$')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

} // namespace

fs::path dataHome() {
  if (const char* home = std::getenv("XDG_DATA_HOME"); home && *home == '/')
    return home;
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/") / ".local" / "share";
}

fs::path serviceFilePath(const fs::path& dataHome) {
  return serviceFilePath(dataHome, PreviewServiceNames::kService);
}

fs::path serviceFilePath(const fs::path& dataHome, const std::string& serviceName) {
  return dataHome / "dbus-1" / "services" / (serviceName + ".service");
}

fs::path installServiceFile(const fs::path& dataHome, const fs::path& serverExecutable) {
  return installServiceFile(dataHome, PreviewServiceNames::kService, serverExecutable);
}

fs::path installServiceFile(const fs::path& dataHome, const std::string& serviceName,
                            const fs::path& serverExecutable) {
  const std::string executable = fs::absolute(serverExecutable).lexically_normal().string();
  if (executable.find_first_of("\n\r") != std::string::npos)
    throw std::runtime_error("the server's path cannot be written in a service file");
  const fs::path target = serviceFilePath(dataHome, serviceName);
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  const std::string text =
      "[D-BUS Service]\nName=" + serviceName + "\nExec=" + quotedForExec(executable) + "\n";
  std::string temporary = target.string() + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0)
    throw std::runtime_error("cannot write " + target.string() + ": " + std::strerror(errno));
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                       ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    throw std::runtime_error("cannot write " + target.string());
  }
  return target;
}

bool uninstallServiceFile(const fs::path& dataHome) {
  return uninstallServiceFile(dataHome, PreviewServiceNames::kService);
}

bool uninstallServiceFile(const fs::path& dataHome, const std::string& serviceName) {
  std::error_code ec;
  return fs::remove(serviceFilePath(dataHome, serviceName), ec);
}

} // namespace ServiceInstallation
