// ReplyTransfer: hands a preview reply from the server to a client as a sealed memory file
// (memfd) holding its wire frame, so that pages of many megabytes never travel as D-Bus
// messages: only the descriptor does.
#pragma once

#include "QuickLook/PreviewWire.h"

namespace ReplyTransfer {

// A sealed memfd holding `reply` as one frame, positioned at its start. Throws
// std::runtime_error when it cannot be made. The caller owns (and closes) the descriptor.
int writeToMemoryFile(const PreviewWire::Reply& reply);

// Reads a reply from such a descriptor (from its start). Throws PreviewWire::WireError or
// std::runtime_error when it holds no whole reply.
PreviewWire::Reply readFromMemoryFile(int fd);

} // namespace ReplyTransfer
