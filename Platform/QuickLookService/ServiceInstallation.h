// ServiceInstallation: the session bus's activation files for the per-user services (the
// preview server, the panel agent), so that the bus starts each on its first request. Written
// by the registration tool.
#pragma once

#include <filesystem>
#include <string>

namespace ServiceInstallation {

// $XDG_DATA_HOME (else ~/.local/share).
std::filesystem::path dataHome();

// The file's path under `dataHome`: dbus-1/services/<service name>.service (by default the
// preview server's).
std::filesystem::path serviceFilePath(const std::filesystem::path& dataHome);
std::filesystem::path serviceFilePath(const std::filesystem::path& dataHome,
                                      const std::string& serviceName);

// Writes the activation file naming `executable` (made absolute), atomically (temporary
// file, rename). Returns its path; throws std::runtime_error when it cannot be written.
std::filesystem::path installServiceFile(const std::filesystem::path& dataHome,
                                         const std::filesystem::path& serverExecutable);
std::filesystem::path installServiceFile(const std::filesystem::path& dataHome,
                                         const std::string& serviceName,
                                         const std::filesystem::path& executable);

// Removes it; false when there was none.
bool uninstallServiceFile(const std::filesystem::path& dataHome);
bool uninstallServiceFile(const std::filesystem::path& dataHome, const std::string& serviceName);

} // namespace ServiceInstallation
