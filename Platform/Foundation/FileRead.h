// Whole-file reads, the platform's plain file read and its strict UTF-8 text read. Failures are
// thrown as NSErrorException with the Cocoa file-reading codes and messages.
#pragma once

#include "Foundation/URL.h"

#include <cstddef>
#include <string>

// The file's bytes. Fails for a missing file, a directory, no permission or an I/O error.
std::string readData(const URL& url);

// The same bytes in a string with room reserved for at least `spareCapacity` bytes more. The
// room is never touched by the read: a caller that goes on to write a text about as large as
// the file (a page made from it) can write it into memory the read already brought in, rather
// than into fresh pages that the system must first clear.
std::string readData(const URL& url, std::size_t spareCapacity);

// The file's text, decoded strictly as UTF-8 (invalid bytes fail the read; no replacement).
std::string readUTF8Text(const URL& url);
