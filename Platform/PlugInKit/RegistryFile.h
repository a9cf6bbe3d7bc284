// RegistryFile: reading and writing one JSON file of the registration databases. Files are
// replaced atomically; a file that cannot be read as what it should hold is damaged: it is
// renamed aside (never silently overwritten) and the caller is told where it went.
#pragma once

#include "PlugInKit/RegistryLocation.h"

#include <boost/json/object.hpp>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace RegistryFile {

// The version every file carries under "format".
inline constexpr int kFormat = 1;

// Reads `file` and hands its top-level object to `decode`. An absent file decodes nothing and
// is not an error. A file that is not a JSON object of this format, or that `decode` rejects by
// throwing, is renamed to "<file>.damaged-<UTC time>" under the registry lock (taken here unless
// `lockHeld`), a warning naming both paths is appended to `warnings`, and `decode` is not
// called again: the caller continues as for an absent file. `decode` must leave its target
// empty when it throws. Other read errors (permissions) throw std::system_error.
void load(const RegistryLocation& location, const std::filesystem::path& file,
          std::string_view description, bool lockHeld, std::vector<std::string>& warnings,
          const std::function<void(const boost::json::object&)>& decode);

// Writes `members` (with "format" added) atomically. Throws std::system_error on failure.
void save(const std::filesystem::path& file, boost::json::object members);

// Paths are bytes; JSON strings are UTF-8. encodePath keeps well-formed UTF-8 as it is and
// writes '%' and every other byte as %XX, so any path survives the round trip.
std::string encodePath(const std::filesystem::path& path);
std::filesystem::path decodePath(std::string_view text);

// Decoding helpers that throw std::runtime_error when the member is missing or of another type.
std::string stringMember(const boost::json::object& object, std::string_view key);
std::vector<std::string> stringsMember(const boost::json::object& object, std::string_view key);

} // namespace RegistryFile
