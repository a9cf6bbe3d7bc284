#include "PreviewReplyBuilder.h"

#include <memory>

namespace PreviewReplyBuilder {

QLPreviewReplyAttachments replyAttachments(const InlineLocalAssets::AttachmentMap& attachments) {
  QLPreviewReplyAttachments out;
  for (const auto& [identifier, attachment] : attachments) {
    UTType type = UTType::fromFilenameExtension(attachment.pathExtension, UTType::data)
                      .value_or(UTType::data);
    out.emplace(identifier, QLPreviewReplyAttachment(attachment.data, std::move(type)));
  }
  return out;
}

std::string title(const URL& fileURL) {
  return fileURL.deletingPathExtension().lastPathComponent();
}

QLPreviewReply makeReply(std::string html, QLPreviewReplyAttachments attachments,
                         const URL& fileURL, CGSize contentSize) {
  // The producer holds only immutable values and may run on any thread.
  struct Payload {
    std::string html;
    QLPreviewReplyAttachments attachments;
  };
  auto payload = std::make_shared<const Payload>(Payload{std::move(html), std::move(attachments)});
  QLPreviewReply reply(UTType::html, contentSize, [payload](QLPreviewReply& reply) {
    reply.stringEncoding = StringEncoding::utf8;
    reply.attachments = payload->attachments;
    return payload->html;
  });
  reply.title = title(fileURL);
  return reply;
}

} // namespace PreviewReplyBuilder
