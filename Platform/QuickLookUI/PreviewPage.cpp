#include "QuickLookUI/PreviewPage.h"

#include "QuickLookUI/PreviewSchemes.h"

#include <QDesktopServices>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineQuotaRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <cstdio>

namespace {

// Addresses a click may hand to the desktop: the web and mail, nothing local or scripted.
bool isExternalLink(const QUrl& url) {
  const QString scheme = url.scheme();
  return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http") ||
                           scheme == QLatin1String("mailto"));
}

const char* levelName(QWebEnginePage::JavaScriptConsoleMessageLevel level) {
  switch (level) {
  case QWebEnginePage::InfoMessageLevel:
    return "info";
  case QWebEnginePage::WarningMessageLevel:
    return "warning";
  case QWebEnginePage::ErrorMessageLevel:
    return "error";
  }
  return "message";
}

} // namespace

PreviewPage::PreviewPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
  connect(this, &QWebEnginePage::featurePermissionRequested, this,
          [this](const QUrl& origin, Feature feature) {
            setFeaturePermission(origin, feature, PermissionDeniedByUser);
          });
  connect(this, &QWebEnginePage::fullScreenRequested, this,
          [](QWebEngineFullScreenRequest request) { request.reject(); });
  connect(this, &QWebEnginePage::quotaRequested, this,
          [](QWebEngineQuotaRequest request) { request.reject(); });
  connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
          [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
  connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
          [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
  // A link meant for a new window (target=_blank) is a link like any other, if clicked.
  connect(this, &QWebEnginePage::newWindowRequested, this,
          [this](QWebEngineNewWindowRequest& request) {
            if (request.isUserInitiated())
              handleLink(request.requestedUrl());
          });
}

void PreviewPage::setLinkHandler(std::function<void(const QUrl&)> handler) {
  linkHandler_ = std::move(handler);
}

void PreviewPage::handleLink(const QUrl& url) {
  if (linkHandler_) {
    // Later, outside the engine's navigation callback: the handler may load another page.
    QMetaObject::invokeMethod(
        this, [this, url] { linkHandler_(url); }, Qt::QueuedConnection);
    return;
  }
  if (isExternalLink(url))
    QDesktopServices::openUrl(url); // the user clicked it: the browser takes it from here
}

void PreviewPage::setConsoleChannel(QString prefix, std::function<void(const QString&)> handler) {
  channelPrefix_ = std::move(prefix);
  channelHandler_ = std::move(handler);
}

bool PreviewPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
  const bool ours = url.scheme() == QLatin1String(PreviewSchemes::kPageScheme);
  if (type == NavigationTypeLinkClicked) {
    // A link within the page (a heading anchor, a footnote) only scrolls.
    if (ours && url.adjusted(QUrl::RemoveFragment) == this->url().adjusted(QUrl::RemoveFragment))
      return true;
    if (isMainFrame)
      handleLink(url);
    return false;
  }
  if (!isMainFrame) // frames the page makes for itself (about:blank, about:srcdoc) stay inside
    return url.scheme() == QLatin1String("about") || url.scheme() == QLatin1String("data") || ours;
  // The panel itself loads item pages; scripts, forms and redirects go nowhere else.
  return ours && type != NavigationTypeFormSubmitted;
}

QWebEnginePage* PreviewPage::createWindow(WebWindowType) {
  return nullptr; // no new windows, tabs or pop-ups
}

void PreviewPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                           const QString& message, int lineNumber,
                                           const QString& sourceID) {
  if (channelHandler_ && !channelPrefix_.isEmpty() && message.startsWith(channelPrefix_)) {
    channelHandler_(message.mid(channelPrefix_.size()));
    return;
  }
  const QByteArray text = message.toUtf8();
  const QByteArray source = sourceID.left(200).toUtf8();
  std::fprintf(messages_, "preview panel: console %s: %s (%s:%d)\n", levelName(level),
               text.constData(), source.constData(), lineNumber);
}
