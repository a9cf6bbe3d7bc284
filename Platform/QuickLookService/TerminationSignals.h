// TerminationSignals: SIGTERM, SIGINT and SIGHUP as a call on the main thread, for a per-user
// service on the session bus. Asked to end, such a service first gives up its bus name: a
// process on its way out (tearing down a large address space takes a while) keeps its bus
// connection, and with it its name, until it is completely gone, and callers arriving meanwhile
// would be sent to it and answered with no reply. A second such signal ends the process at once;
// one the process was started ignoring stays ignored.
// At most one per process; made, used and destroyed on the main thread.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

class TerminationSignals : public QObject {
public:
  // `onSignal` runs on the main thread, once, for the first of these signals.
  explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
  ~TerminationSignals() override; // the signals' default actions again

  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
  std::function<void()> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
  bool signalled_ = false;
};
