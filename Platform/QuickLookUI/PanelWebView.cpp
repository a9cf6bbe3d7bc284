#include "QuickLookUI/PanelWebView.h"

#include "QuickLookUI/PreviewPage.h"
#include "QuickLookUI/PreviewRequestInterceptor.h"
#include "QuickLookUI/PreviewSchemeHandler.h"
#include "QuickLookUI/PreviewSchemes.h"

#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

void lockDown(QWebEngineSettings* settings) {
  settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  settings->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
  settings->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
  settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
  settings->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, true);
  settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
}

// What the warm-up load shows: nothing, in the page's own background.
std::shared_ptr<const PreviewWire::Reply> emptyPage() {
  static const auto page = [] {
    auto reply = std::make_shared<PreviewWire::Reply>();
    reply->contentType = "public.html";
    reply->stringEncoding = "utf-8";
    reply->data = "<!doctype html><meta charset=\"utf-8\"><title></title>";
    return std::shared_ptr<const PreviewWire::Reply>(std::move(reply));
  }();
  return page;
}

} // namespace

PanelWebView::PanelWebView(bool dark) {
  // An off-the-record profile: no cache, cookies or storage on disk.
  profile_ = new QWebEngineProfile();
  profile_->setHttpCacheType(QWebEngineProfile::NoCache);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  profile_->setSpellCheckEnabled(false);
  profile_->setUrlRequestInterceptor(new PreviewRequestInterceptor(profile_));
  auto* handler = new PreviewSchemeHandler(
      [this](int index) { return replyOf_ ? replyOf_(index) : nullptr; },
      [this](int index) { return pageURLOf_ ? pageURLOf_(index) : PreviewSchemes::pageURL(index); },
      [this] { return currentItem_ ? currentItem_() : 0; }, profile_);
  profile_->installUrlSchemeHandler(PreviewSchemes::kPageScheme, handler);
  profile_->installUrlSchemeHandler(PreviewSchemes::kAttachmentScheme, handler);

  page_ = new PreviewPage(profile_, nullptr);
  lockDown(page_->settings());
  page_->setBackgroundColor(dark ? QColor(0x0d, 0x11, 0x17) : QColor(Qt::white));
  view_ = new QWebEngineView();
  view_->setPage(page_);
}

PanelWebView::~PanelWebView() {
  delete view_;
  delete page_;
  delete profile_;
}

void PanelWebView::serve(ReplyOf replyOf, std::function<QUrl(int)> pageURLOf,
                         std::function<int()> currentItem) {
  replyOf_ = std::move(replyOf);
  pageURLOf_ = std::move(pageURLOf);
  currentItem_ = std::move(currentItem);
}

void PanelWebView::warmUp(std::function<void()> done) {
  serve([](int index) { return index == 0 ? emptyPage() : nullptr; },
        [](int index) { return PreviewSchemes::pageURL(index); }, [] { return 0; });
  if (done)
    QObject::connect(
        page_, &QWebEnginePage::loadFinished, page_, [done](bool) { done(); },
        Qt::SingleShotConnection);
  page_->setUrl(PreviewSchemes::pageURL(0));
}
