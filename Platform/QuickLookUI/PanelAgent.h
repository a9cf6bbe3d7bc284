// PanelAgent: the per-user panel host on the session bus. It keeps the web engine running, with
// a hidden panel made ahead (window laid out, render process started; see SparePanel) ready for
// the next one, so that `qlmanage -p` shows its first text without starting an engine. Making
// that panel never holds up a request: it goes ahead and takes what has been made. It answers
//   Show(s request, h messages) -> (i failed, i unfinished)   shows a PanelAgentRequest's
//       documents in a panel of their own and answers once that panel is closed; the panel's
//       messages (failures, console, probe reports) go to `messages`
//   Quit()   closes every panel (their Show calls answer) and leaves the bus and the process
// A caller that goes away has its panel closed. The agent quits after `idleTimeout` with no
// panel open, or when told to end (terminate()) as on Quit(). Replies come from the preview
// server, else from extension processes of its own.
// Lives on the main (GUI) thread; bus calls are passed to it from the bus's thread.
#pragma once

#include "QuickLookService/PanelAgentRequest.h"
#include "QuickLookUI/SparePanel.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>

class ExtensionProcessPool;
class QLPreviewPanel;

class PanelAgent : public QDBusVirtualObject {
public:
  // `dark`: the appearance the engine was started with.
  PanelAgent(bool dark, std::chrono::milliseconds idleTimeout, QObject* parent = nullptr);
  ~PanelAgent() override;

  // Registers the object and the name on `bus`; false (with `error`) when the name is taken.
  bool publish(QDBusConnection bus, QString& error);

  // What Quit() does, without a caller: gives up the name at once (new callers start a new
  // agent), closes every panel and quits once they are gone.
  void terminate();

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  struct OpenPanel {
    QLPreviewPanel* panel;
    QDBusMessage call; // answered when the panel closes
    QDBusConnection connection;
    std::FILE* messages;
  };

  void show(const QDBusMessage& message, const QDBusConnection& connection);
  void quit(const QDBusMessage& message, const QDBusConnection& connection);
  void panelClosed(QLPreviewPanel* panel);
  void leave(); // gives up the name and quits once no panel is left
  bool sameDesktop(const PanelAgentRequest& request, std::string& why) const;

  bool dark_;
  bool leaving_ = false;
  std::optional<QDBusConnection> bus_;
  std::atomic<int> callsWaiting_ = 0; // received on the bus's thread, not yet handled here
  SparePanel spare_;                  // made ahead, hidden, without documents
  std::map<QLPreviewPanel*, OpenPanel> panels_;
  std::shared_ptr<ExtensionProcessPool> processes_;
  QTimer idleTimer_;
};
