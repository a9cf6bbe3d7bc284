// SparePanel: the panel agent's next panel, made ahead of time. It is made in small steps run
// one per turn of the event loop (the web view, its warm-up load, the window around it, the
// native window), and no step runs while a request waits, so that a request is never held up
// by more than the step under way. take() hands over as much as has been made, finished into
// a panel. There is at most one spare. Main thread only.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

class PanelWebView;
class QLPreviewPanel;

class SparePanel : public QObject {
public:
  // `dark`: the appearance of the panels made. `requestWaiting`: whether a request is queued
  // for the main thread (asked from it only), which the next step then lets go first.
  SparePanel(bool dark, std::function<bool()> requestWaiting, QObject* parent = nullptr);
  ~SparePanel() override;

  // Begins making the spare `delay` from now, unless one is made or being made. Before its
  // first step, a later call moves the start to its own `delay`.
  void prepare(std::chrono::milliseconds delay = std::chrono::milliseconds(0));

  // A panel without documents, not shown: the spare, with what is still missing made now, or
  // a new one when none was begun. Nothing more is made until the next prepare().
  std::unique_ptr<QLPreviewPanel> take();

  // Drops the spare and stops making it.
  void discard();

  // Whether every step has been made.
  bool complete() const { return stage_ == Stage::complete; }

private:
  enum class Stage { none, webView, warmingUp, panel, complete };

  void step();

  bool dark_;
  std::function<bool()> requestWaiting_;
  QTimer timer_;
  Stage stage_ = Stage::none;
  bool started_ = false;                  // a step has run since prepare()
  std::unique_ptr<PanelWebView> web_;     // until the panel takes it
  std::unique_ptr<QLPreviewPanel> panel_; // from the third step on
};
