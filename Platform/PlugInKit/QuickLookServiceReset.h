// QuickLookServiceReset: what `qlmanage -r` does. Running preview servers watch the reset stamp
// file (RegistryLocation::resetStampFile, a decimal generation number): when it changes they
// drop their extension processes and read the plug-in registry again. `qlmanage -r cache` also
// empties the preview cache folder.
#pragma once

#include "PlugInKit/RegistryLocation.h"

#include <cstdint>

namespace QuickLookServiceReset {

// The current generation (0 when the stamp file is absent or unreadable).
std::uint64_t generation(const RegistryLocation& location);

// Raises the generation by one, atomically and under the registry lock; returns the new one.
// Throws std::system_error when the stamp cannot be written.
std::uint64_t requestReset(const RegistryLocation& location);

// Removes everything inside the preview cache folder (the folder itself stays; links are
// removed, never followed). Throws std::system_error naming what could not be removed.
void emptyPreviewCache(const RegistryLocation& location);

} // namespace QuickLookServiceReset
