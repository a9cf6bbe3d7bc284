// HTMLTemplateCache: the parts of HTMLTemplate's process-wide caches that the renderers and the
// tests reach past the public interface: references to cached texts (stable for the life of
// the process, since entries are never removed or replaced) and a per-file read counter.
#pragma once

#include "Foundation/Bundle.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace HTMLTemplate {

// As resourceText / scriptText, without copying the cached text.
const std::string& cachedResourceText(std::string_view name, std::string_view extension,
                                      const Bundle& bundle,
                                      std::optional<std::string_view> subdirectory = std::nullopt);
const std::string& cachedScriptText(std::string_view name, std::string_view extension,
                                    const Bundle& bundle,
                                    std::optional<std::string_view> subdirectory = std::nullopt);

// How many times this process has read the resource file at `path` (as the bundle names it).
std::size_t resourceFileReadCount(std::string_view path);

} // namespace HTMLTemplate
