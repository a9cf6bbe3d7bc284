// DesktopIntegration: what registration tells the desktop. A desktop entry that offers
// "Open With <application>" for the types the application's previews serve (never making itself
// the default), a shared-mime-info package for the declared types the system does not know yet,
// and the runs of update-mime-database and update-desktop-database that make both visible.
#pragma once

#include "LaunchServices/TypeDeclaration.h"

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace DesktopIntegration {

// The text of the desktop entry: `name` opens files with `previewTool -p %F`. Throws
// std::invalid_argument when the tool path is not UTF-8 (a desktop entry cannot name it).
std::string desktopEntryText(const std::string& name, const std::filesystem::path& previewTool,
                             const std::vector<std::string>& mimeTypes);

// The MIME type of a content type identifier: its declaration's first MIME type, else the
// system type table's; empty when neither has one.
std::string mimeTypeFor(const std::string& contentType,
                        const std::vector<TypeDeclaration>& declarations);

// Every MIME type and alias the system MIME database knows (the compiled "types" and "aliases"
// files under <folder>/mime for each of `dataDirs`).
std::set<std::string> systemMIMETypes(const std::vector<std::filesystem::path>& dataDirs);

// A shared-mime-info package for the declarations with MIME types and file-name extensions
// whose MIME types `known` lacks; empty text when there are none.
std::string mimePackageText(const std::vector<TypeDeclaration>& declarations,
                            const std::set<std::string>& known);

// A desktop file ID made from a bundle identifier: characters outside [A-Za-z0-9._-] become '_'.
std::string desktopFileID(const std::string& bundleIdentifier);

// Runs update-mime-database on <dataHome>/mime and update-desktop-database on
// <dataHome>/applications. A tool that is not installed adds a warning; one that fails throws
// std::runtime_error with its output.
void updateDatabases(const std::filesystem::path& dataHome, std::vector<std::string>& warnings);

} // namespace DesktopIntegration
