#include "QuickLookUI/PreviewRequestInterceptor.h"

#include "QuickLookUI/PreviewSchemes.h"

#include <QWebEngineUrlRequestInfo>
#include <cstdio>

bool PreviewRequestInterceptor::isAllowed(const QUrl& url) {
  const QString scheme = url.scheme();
  return scheme == QLatin1String(PreviewSchemes::kPageScheme) ||
         scheme == QLatin1String(PreviewSchemes::kAttachmentScheme) ||
         scheme == QLatin1String("data") || scheme == QLatin1String("blob");
}

void PreviewRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
  if (isAllowed(info.requestUrl()))
    return;
  info.block(true);
  const QByteArray address = info.requestUrl().toDisplayString().left(200).toUtf8();
  std::fprintf(stderr, "preview panel: blocked a request for %s\n", address.constData());
}
