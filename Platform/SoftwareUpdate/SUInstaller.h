// SUInstaller: the file-system steps of an installation. A staging folder beside the installed
// bundle (same file system) receives the unpacked update; the new bundle is checked, then
// exchanged with the installed one in a single rename, so the installed path always holds a
// complete bundle. The old bundle stays in the staging folder until the relaunch helper has
// seen the new version start (see SUAutoupdate).
#pragma once

#include "SoftwareUpdate/SPUUpdaterConfiguration.h"
#include "SoftwareUpdate/SUAppcastItem.h"

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace SUInstaller {

// A new, empty, private folder <parent>/.<bundle name>.update-XXXXXX; nullopt with `error` set
// when it cannot be made.
std::optional<std::filesystem::path> makeStagingFolder(const std::filesystem::path& bundle,
                                                       std::string& error);

// The bundle inside `unpacked` that may replace the installed one: a single <name>.app folder
// whose Info.plist has the installed bundle's identifier, a version newer than the installed
// one, and the executable to relaunch. nullopt with `error` set otherwise.
std::optional<std::filesystem::path> findUpdatedBundle(const std::filesystem::path& unpacked,
                                                       const SPUUpdaterConfiguration& installed,
                                                       std::string& error);

// Exchanges the two paths in one atomic rename (both must exist on the same file system).
std::optional<std::string> exchange(const std::filesystem::path& a, const std::filesystem::path& b);

// Starts the relaunch helper `tool` in its own session: once process `waitPid` has ended it
// starts `installed`/`executable`, and removes `staging` (holding the old bundle at `old`) when
// the new version has started, or swaps the old bundle back when it has not.
std::optional<std::string> launchRelauncher(const std::filesystem::path& tool, pid_t waitPid,
                                            const std::filesystem::path& installed,
                                            const std::filesystem::path& old,
                                            const std::filesystem::path& staging,
                                            const std::filesystem::path& executable);

} // namespace SUInstaller
