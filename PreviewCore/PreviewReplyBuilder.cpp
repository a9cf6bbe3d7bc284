#include "PreviewCore/PreviewReplyBuilder.h"

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
  // The producer runs once per reply and hands its page and attachments over without copying
  // them; only when the producer has been copied (and so shares them) does it copy.
  struct Payload {
    std::string html;
    QLPreviewReplyAttachments attachments;
  };
  auto payload = std::make_shared<Payload>(Payload{std::move(html), std::move(attachments)});
  QLPreviewReply reply(UTType::html, contentSize, [payload](QLPreviewReply& reply) {
    reply.stringEncoding = StringEncoding::utf8;
    if (payload.use_count() == 1) {
      reply.attachments = std::move(payload->attachments);
      return std::move(payload->html);
    }
    reply.attachments = payload->attachments;
    return payload->html;
  });
  reply.title = title(fileURL);
  return reply;
}

} // namespace PreviewReplyBuilder
