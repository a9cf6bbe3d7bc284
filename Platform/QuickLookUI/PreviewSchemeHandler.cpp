#include "QuickLookUI/PreviewSchemeHandler.h"

#include "QuickLook/AttachmentMIMEType.h"
#include "QuickLookUI/PreviewSchemes.h"

#include <QBuffer>
#include <QWebEngineUrlRequestJob>

namespace {

// A read-only device over bytes of a reply, keeping the reply alive while the engine reads
// them (on its own thread), so that pages of many megabytes are never copied.
class ReplyBytesDevice : public QBuffer {
public:
  ReplyBytesDevice(std::shared_ptr<const PreviewWire::Reply> reply, const std::string& bytes)
      : reply_(std::move(reply)),
        bytes_(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()))) {
    setBuffer(&bytes_);
    open(QIODevice::ReadOnly);
  }

private:
  std::shared_ptr<const PreviewWire::Reply> reply_;
  QByteArray bytes_;
};

void answer(QWebEngineUrlRequestJob* job, const QByteArray& mimeType,
            std::shared_ptr<const PreviewWire::Reply> reply, const std::string& bytes) {
  auto* device = new ReplyBytesDevice(std::move(reply), bytes);
  // The engine does not own the device: it must live until the job is gone.
  QObject::connect(job, &QObject::destroyed, device, &QObject::deleteLater);
  job->reply(mimeType, device);
}

} // namespace

PreviewSchemeHandler::PreviewSchemeHandler(
    std::function<std::shared_ptr<const PreviewWire::Reply>(int)> replyOf,
    std::function<QUrl(int)> pageURLOf, std::function<int()> currentItem, QObject* parent)
    : QWebEngineUrlSchemeHandler(parent), replyOf_(std::move(replyOf)),
      pageURLOf_(std::move(pageURLOf)), currentItem_(std::move(currentItem)) {}

void PreviewSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
  if (job->requestMethod() != "GET") {
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
    return;
  }
  const QUrl url = job->requestUrl();
  if (url.scheme() == QLatin1String(PreviewSchemes::kPageScheme)) {
    const std::optional<int> item = PreviewSchemes::itemOf(url);
    std::shared_ptr<const PreviewWire::Reply> reply = item ? replyOf_(*item) : nullptr;
    // Relative references the page did not have inlined land under its address: none is served.
    if (!reply ||
        PreviewSchemes::documentPathOf(url) != PreviewSchemes::documentPathOf(pageURLOf_(*item))) {
      job->fail(QWebEngineUrlRequestJob::UrlNotFound);
      return;
    }
    const QByteArray mimeType =
        reply->stringEncoding.empty()
            ? QByteArray("text/html")
            : "text/html;charset=" + QByteArray::fromStdString(reply->stringEncoding);
    answer(job, mimeType, reply, reply->data);
    return;
  }
  if (url.scheme() == QLatin1String(PreviewSchemes::kAttachmentScheme)) {
    const int item = PreviewSchemes::itemOf(job->initiator()).value_or(currentItem_());
    std::shared_ptr<const PreviewWire::Reply> reply = replyOf_(item);
    const std::string identifier = url.path(QUrl::FullyDecoded).toStdString();
    if (reply)
      for (const PreviewWire::ReplyAttachment& attachment : reply->attachments)
        if (attachment.identifier == identifier) {
          answer(job, QByteArray::fromStdString(attachmentMIMEType(attachment)), reply,
                 attachment.data);
          return;
        }
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  job->fail(QWebEngineUrlRequestJob::UrlInvalid);
}
