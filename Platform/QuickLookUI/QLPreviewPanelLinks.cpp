// The preview panel's links between documents: a clicked link to another document a preview
// extension takes is previewed in the same panel, through the same source as the documents
// the panel was opened with; other local files open with the desktop's default application,
// web and mail links in the desktop's browser; what cannot be followed is explained in the
// panel. Back and Forward walk the panel's history.
#include "QuickLookUI/ErrorPage.h"
#include "QuickLookUI/LinkTarget.h"
#include "QuickLookUI/PreviewPage.h"
#include "QuickLookUI/QLPreviewPanel.h"
#include "QuickLookUI/ReadingTools.h"
#include "QuickLookUI/UserGestureClock.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <cstdio>

void QLPreviewPanel::note(const QString& line) const {
  std::fprintf(messages_, "preview panel: %s\n", line.toUtf8().constData());
  std::fflush(messages_);
}

void QLPreviewPanel::followLink(const QUrl& url) {
  const QString address = url.toDisplayString().left(200);
  if (!gestures_->recent()) {
    note(QStringLiteral("not following %1: the page navigated without a click").arg(address));
    return;
  }
  const LinkTarget target = LinkTarget::of(url, page_->url(), [this](const QString& path) {
    return linked_.canPreview && linked_.fetch && linked_.canPreview(path);
  });
  switch (target.action) {
  case LinkTarget::Action::openInBrowser:
    note(QStringLiteral("opening %1 in the browser").arg(address));
    QDesktopServices::openUrl(target.url);
    return;
  case LinkTarget::Action::openWithDefaultApp:
    note(QStringLiteral("opening %1 with the default application").arg(target.path));
    QDesktopServices::openUrl(QUrl::fromLocalFile(target.path));
    return;
  case LinkTarget::Action::previewDocument:
    note(QStringLiteral("previewing the linked document %1").arg(target.path));
    openLinkedDocument(target.path, target.fragment);
    return;
  case LinkTarget::Action::refuse:
    note(QStringLiteral("not following a link to %1: %2").arg(target.name, target.problem));
    showLinkProblem(target.name, target.problem);
    return;
  }
}

void QLPreviewPanel::openLinkedDocument(const QString& path, const QString& fragment) {
  // A document already in the panel is shown again as it was previewed.
  for (std::size_t i = 0; i < slots_.size(); ++i)
    if (!slots_[i].path.isEmpty() && QFileInfo(slots_[i].path).canonicalFilePath() == path) {
      navigateTo(static_cast<int>(i), fragment);
      return;
    }
  const int index = static_cast<int>(slots_.size());
  slots_.push_back({QFileInfo(path).fileName(), nullptr, false, path});
  startFetching(index, [fetch = linked_.fetch, path] { return fetch(path); });
  navigateTo(index, fragment);
}

void QLPreviewPanel::showLinkProblem(const QString& name, const QString& problem) {
  PreviewWire::Reply reply;
  reply.title = name.toStdString();
  reply.contentType = "public.html";
  reply.stringEncoding = "utf-8";
  reply.data =
      ErrorPage::html(name.toStdString(), "This link is not followed. " + problem.toStdString());
  const int index = static_cast<int>(slots_.size());
  slots_.push_back({name, std::make_shared<const PreviewWire::Reply>(std::move(reply)), false, {}});
  navigateTo(index, {});
}

void QLPreviewPanel::navigateTo(int index, const QString& fragment) {
  history_.visit({index, fragment});
  showHistoryEntry({index, fragment});
}

void QLPreviewPanel::showHistoryEntry(const NavigationHistory::Entry& entry) {
  current_ = entry.page;
  fragment_ = entry.fragment;
  if (current_ < givenItems_)
    lastGivenShown_ = current_;
  tools_->setHistoryState(history_.canGoBack(), history_.canGoForward());
  setWindowTitle(slots_[current_].displayName);
  present();
}

void QLPreviewPanel::goBack() {
  if (std::optional<NavigationHistory::Entry> entry = history_.back())
    showHistoryEntry(*entry);
}

void QLPreviewPanel::goForward() {
  if (std::optional<NavigationHistory::Entry> entry = history_.forward())
    showHistoryEntry(*entry);
}

int QLPreviewPanel::givenItemShown() const {
  return lastGivenShown_;
}
