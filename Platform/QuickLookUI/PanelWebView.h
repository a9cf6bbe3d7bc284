// PanelWebView: the web side of one preview panel: an off-the-record profile that serves the
// panel's pages and attachments from memory, its locked-down page, and the view that shows it.
// The panel makes one for itself, or is handed one made ahead of time whose render process
// already runs (warmUp), which is how a warm panel host shows its first text sooner.
// Main thread only; the view is the only widget and has no parent until a panel takes it.
#pragma once

#include "QuickLook/PreviewWire.h"

#include <QUrl>
#include <functional>
#include <memory>

class PreviewPage;
class QWebEngineProfile;
class QWebEngineView;

class PanelWebView {
public:
  using ReplyOf = std::function<std::shared_ptr<const PreviewWire::Reply>(int)>;

  // `dark`: the page's background before its own style sheet is there.
  explicit PanelWebView(bool dark);
  ~PanelWebView(); // the view and page go before their profile
  PanelWebView(const PanelWebView&) = delete;
  PanelWebView& operator=(const PanelWebView&) = delete;

  // Where item pages and attachments come from from now on, and the address each item's page
  // is served at (see PreviewSchemeHandler).
  void serve(ReplyOf replyOf, std::function<QUrl(int)> pageURLOf, std::function<int()> currentItem);

  // Loads an empty page at the address of the panel's first item, so that the page's render
  // process is started and the first real page, of the same site, reuses it. `done` is called
  // once that page has loaded.
  void warmUp(std::function<void()> done = {});

  QWebEngineProfile* profile() const { return profile_; }
  PreviewPage* page() const { return page_; }
  QWebEngineView* view() const { return view_; }

private:
  ReplyOf replyOf_;
  std::function<QUrl(int)> pageURLOf_;
  std::function<int()> currentItem_;
  QWebEngineProfile* profile_;
  PreviewPage* page_;
  QWebEngineView* view_;
};
