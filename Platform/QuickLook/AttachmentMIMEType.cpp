#include "QuickLook/AttachmentMIMEType.h"

#include "Foundation/ASCII.h"
#include "UniformTypeIdentifiers/UTType.h"

#include <algorithm>
#include <cstring>

namespace {

bool isMIMEType(const std::string& text) {
  auto token = [](char c) { return ASCII::isAlnum(c) || std::strchr("!#$&^_.+-", c); };
  const auto slash = text.find('/');
  return slash != std::string::npos && slash > 0 && slash + 1 < text.size() && text.size() < 128 &&
         std::all_of(text.begin(), text.begin() + slash, token) &&
         std::all_of(text.begin() + slash + 1, text.end(), token);
}

} // namespace

std::string attachmentMIMEType(const PreviewWire::ReplyAttachment& attachment) {
  if (auto type = UTType::fromIdentifier(attachment.typeIdentifier))
    if (auto mime = type->preferredMIMEType())
      return *mime;
  if (isMIMEType(attachment.mimeType))
    return attachment.mimeType;
  return "application/octet-stream";
}
