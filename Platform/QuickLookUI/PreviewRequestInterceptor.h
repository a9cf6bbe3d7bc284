// PreviewRequestInterceptor: the panel's network wall. Every request that is not for the
// preview's own page or attachments (or an inline data:/blob: URL) is blocked before it is
// made, and reported on standard error. Called by the engine on its IO thread.
#pragma once

#include <QWebEngineUrlRequestInterceptor>

class PreviewRequestInterceptor : public QWebEngineUrlRequestInterceptor {
public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
  void interceptRequest(QWebEngineUrlRequestInfo& info) override;

  // Whether a request for `url` may be made at all.
  static bool isAllowed(const QUrl& url);
};
