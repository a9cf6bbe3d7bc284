// Whole-file writes that readers never see half done: the bytes go to a temporary file beside
// the target, are flushed to disk, and the temporary file is renamed over the target.
#pragma once

#include <filesystem>
#include <string_view>
#include <sys/types.h>

// Replaces `path` by `bytes` (creating the parent folder if needed). Throws std::system_error
// on failure, leaving any previous file as it was.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         mode_t mode = 0644);
