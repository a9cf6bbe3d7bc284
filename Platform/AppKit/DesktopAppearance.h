// DesktopAppearance: follows the desktop's light or dark preference. Qt takes its palette from
// the desktop's platform theme where there is one; where the desktop says "dark" only through
// the freedesktop portal's colour scheme or GTK_THEME, the application gets a dark palette here.
#pragma once

#include <optional>

namespace DesktopAppearance {

// True for a dark preference, false for a light one, nullopt when the desktop states none.
std::optional<bool> prefersDark();

// Applies the preference to the running QApplication's palette.
void apply();

} // namespace DesktopAppearance
