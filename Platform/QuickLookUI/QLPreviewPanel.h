// QLPreviewPanel: the preview panel, a window that shows one preview reply at a time in a
// locked-down web view. Pages and their cid: attachments are served from memory; nothing else
// is loaded. Space or Escape closes it; with several items, the arrow keys go to the next and
// previous one. Clicked links to other documents are previewed in the same panel, with Back and
// Forward (QLPreviewPanelLinks.cpp); ReadingTools adds find, zoom, print and the like.
// Lives on the main (GUI) thread; replies are fetched on threads of their own.
#pragma once

#include "QuickLook/PreviewWire.h"
#include "QuickLookUI/LinkedPreviewSource.h"
#include "QuickLookUI/NavigationHistory.h"
#include "QuickLookUI/PanelProbe.h"

#include <QString>
#include <QUrl>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class PanelWebView;
class PreviewPage;
class QWebEnginePage;
class ReadingTools;
class UserGestureClock;
class QWebEngineProfile;
class QWebEngineView;

// One document to show: its name, and how to get its reply (a blocking call, made once on a
// thread of its own; it returns an error reply rather than throwing).
struct QLPreviewItem {
  QString displayName;
  std::function<PreviewWire::Reply()> fetchReply;
  QString filePath; // the document's absolute path, if known: its relative links resolve there
};

class QLPreviewPanel : public QWidget {
public:
  // A panel without documents yet: its window, view and tools are made (around `web`, made
  // ahead of time, else a web view of its own), not shown. `dark`: the desktop's appearance
  // (the page follows it on its own).
  explicit QLPreviewPanel(bool dark, std::unique_ptr<PanelWebView> web = {});
  ~QLPreviewPanel() override;

  // Lays the window out at its usual size and makes its native window, so that showing it
  // later costs little more than mapping it: for a panel made before its documents are known.
  void prepareWindow();

  // Gives the panel its documents (once): starts fetching every item's reply at once and
  // shows the first item as soon as its reply arrives. `messages`: where failures, the page's
  // console and the probe's reports are written.
  void open(std::vector<QLPreviewItem> items, std::optional<PanelProbe> probe = std::nullopt,
            std::FILE* messages = stderr);

  QWebEnginePage* page() const;

  // Calls `loaded` once the page of the first document shown has loaded (or failed to), not
  // counting a page the view was loading before the documents came.
  void whenFirstPageLoaded(std::function<void()> loaded);

  // Where documents reached through links come from; without one, such links are refused.
  void setLinkedPreviewSource(LinkedPreviewSource source) { linked_ = std::move(source); }

  void showItem(int index);
  int currentItem() const { return current_; }
  // How many items failed (their error is shown in their place), and how many are still
  // being fetched.
  int failedItems() const;
  int pendingItems() const;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  struct Slot {
    QString displayName;
    std::shared_ptr<const PreviewWire::Reply> reply; // what is served; null while fetching
    bool failed = false;
    QString path; // the document's, if known
  };
  // Where fetching threads deliver replies; cleared when the panel goes away.
  struct Mailbox {
    std::mutex mutex;
    QLPreviewPanel* panel = nullptr;
  };

  void startFetching(int index, std::function<PreviewWire::Reply()> fetch);
  void replyArrived(int index, PreviewWire::Reply reply);
  void present();
  void probeMessage(const QString& message);
  // With the probe on, a line saying when `what` happened, for the time to the first text.
  void mark(const char* what) const;
  QUrl pageURLOf(int index) const;

  // Following links (QLPreviewPanelLinks.cpp).
  void followLink(const QUrl& url);
  // A line about the panel's links for its message stream.
  void note(const QString& line) const;
  void openLinkedDocument(const QString& path, const QString& fragment);
  void showLinkProblem(const QString& name, const QString& problem);
  void navigateTo(int index, const QString& fragment);
  void goBack();
  void goForward();
  void showHistoryEntry(const NavigationHistory::Entry& entry);
  int givenItemShown() const;

  std::vector<Slot> slots_;
  std::shared_ptr<Mailbox> mailbox_;
  int current_ = 0;
  int givenItems_ = 0;     // slots_ begins with the items given; linked documents follow
  int lastGivenShown_ = 0; // where the arrow keys go on from
  QString fragment_;       // of the page on screen
  QUrl firstPage_;         // the first document's page, once asked for
  std::function<void()> firstPageLoaded_;
  NavigationHistory history_;
  LinkedPreviewSource linked_;
  bool dark_;
  std::optional<PanelProbe> probe_;
  std::FILE* messages_ = stderr;
  std::unique_ptr<PanelWebView> web_; // owns the profile, page and view below
  QWebEngineProfile* profile_;
  PreviewPage* page_;
  QWebEngineView* view_;
  ReadingTools* tools_;
  UserGestureClock* gestures_;
};

// Creates the application (registering the panel's URL schemes first), shows the panel over
// `items` and runs until it is closed. Returns the number of items that failed.
struct PanelResult {
  int failed = 0;
  int unfinished = 0; // replies still being fetched when the panel closed
};
PanelResult runPreviewPanel(int argc, char** argv, std::vector<QLPreviewItem> items,
                            LinkedPreviewSource linked = {});
