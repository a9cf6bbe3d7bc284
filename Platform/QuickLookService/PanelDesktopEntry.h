// PanelDesktopEntry: the desktop entry that opens documents in the preview panel, so that the
// file manager's "Open With" offers it. Written by the registration tool, which knows the
// MIME types the extensions serve.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace PanelDesktopEntry {

// The entry's file name; the panel's windows carry the same application id.
inline constexpr char kFileName[] = "com.lumivale.quicklook.panel.desktop";

// The entry's text: runs `qlmanage -p` on the chosen files, for `mimeTypes`, hidden from menus.
std::string text(const std::filesystem::path& qlmanage, const std::vector<std::string>& mimeTypes);

// Writes it atomically to `dataHome`/applications/ and returns its path. Throws
// std::runtime_error when it cannot be written.
std::filesystem::path install(const std::filesystem::path& dataHome,
                              const std::filesystem::path& qlmanage,
                              const std::vector<std::string>& mimeTypes);

} // namespace PanelDesktopEntry
