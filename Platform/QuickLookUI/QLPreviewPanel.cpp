#include "QuickLookUI/QLPreviewPanel.h"

#include "QuickLookUI/ErrorPage.h"
#include "QuickLookUI/FindBar.h"
#include "QuickLookUI/FragmentScroll.h"
#include "QuickLookUI/PanelEngine.h"
#include "QuickLookUI/PanelWebView.h"
#include "QuickLookUI/PreviewPage.h"
#include "QuickLookUI/PreviewSchemes.h"
#include "QuickLookUI/ReadingTools.h"
#include "QuickLookUI/UserGestureClock.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QScreen>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

constexpr int kMinimumWidth = 320;
constexpr int kMinimumHeight = 240;
constexpr int kDefaultWidth = 800;
constexpr int kDefaultHeight = 600;

// The reply's failure, or empty when it is a page the panel can show.
std::string failureOf(const PreviewWire::Reply& reply) {
  if (reply.error)
    return reply.error->localizedDescription.empty() ? "The preview failed."
                                                     : reply.error->localizedDescription;
  if (reply.contentType != "public.html")
    return "The preview extension replied with content type \"" + reply.contentType +
           "\", which cannot be shown.";
  return {};
}

} // namespace

QLPreviewPanel::QLPreviewPanel(bool dark, std::unique_ptr<PanelWebView> web)
    : mailbox_(std::make_shared<Mailbox>()), dark_(dark),
      web_(web ? std::move(web) : std::make_unique<PanelWebView>(dark)) {
  mailbox_->panel = this;
  setAttribute(Qt::WA_DeleteOnClose, false);
  setMinimumSize(kMinimumWidth, kMinimumHeight);

  web_->serve(
      [this](int index) -> std::shared_ptr<const PreviewWire::Reply> {
        return index >= 0 && index < static_cast<int>(slots_.size()) ? slots_[index].reply
                                                                     : nullptr;
      },
      [this](int index) { return pageURLOf(index); }, [this] { return current_; });
  profile_ = web_->profile();
  connect(profile_, &QWebEngineProfile::downloadRequested, this,
          [](QWebEngineDownloadRequest* download) { download->cancel(); });

  page_ = web_->page();
  FragmentScroll::install(page_->scripts());
  page_->setLinkHandler([this](const QUrl& url) { followLink(url); });
  view_ = web_->view();
  view_->setContextMenuPolicy(Qt::NoContextMenu);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  tools_ = new ReadingTools(this, view_);
  tools_->onBack([this] { goBack(); });
  tools_->onForward([this] { goForward(); });
  // Below the page, so that the page's own coordinates are the window's.
  layout->addWidget(tools_->findBar());
  layout->addWidget(tools_->toolbar());
  gestures_ = new UserGestureClock(this);
}

void QLPreviewPanel::prepareWindow() {
  resize(kDefaultWidth, kDefaultHeight);
  ensurePolished();
  layout()->activate();
  winId();
}

void QLPreviewPanel::open(std::vector<QLPreviewItem> items, std::optional<PanelProbe> probe,
                          std::FILE* messages) {
  probe_ = std::move(probe);
  messages_ = messages;
  page_->setMessageStream(messages_);
  if (probe_) {
    probe_->install(page_->scripts());
    page_->setConsoleChannel(probe_->channel, [this](const QString& m) { probeMessage(m); });
    // Where the time to the first text goes: engine start, window, page load.
    mark("engine-ready");
    connect(page_, &QWebEnginePage::loadStarted, this, [this] { mark("load-started"); });
    connect(page_, &QWebEnginePage::loadFinished, this, [this] { mark("load-finished"); });
    tools_->setReporter([messages = messages_](const QString& line) {
      std::fprintf(messages, "preview panel: %s\n", line.toUtf8().constData());
      std::fflush(messages);
    });
  }
  // Keys reach the web view's inner widgets first; watch them all from the application.
  qApp->installEventFilter(this);

  for (QLPreviewItem& item : items)
    slots_.push_back({item.displayName, nullptr, false, item.filePath});
  givenItems_ = static_cast<int>(slots_.size());
  if (!slots_.empty()) {
    setWindowTitle(slots_.front().displayName);
    history_.visit({0, {}});
  }
  for (std::size_t i = 0; i < items.size(); ++i)
    startFetching(static_cast<int>(i), std::move(items[i].fetchReply));
}

QWebEnginePage* QLPreviewPanel::page() const {
  return page_;
}

void QLPreviewPanel::whenFirstPageLoaded(std::function<void()> loaded) {
  firstPageLoaded_ = std::move(loaded);
  connect(page_, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
    if (!firstPageLoaded_ || firstPage_.isEmpty() ||
        info.status() == QWebEngineLoadingInfo::LoadStartedStatus ||
        info.url().adjusted(QUrl::RemoveFragment) != firstPage_)
      return;
    std::function<void()> loaded = std::move(firstPageLoaded_);
    firstPageLoaded_ = nullptr;
    loaded();
  });
}

void QLPreviewPanel::startFetching(int index, std::function<PreviewWire::Reply()> fetch) {
  std::thread([mailbox = mailbox_, index, fetch = std::move(fetch)] {
    PreviewWire::Reply reply = fetch();
    std::lock_guard lock(mailbox->mutex);
    if (mailbox->panel)
      QMetaObject::invokeMethod(
          mailbox->panel,
          [panel = mailbox->panel, index, reply = std::move(reply)]() mutable {
            panel->replyArrived(index, std::move(reply));
          },
          Qt::QueuedConnection);
  }).detach();
}

