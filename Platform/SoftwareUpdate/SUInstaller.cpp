#include "SoftwareUpdate/SUInstaller.h"

#include "Foundation/PropertyList.h"
#include "SoftwareUpdate/SUStandardVersionComparator.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

std::optional<fs::path> SUInstaller::makeStagingFolder(const fs::path& bundle, std::string& error) {
  fs::path parent = bundle.parent_path();
  std::string pattern = (parent / ("." + bundle.filename().string() + ".update-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) {
    error = "Cannot create a folder for the update beside " + bundle.string() + ": " +
            std::strerror(errno) + ".";
    return std::nullopt;
  }
  return fs::path(pattern);
}

std::optional<fs::path> SUInstaller::findUpdatedBundle(const fs::path& unpacked,
                                                       const SPUUpdaterConfiguration& installed,
                                                       std::string& error) {
  std::error_code ec;
  std::vector<fs::path> bundles;
  for (const fs::directory_entry& entry : fs::directory_iterator(unpacked, ec))
    if (entry.path().extension() == ".app" && entry.is_directory(ec) && !entry.is_symlink(ec))
      bundles.push_back(entry.path());
  fs::path bundle;
  fs::path sameName = unpacked / installed.bundlePath.filename();
  if (fs::is_directory(fs::symlink_status(sameName, ec)))
    bundle = sameName;
  else if (bundles.size() == 1)
    bundle = bundles.front();
  else {
    error = bundles.empty() ? "The update archive holds no application bundle."
                            : "The update archive holds more than one application bundle.";
    return std::nullopt;
  }

  fs::path infoPath = bundle / "Contents" / "Info.plist";
  if (!fs::is_regular_file(fs::symlink_status(infoPath, ec))) {
    error = "The updated application has no Contents/Info.plist.";
    return std::nullopt;
  }
  std::optional<PropertyList> info;
  try {
    info = PropertyList::readFile(infoPath.string());
  } catch (const std::exception&) {
  }
  const std::string* version = info ? info->valueAtPath({"CFBundleVersion"})
                                          ? info->valueAtPath({"CFBundleVersion"})->asString()
                                          : nullptr
                                    : nullptr;
  if (!version || version->empty()) {
    error = "The updated application's Info.plist has no CFBundleVersion.";
    return std::nullopt;
  }
  if (SUStandardVersionComparator::compareVersions(*version, installed.bundleVersion) <= 0) {
    error = "The update (version " + *version + ") is not newer than the installed version " +
            installed.bundleVersion + ".";
    return std::nullopt;
  }
  if (!installed.bundleIdentifier.empty()) {
    const PropertyList* identifier = info->valueAtPath({"CFBundleIdentifier"});
    if (!identifier || !identifier->asString() ||
        *identifier->asString() != installed.bundleIdentifier) {
      error = "The update is a different application (its bundle identifier is not " +
              installed.bundleIdentifier + ").";
      return std::nullopt;
    }
  }
  fs::path executable = bundle / installed.relaunchExecutable;
  fs::file_status status = fs::symlink_status(executable, ec);
  if (installed.relaunchExecutable.empty() || !fs::is_regular_file(status) ||
      access(executable.c_str(), X_OK) != 0) {
    error =
        "The updated application has no executable " + installed.relaunchExecutable.string() + ".";
    return std::nullopt;
  }
  return bundle;
}

std::optional<std::string> SUInstaller::exchange(const fs::path& a, const fs::path& b) {
  if (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) != 0)
    return "Cannot swap " + a.string() + " and " + b.string() + ": " + std::strerror(errno) + ".";
  return std::nullopt;
}

std::optional<std::string> SUInstaller::launchRelauncher(const fs::path& tool, pid_t waitPid,
                                                         const fs::path& installed,
                                                         const fs::path& old,
                                                         const fs::path& staging,
                                                         const fs::path& executable) {
  std::vector<std::string> arguments = {
      tool.string(), "--pid", std::to_string(waitPid), "--installed", installed, "--old", old,
      "--staging",   staging, "--executable",          executable};
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int status = posix_spawn(&pid, tool.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (status != 0)
    return "Cannot start the update helper " + tool.string() + ": " + std::strerror(status) + ".";
  return std::nullopt;
}
