// Quick Look preview extension point: the request a preview extension receives, the reply it
// answers with, and the provider interface the extension's principal class implements.
#pragma once

#include "Foundation/NSError.h"
#include "Foundation/URL.h"
#include "UniformTypeIdentifiers/UTType.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct CGSize {
  double width = 0;
  double height = 0;
  friend bool operator==(const CGSize&, const CGSize&) = default;
};

// The text encoding a reply declares for its data.
enum class StringEncoding { unspecified, utf8 };
// The IANA name of an encoding ("utf-8"), or "" when unspecified.
const char* ianaName(StringEncoding encoding);

// One preview request: the document to preview.
struct QLFilePreviewRequest {
  URL fileURL;
};

// Bytes travelling with a reply, referred to from the page as "cid:" + identifier.
class QLPreviewReplyAttachment {
public:
  QLPreviewReplyAttachment(std::string data, UTType contentType)
      : data_(std::move(data)), contentType_(std::move(contentType)) {}
  const std::string& data() const { return data_; }
  // Moves the bytes out (for handing them on without a copy); data() is empty afterwards.
  std::string takeData() { return std::exchange(data_, {}); }
  const UTType& contentType() const { return contentType_; }

private:
  std::string data_;
  UTType contentType_;
};

using QLPreviewReplyAttachments = std::map<std::string, QLPreviewReplyAttachment>;

// A data-based preview reply. The data is produced lazily: the presenter calls data(), which
// runs the producer once; the producer may also fill in stringEncoding and attachments.
// A reply is used by one thread at a time.
class QLPreviewReply {
public:
  using DataProducer = std::function<std::string(QLPreviewReply&)>;

  QLPreviewReply(UTType contentType, CGSize contentSize, DataProducer createDataUsing)
      : contentType_(std::move(contentType)), contentSize_(contentSize),
        producer_(std::move(createDataUsing)) {}

  const UTType& contentType() const { return contentType_; }
  CGSize contentSize() const { return contentSize_; }

  std::string title;
  StringEncoding stringEncoding = StringEncoding::unspecified;
  QLPreviewReplyAttachments attachments;
  // Files besides the document that the reply was made from (an image it carries, or one it
  // looked for and did not find): a presenter that keeps the reply must make it afresh once
  // any of them changes. Absolute paths.
  std::vector<std::string> dependencies;

  // The reply's bytes: runs the producer on first use and keeps its result.
  const std::string& data();
  // The reply's bytes, moved out of the reply (runs the producer when data() has not); for a
  // presenter that hands them on. data() is empty afterwards.
  std::string takeData();

private:
  UTType contentType_;
  CGSize contentSize_;
  DataProducer producer_;
  std::optional<std::string> data_;
};

// Called exactly once per request: a reply and no error, or no reply and the error.
using QLPreviewCompletionHandler =
    std::function<void(std::optional<QLPreviewReply>, std::optional<NSError>)>;

// The principal class of a preview extension. providePreview returns at once and calls the
// handler later, from any thread. Providers are owned through std::shared_ptr so that work in
// flight can keep its provider alive; several requests may be served concurrently.
class QLPreviewProvider : public std::enable_shared_from_this<QLPreviewProvider> {
public:
  virtual ~QLPreviewProvider() = default;
  virtual void providePreview(const QLFilePreviewRequest& request,
                              QLPreviewCompletionHandler completionHandler) = 0;
};
