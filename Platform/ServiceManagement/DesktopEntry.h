// DesktopEntry: the pieces of the freedesktop.org desktop-entry format that login items need:
// reading the keys of the [Desktop Entry] group, and quoting and splitting Exec command lines.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace DesktopEntry {

// The keys of the [Desktop Entry] group (localised keys such as Name[de] kept as written),
// with the string escapes \s \n \t \r \\ decoded; a repeated key keeps its last value.
std::map<std::string, std::string> readMainGroup(std::string_view text);

// One Exec argument, quoted where the format requires it and escaped for the file: a
// reserved character puts the argument in double quotes ("`$\ escaped with a backslash), every
// backslash is then doubled by the string escaping, and "%" is written "%%".
std::string quoteExecArgument(std::string_view argument);

// The arguments of an Exec value as the desktop runs them: quoting and escapes undone, field
// codes (%f, %u, ...) dropped, "%%" as "%". Nullopt for a malformed line (unclosed quote).
std::optional<std::vector<std::string>> splitExec(std::string_view exec);

} // namespace DesktopEntry
