// ReadingTools: what the preview panel offers for reading beyond showing the page: a toolbar
// with Back and Forward, zoom, find, "Open with the default application", "Reveal in the file
// manager", "Export as PDF…" and "Print…"; the find bar; and the keyboard shortcuts for all of
// them. Back and Forward are the panel's to carry out; the rest works on the view and the
// document on screen. Main thread only; owned by the panel's widgets.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class FindBar;
class QAction;
class QKeyEvent;
class QToolBar;
class QWebEngineView;
class QWidget;

class ReadingTools : public QObject {
public:
  // `window`: where the shortcuts apply; `view`: the page's view.
  ReadingTools(QWidget* window, QWebEngineView* view);

  QToolBar* toolbar() const { return toolbar_; }
  FindBar* findBar() const { return findBar_; }

  void onBack(std::function<void()> action) { back_ = std::move(action); }
  void onForward(std::function<void()> action) { forward_ = std::move(action); }
  void setHistoryState(bool canGoBack, bool canGoForward);
  // The file on screen (its real path), for Open and Reveal; empty: none.
  void setDocument(const QString& path);
  // Lines for the panel's probe (find results, zoom, export), when it is on.
  void setReporter(std::function<void(const QString&)> report);

  // The panel's key filter asks here first. A value: the key was dealt with (true) or must
  // go on to the widget it was meant for (false); nothing: the panel decides.
  std::optional<bool> filterKey(const QObject* watched, const QKeyEvent* key);

  void zoomBy(int steps); // +1 in, -1 out, 0 back to 100%
  void exportAsPDF();
  void print();

private:
  QAction* addAction(const QString& text, std::function<void()> triggered);
  void report(const QString& line) const;
  // Where to write the PDF: asked of the user, or given by the probe's environment.
  QString pdfPath();

  QWidget* window_;
  QWebEngineView* view_;
  QToolBar* toolbar_;
  FindBar* findBar_;
  QAction* backAction_;
  QAction* forwardAction_;
  QAction* openAction_;
  QAction* revealAction_;
  QAction* zoomResetAction_;
  QString document_;
  double zoom_ = 1.0;
  bool printing_ = false;
  std::function<void()> back_;
  std::function<void()> forward_;
  std::function<void(const QString&)> report_;
};
