// PreviewPage: the web page of the preview panel, locked down. It stays on the preview's own
// pages (a clicked link goes to the link handler, or, without one, a link to the web or mail
// opens in the desktop's browser), opens no
// windows, shows no dialogs, grants no permissions, and writes the page's console messages to
// standard error. Main thread only.
#pragma once

#include <QWebEnginePage>
#include <cstdio>
#include <functional>

class PreviewPage : public QWebEnginePage {
public:
  PreviewPage(QWebEngineProfile* profile, QObject* parent);

  // Console messages that begin with `prefix` go to `handler` (without the prefix) instead of
  // standard error: the panel's own probe scripts talk back this way.
  void setConsoleChannel(QString prefix, std::function<void(const QString&)> handler);
  // Clicked links that leave the page (and pop-ups the user asked for) go to `handler`, after
  // the navigation request has been refused; the page itself never follows them.
  void setLinkHandler(std::function<void(const QUrl&)> handler);
  // Where the other console messages are written (standard error unless set).
  void setMessageStream(std::FILE* stream) { messages_ = stream; }

protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
  QWebEnginePage* createWindow(WebWindowType type) override;
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                int lineNumber, const QString& sourceID) override;
  void javaScriptAlert(const QUrl&, const QString&) override {}
  bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
  bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override {
    return false;
  }
  QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override {
    return {};
  }

private:
  void handleLink(const QUrl& url);

  QString channelPrefix_;
  std::function<void(const QString&)> channelHandler_;
  std::function<void(const QUrl&)> linkHandler_;
  std::FILE* messages_ = stderr;
};
