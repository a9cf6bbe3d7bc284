// File reads: the platform's plain whole-file read, its strict UTF-8 text read, and the bounded
// read of a document, which takes only regular files and never more than a given number of
// bytes. Failures are thrown as NSErrorException with the Cocoa file-reading codes and messages.
#pragma once

#include "Foundation/URL.h"

#include <cstddef>
#include <cstdint>
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

// The first bytes of a document and the size of the whole.
struct FilePrefix {
  std::string data;           // at most the limit asked for
  std::uint64_t fileSize = 0; // as the file system reports it when the file was opened
  bool complete = true;       // false when the file holds more than `data`
};

// Up to `limit` bytes from the start of a regular file; memory stays bounded by `limit` whatever
// the file's size. Anything but a regular file (a FIFO, a device, a socket, a folder) fails at
// once, without waiting for a writer or touching the device. With `readLargerFiles` false, a
// file that reports more than `limit` bytes is not read at all (data empty, complete false).
// `spareCapacity` reserves untouched room after the bytes, as readData does; `leadingRoom` puts
// that many zero bytes in `data` before the file's bytes (room for a text written ahead of them).
FilePrefix readFilePrefix(const URL& url, std::size_t limit, bool readLargerFiles = true,
                          std::size_t spareCapacity = 0, std::size_t leadingRoom = 0);
