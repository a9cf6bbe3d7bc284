// PreviewReplyBuilder: packs a finished page and its image attachments into a Quick Look reply
// (HTML, UTF-8, a fixed content size, titled by the document's name). Pure functions.
#pragma once

#include "Foundation/URL.h"
#include "PreviewCore/InlineLocalAssets.h"
#include "QuickLook/QuickLook.h"

#include <string>

namespace PreviewReplyBuilder {

// Reply attachments under the same identifiers, each typed by its path extension (conforming
// to UTType::data), or as generic data when the extension is empty or unknown.
QLPreviewReplyAttachments replyAttachments(const InlineLocalAssets::AttachmentMap& attachments);

// The document's name without its extension: notes.md -> notes, README -> README.
std::string title(const URL& fileURL);

// An HTML reply whose data is `html` as UTF-8 bytes and whose attachments are `attachments`
// (an empty dictionary when there are none).
QLPreviewReply makeReply(std::string html, QLPreviewReplyAttachments attachments,
                         const URL& fileURL, CGSize contentSize);

} // namespace PreviewReplyBuilder
