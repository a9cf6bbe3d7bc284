// ServiceCommands: the qlmanage commands that address the preview service rather than files:
// -r (reset the servers; "-r cache" also empties the preview cache) and -m (what serves which
// content type).
#pragma once

#include <optional>

// Runs -r or -m when argv asks for one of them and returns the exit status; nullopt for any
// other command line.
std::optional<int> runServiceCommand(int argc, char** argv);
