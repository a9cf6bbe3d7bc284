#include "SoftwareUpdate/SUDownload.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace {

constexpr int kMaximumRedirects = 5;

QUrl parseURL(const std::string& text, std::string& error) {
  QUrl url(QString::fromStdString(text), QUrl::StrictMode);
  QString scheme = url.scheme().toLower();
  if (!url.isValid() || url.isRelative())
    error = "The address \"" + text + "\" is not a valid URL.";
  else if (scheme != "http" && scheme != "https" && scheme != "file")
    error = "The address \"" + text + "\" does not use http, https or file.";
  else if (scheme != "file" && url.host().isEmpty())
    error = "The address \"" + text + "\" has no host.";
  return url;
}

} // namespace

SUDownload::SUDownload(QNetworkAccessManager& network, const std::string& url, Limits limits,
                       std::optional<std::filesystem::path> file, Progress progress,
                       Completion completion)
    : limits_(limits), progress_(std::move(progress)), completion_(std::move(completion)) {
  std::string error;
  QUrl target = parseURL(url, error);
  if (error.empty() && file) {
    file_.emplace(*file, std::ios::binary | std::ios::trunc);
    if (!*file_)
      error = "Cannot write the download to " + file->string() + ".";
  }
  if (!error.empty()) {
    // Reported from the event loop, so that the caller never sees its completion re-entrantly.
    deadline_ = std::make_unique<QTimer>();
    deadline_->setSingleShot(true);
    QObject::connect(deadline_.get(), &QTimer::timeout, [this, error] { fail(error); });
    deadline_->start(0);
    return;
  }
  QNetworkRequest request(target);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setMaximumRedirectsAllowed(kMaximumRedirects);
  request.setTransferTimeout(static_cast<int>(limits_.inactivityTimeout.count()));
  request.setHeader(QNetworkRequest::UserAgentHeader, "Lumivale Quick Look updater");
  reply_ = network.get(request);
  QObject::connect(reply_, &QNetworkReply::readyRead, reply_, [this] { onReadyRead(); });
  QObject::connect(reply_, &QNetworkReply::finished, reply_, [this] { onFinished(); });

  deadline_ = std::make_unique<QTimer>();
  deadline_->setSingleShot(true);
  QObject::connect(deadline_.get(), &QTimer::timeout, [this] {
    fail("The download took longer than " + std::to_string(limits_.totalTimeout.count() / 1000) +
         " seconds and was stopped.");
  });
  deadline_->start(static_cast<int>(limits_.totalTimeout.count()));
}

SUDownload::~SUDownload() {
  done_ = true;
  if (reply_) {
    reply_->disconnect();
    reply_->abort();
    reply_->deleteLater();
  }
}

void SUDownload::onReadyRead() {
  if (done_ || !reply_)
    return;
  QByteArray chunk = reply_->readAll();
  received_ += static_cast<std::uint64_t>(chunk.size());
  if (received_ > limits_.maximumBytes) {
    fail("The download is larger than the " + std::to_string(limits_.maximumBytes) +
         " bytes announced and was stopped.");
    return;
  }
  if (file_) {
    file_->write(chunk.constData(), chunk.size());
    if (!*file_) {
      fail("The download could not be written to disk.");
      return;
    }
  } else {
    body_.append(chunk);
  }
  if (progress_) {
    qint64 total = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    Progress progress = progress_;
    progress(received_, total > 0 ? static_cast<std::uint64_t>(total) : 0);
  }
}

void SUDownload::onFinished() {
  if (done_ || !reply_)
    return;
  onReadyRead();
  if (done_)
    return;
  std::string error;
  if (reply_->error() == QNetworkReply::OperationCanceledError)
    error = "The server did not answer in time.";
  else if (reply_->error() != QNetworkReply::NoError)
    error = reply_->errorString().toStdString();
  else if (QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
           status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
    error = "The server answered with HTTP status " + std::to_string(status.toInt()) + ".";
  complete(error);
}

void SUDownload::fail(const std::string& error) {
  if (done_)
    return;
  if (reply_) {
    reply_->disconnect();
    reply_->abort();
    reply_->deleteLater();
    reply_ = nullptr;
  }
  complete(error);
}

void SUDownload::complete(const std::string& error) {
  if (done_)
    return;
  done_ = true;
  if (deadline_)
    deadline_->stop();
  if (reply_) {
    reply_->disconnect();
    reply_->deleteLater();
    reply_ = nullptr;
  }
  if (file_) {
    file_->flush();
    if (!*file_ && error.empty()) {
      file_.reset();
      Completion completion = std::move(completion_);
      completion("The download could not be written to disk.", {});
      return;
    }
    file_.reset();
  }
  // The completion may destroy this object: nothing is touched after it.
  Completion completion = std::move(completion_);
  QByteArray body = std::move(body_);
  completion(error, std::move(body));
}
