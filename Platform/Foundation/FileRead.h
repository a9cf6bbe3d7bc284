// Whole-file reads, the platform's plain file read and its strict UTF-8 text read. Failures are
// thrown as NSErrorException with the Cocoa file-reading codes and messages.
#pragma once

#include "Foundation/URL.h"

#include <string>

// The file's bytes. Fails for a missing file, a directory, no permission or an I/O error.
std::string readData(const URL& url);

// The file's text, decoded strictly as UTF-8 (invalid bytes fail the read; no replacement).
std::string readUTF8Text(const URL& url);
