// DesktopAppearance: whether the desktop asks for a light or a dark appearance, so that the
// panel (and the page's prefers-color-scheme) follow it.
#pragma once

namespace DesktopAppearance {

// In order: GTK_THEME naming a dark variant ("Adwaita:dark"), the desktop portal's
// org.freedesktop.appearance color-scheme (on the session bus), and the application palette
// of the Qt platform theme. Call after the QApplication exists.
bool prefersDark();

} // namespace DesktopAppearance
