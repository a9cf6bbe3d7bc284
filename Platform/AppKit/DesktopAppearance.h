// DesktopAppearance: follows the desktop's light or dark preference. Qt takes its palette from
// the desktop's platform theme where there is one; where the desktop says "dark" only through
// the freedesktop portal's colour scheme or GTK_THEME, the application gets a dark palette here.
#pragma once

#include <optional>

namespace DesktopAppearance {

// True for a dark preference, false for a light one, nullopt when the desktop states none.
std::optional<bool> prefersDark();

// Applies the preference to the running QApplication's palette, and again whenever the
// portal reports a new one.
void apply();

// Applies a preference: a dark palette for dark (unless the desktop's is dark already), the
// desktop's own palette otherwise.
void applyPreference(std::optional<bool> dark);

} // namespace DesktopAppearance
