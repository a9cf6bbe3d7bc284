// quitWhenBusCloses: a per-user service started by the session bus can never be reached again
// once that bus is gone (the session ended, or a test's private bus was torn down), so it leaves
// then instead of waiting out its idle time.
#pragma once

#include <QCoreApplication>
#include <QDBusConnection>

// Makes the running application quit when `bus` reports that it was disconnected.
inline bool quitWhenBusCloses(QDBusConnection& bus) {
  return bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                     QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"),
                     QCoreApplication::instance(), SLOT(quit()));
}