QLPreviewPanel::~QLPreviewPanel() {
  qApp->removeEventFilter(this);
  // The view and page go before their profile.
  web_.reset();
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->panel = nullptr;
}

int QLPreviewPanel::failedItems() const {
  // Documents reached through links are the user's browsing, not what was asked for.
  return static_cast<int>(std::count_if(slots_.begin(), slots_.begin() + givenItems_,
                                        [](const Slot& slot) { return slot.failed; }));
}

int QLPreviewPanel::pendingItems() const {
  return static_cast<int>(
      std::count_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return !slot.reply; }));
}

void QLPreviewPanel::replyArrived(int index, PreviewWire::Reply reply) {
  Slot& slot = slots_[index];
  if (std::string failure = failureOf(reply); !failure.empty()) {
    const std::string name = slot.displayName.toStdString();
    std::fprintf(messages_, "preview panel: %s: %s\n", name.c_str(), failure.c_str());
    PreviewWire::Reply shown;
    shown.id = reply.id;
    shown.title = name;
    shown.contentType = "public.html";
    shown.stringEncoding = "utf-8";
    shown.data = ErrorPage::html(name, failure);
    reply = std::move(shown);
    slot.failed = true;
  }
  slot.reply = std::make_shared<const PreviewWire::Reply>(std::move(reply));
  if (index == current_)
    present();
}

void QLPreviewPanel::showItem(int index) {
  if (index < 0 || index >= givenItems_ || index == current_)
    return;
  navigateTo(index, {});
}

void QLPreviewPanel::present() {
  const Slot& slot = slots_[current_];
  if (!slot.reply)
    return; // shown when it arrives
  const PreviewWire::Reply& reply = *slot.reply;
  setWindowTitle(reply.title.empty() ? slot.displayName : QString::fromStdString(reply.title));
  // The content size the extension asked for, within the screen.
  const QRect screen =
      (this->screen() ? this->screen() : QGuiApplication::primaryScreen())->availableGeometry();
  const int width = reply.width > 0 ? static_cast<int>(reply.width) : kDefaultWidth;
  const int height = reply.height > 0 ? static_cast<int>(reply.height) : kDefaultHeight;
  const QSize size(
      std::clamp(width, kMinimumWidth, std::max(kMinimumWidth, screen.width() * 9 / 10)),
      std::clamp(height, kMinimumHeight, std::max(kMinimumHeight, screen.height() * 9 / 10)));
  resize(size);
  mark("reply");
  if (!isVisible()) {
    move(screen.center() - QPoint(size.width() / 2, size.height() / 2));
    show();
    mark("shown");
  }
  QUrl url = pageURLOf(current_);
  if (firstPage_.isEmpty())
    firstPage_ = url;
  if (!fragment_.isEmpty())
    url.setFragment(fragment_);
  view_->setUrl(url);
  mark("url-set");
  view_->setFocus();
  tools_->setDocument(slot.path);
}

QUrl QLPreviewPanel::pageURLOf(int index) const {
  return PreviewSchemes::pageURL(index, slots_[index].path);
}

void QLPreviewPanel::mark(const char* what) const {
  if (probe_)
    std::fprintf(messages_, "preview panel: timeline %s at=%lld\n", what,
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
}

void QLPreviewPanel::probeMessage(const QString& message) {
  const int space = message.indexOf(QLatin1Char(' '));
  const QString kind = message.left(space);
  const QByteArray detail = message.mid(space + 1).toUtf8();
  if (kind == QLatin1String("first-text")) {
    std::fprintf(messages_, "preview panel: first text item=%d at=%s\n", current_,
                 detail.constData());
    if (probe_->exit == PanelProbe::Exit::afterFirstText)
      close();
  } else if (kind == QLatin1String("ready")) {
    std::fprintf(messages_, "preview panel: ready item=%d %s\n", current_, detail.constData());
    if (probe_->exit == PanelProbe::Exit::afterReady)
      close();
  }
  std::fflush(messages_);
}

bool QLPreviewPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType() ||
      static_cast<QWidget*>(watched)->window() != this)
    return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  if (std::optional<bool> handled = tools_->filterKey(watched, key))
    return *handled;
  if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
    return false;
  switch (key->key()) {
  case Qt::Key_Space:
  case Qt::Key_Escape:
    close();
    return true;
  case Qt::Key_Right:
  case Qt::Key_Left:
    if (givenItems_ < 2)
      return false; // one item: the page scrolls sideways
    showItem((givenItemShown() + (key->key() == Qt::Key_Right ? 1 : -1) + givenItems_) %
             givenItems_);
    return true;
  default:
    return false;
  }
}

PanelResult runPreviewPanel(int argc, char** argv, std::vector<QLPreviewItem> items,
                            LinkedPreviewSource linked) {
  PanelEngine::prepare();
  QApplication app(argc, argv);
  const bool dark = PanelEngine::configure();
  std::optional<PanelProbe> probe = PanelProbe::fromEnvironment();
  if (probe)
    std::fprintf(stderr, "preview panel: timeline application at=%lld\n",
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
  QLPreviewPanel panel(dark);
  panel.setLinkedPreviewSource(std::move(linked));
  panel.open(std::move(items), std::move(probe));
  app.exec();
  return {panel.failedItems(), panel.pendingItems()};
}
