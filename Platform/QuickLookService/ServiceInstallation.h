// ServiceInstallation: the session bus's activation file for the preview server, so that the
// bus starts the server on the first request. Written by the registration tool.
#pragma once

#include <filesystem>

namespace ServiceInstallation {

// $XDG_DATA_HOME (else ~/.local/share).
std::filesystem::path dataHome();

// The file's path under `dataHome`: dbus-1/services/<service name>.service.
std::filesystem::path serviceFilePath(const std::filesystem::path& dataHome);

// Writes the activation file naming `serverExecutable` (made absolute), atomically (temporary
// file, rename). Returns its path; throws std::runtime_error when it cannot be written.
std::filesystem::path installServiceFile(const std::filesystem::path& dataHome,
                                         const std::filesystem::path& serverExecutable);

// Removes it; false when there was none.
bool uninstallServiceFile(const std::filesystem::path& dataHome);

} // namespace ServiceInstallation
