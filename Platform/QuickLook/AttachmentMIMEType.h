// The MIME type a presenter gives an attachment of a reply: from its type identifier, else the
// extension's word for it when that is a well-formed MIME type, else application/octet-stream.
#pragma once

#include "QuickLook/PreviewWire.h"

#include <string>

std::string attachmentMIMEType(const PreviewWire::ReplyAttachment& attachment);
