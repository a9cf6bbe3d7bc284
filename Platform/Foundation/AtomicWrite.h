// Whole-file replacement that no reader ever sees half-done: the bytes go to a temporary file in
// the target's folder, are flushed to the disk, and the temporary file is renamed over the
// target; the folder is flushed too, so the rename survives a crash.
#pragma once

#include <filesystem>
#include <string_view>
#include <sys/types.h>

// Replaces (or creates) `path` with `bytes`, creating missing parent folders. Throws
// std::system_error naming the path when any step fails; the old file is then untouched.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         mode_t mode = 0644);

// Removes `path` when it exists and flushes its folder. Throws std::system_error on failure.
void removeFileDurably(const std::filesystem::path& path);
