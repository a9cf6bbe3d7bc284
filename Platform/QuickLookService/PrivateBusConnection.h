// PrivateBusConnection: a session-bus connection of one's own, opened for one call and closed
// after it, so that calls from any thread (and before or without an application object) never
// share state with other users of the bus.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <atomic>
#include <optional>

class PrivateBusConnection {
public:
  // `prefix` names the connection; a process-wide counter makes each name unique.
  explicit PrivateBusConnection(const char* prefix) {
    static std::atomic<int> counter = 0;
    name_ = QStringLiteral("%1-%2").arg(QLatin1String(prefix)).arg(counter++);
    bus_.emplace(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_));
  }
  ~PrivateBusConnection() {
    bus_.reset();
    QDBusConnection::disconnectFromBus(name_);
  }
  PrivateBusConnection(const PrivateBusConnection&) = delete;
  PrivateBusConnection& operator=(const PrivateBusConnection&) = delete;

  QDBusConnection& bus() { return *bus_; }

private:
  QString name_;
  std::optional<QDBusConnection> bus_;
};
