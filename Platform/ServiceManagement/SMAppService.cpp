#include "ServiceManagement/SMAppService.h"

#include "Foundation/Bundle.h"
#include "Foundation/ProcessInfo.h"
#include "ServiceManagement/DesktopEntry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kErrorDomain = "SMAppServiceErrorDomain";
constexpr std::int64_t kLaunchDeniedByUser = 6;
constexpr std::int64_t kEntryNotWritten = 1;

fs::path configHome() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
    return config;
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/") / ".config";
}

std::optional<std::string> readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text;
}

bool isFalse(const std::map<std::string, std::string>& keys, const std::string& key) {
  auto found = keys.find(key);
  return found != keys.end() && found->second == "false";
}
bool isTrue(const std::map<std::string, std::string>& keys, const std::string& key) {
  auto found = keys.find(key);
  return found != keys.end() && found->second == "true";
}

// Temporary file, flushed to disk, renamed over the entry: the desktop never reads half an
// entry. Returns 0 or the errno of the failed step.
int writeAtomically(const fs::path& path, const std::string& text) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec)
    return ec.value();
  const fs::path temporary = path.string() + ".tmp-" + std::to_string(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    return errno;
  std::size_t done = 0;
  int error = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR)
      continue;
    if (written < 0) {
      error = errno;
      break;
    }
    done += static_cast<std::size_t>(written);
  }
  if (!error && ::fsync(fd) != 0)
    error = errno;
  if (::close(fd) != 0 && !error)
    error = errno;
  if (!error && ::rename(temporary.c_str(), path.c_str()) != 0)
    error = errno;
  if (error)
    ::unlink(temporary.c_str());
  return error;
}

} // namespace

SMAppService& SMAppService::mainAppService() {
  static SMAppService* service = [] {
    const Bundle& bundle = Bundle::main();
    const std::string identifier = bundle.bundleIdentifier().value_or("com.lumivale.quicklook");
    const std::string name = bundle.infoString("CFBundleName").value_or(identifier);
    return new SMAppService(configHome() / "autostart" / (identifier + ".desktop"),
                            ProcessInfo::executablePath(), name);
  }();
  return *service;
}

SMAppService::SMAppService(fs::path entryPath, fs::path executable, std::string name)
    : entryPath_(std::move(entryPath)), executable_(std::move(executable)), name_(std::move(name)) {
}

SMAppServiceStatus SMAppService::status() const {
  const std::optional<std::string> text = readText(entryPath_);
  if (!text) {
    std::error_code ec;
    return fs::exists(entryPath_, ec) ? SMAppServiceStatus::notFound
                                      : SMAppServiceStatus::notRegistered;
  }
  const auto keys = DesktopEntry::readMainGroup(*text);
  if (isTrue(keys, "Hidden") || isFalse(keys, "X-GNOME-Autostart-enabled"))
    return SMAppServiceStatus::requiresApproval;
  auto exec = keys.find("Exec");
  if (exec == keys.end())
    return SMAppServiceStatus::notFound;
  const std::optional<std::vector<std::string>> args = DesktopEntry::splitExec(exec->second);
  if (!args || args->empty() || (*args)[0].empty() || (*args)[0][0] != '/' ||
      ::access((*args)[0].c_str(), X_OK) != 0)
    return SMAppServiceStatus::notFound;
  return SMAppServiceStatus::enabled;
}

std::string SMAppService::entryText() const {
  std::ostringstream entry;
  entry << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << name_ << "\n"
        << "Comment=Keeps the Quick Look previews registered and up to date\n"
        << "Exec=" << DesktopEntry::quoteExecArgument(executable_.string()) << ' '
        << ProcessInfo::kLoginItemLaunchArgument << "\n"
        << "Terminal=false\n"
        << "NoDisplay=true\n"
        << "X-GNOME-Autostart-enabled=true\n";
  return entry.str();
}

bool SMAppService::registerAndReturnError(NSError* error) {
  if (status() == SMAppServiceStatus::requiresApproval) {
    if (error)
      *error = {kErrorDomain, kLaunchDeniedByUser,
                name_ + " is turned off in the desktop\u2019s startup applications (" +
                    entryPath_.string() + "). Turn it on there to start it at login."};
    return false;
  }
  if (const int failure = writeAtomically(entryPath_, entryText())) {
    if (error)
      *error = {kErrorDomain, kEntryNotWritten,
                "The login item " + entryPath_.string() +
                    " could not be written: " + std::strerror(failure) + "."};
    return false;
  }
  return true;
}

bool SMAppService::unregisterAndReturnError(NSError* error) {
  if (::unlink(entryPath_.c_str()) != 0 && errno != ENOENT) {
    const int failure = errno;
    if (error)
      *error = {kErrorDomain, kEntryNotWritten,
                "The login item " + entryPath_.string() +
                    " could not be removed: " + std::strerror(failure) + "."};
    return false;
  }
  return true;
}
