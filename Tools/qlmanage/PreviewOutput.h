// PreviewOutput: presents a preview reply as files. A preview folder holds the reply's data
// (Preview.html), its properties, one file per attachment and a standalone page; it appears
// whole or not at all.
#pragma once

#include "QuickLook/PreviewWire.h"

#include <filesystem>
#include <string>

namespace PreviewOutput {

// PreviewProperties.json: title, contentType, contentSize, stringEncoding, attachments.
std::string propertiesJSON(const PreviewWire::Reply& reply);

// The MIME type to embed an attachment with (from its type, else the extension's word for it
// when that is a well-formed MIME type, else application/octet-stream).
std::string mimeTypeOf(const PreviewWire::ReplyAttachment& attachment);

// Writes `outputDirectory/<fileName>.qlpreview/` (replacing an earlier one) through a temporary
// folder that is renamed into place. Throws std::runtime_error, leaving nothing behind, when
// the reply cannot be written (including attachment identifiers that are not plain file names).
// Standalone.html is the page with a resolver script inserted at the very start of <head>,
// before the page's own policy and scripts: globalThis.lumivaleResolveAttachment(id) returns a
// data: URL for each attachment (null for unknown identifiers), so "cid:" references resolve in
// any browser.
std::filesystem::path writePreviewFolder(const std::filesystem::path& outputDirectory,
                                         const std::string& fileName,
                                         const PreviewWire::Reply& reply);

} // namespace PreviewOutput
