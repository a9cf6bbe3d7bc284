#include "QuickLookUI/PreviewSchemes.h"

#include <QWebEngineUrlScheme>

namespace PreviewSchemes {

void registerSchemes() {
  // Both secure (the page is a secure context and may show its attachments without mixed
  // content warnings); neither local, so that no file: access is granted to the page.
  QWebEngineUrlScheme page(kPageScheme);
  page.setSyntax(QWebEngineUrlScheme::Syntax::Host);
  page.setFlags(QWebEngineUrlScheme::SecureScheme);
  QWebEngineUrlScheme::registerScheme(page);

  QWebEngineUrlScheme attachment(kAttachmentScheme);
  attachment.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  attachment.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled);
  QWebEngineUrlScheme::registerScheme(attachment);
}

QUrl pageURL(int index, const QString& documentPath) {
  QUrl url(QStringLiteral("%1://item-%2/").arg(QLatin1String(kPageScheme)).arg(index));
  if (documentPath.startsWith(QLatin1Char('/')))
    url.setPath(documentPath, QUrl::DecodedMode);
  return url;
}

QString documentPathOf(const QUrl& url) {
  if (url.scheme() != QLatin1String(kPageScheme))
    return {};
  const QString path = url.path(QUrl::FullyDecoded);
  return path == QLatin1String("/") ? QString() : path;
}

std::optional<int> itemOf(const QUrl& url) {
  if (url.scheme() != QLatin1String(kPageScheme))
    return std::nullopt;
  const QString host = url.host();
  if (!host.startsWith(QLatin1String("item-")))
    return std::nullopt;
  bool ok = false;
  const int index = host.mid(5).toInt(&ok);
  if (!ok || index < 0)
    return std::nullopt;
  return index;
}

} // namespace PreviewSchemes
