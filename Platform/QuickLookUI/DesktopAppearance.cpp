#include "QuickLookUI/DesktopAppearance.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QPalette>
#include <optional>

namespace DesktopAppearance {
namespace {

std::optional<bool> fromGTKTheme() {
  const QString theme = qEnvironmentVariable("GTK_THEME").toLower();
  if (theme.isEmpty())
    return std::nullopt;
  return theme.endsWith(QLatin1String(":dark")) || theme.endsWith(QLatin1String("-dark"));
}

// The portal answers 1 for "prefer dark", 2 for "prefer light", 0 for no preference.
std::optional<bool> fromPortal() {
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
    return std::nullopt;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return std::nullopt;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.portal.Desktop"),
      QStringLiteral("/org/freedesktop/portal/desktop"),
      QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
  call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
  QDBusReply<QDBusVariant> reply = bus.call(call, QDBus::Block, 300);
  if (!reply.isValid())
    return std::nullopt;
  // Read wraps the value in one more variant.
  QVariant value = reply.value().variant();
  if (value.canConvert<QDBusVariant>())
    value = value.value<QDBusVariant>().variant();
  bool ok = false;
  const uint scheme = value.toUInt(&ok);
  if (!ok || scheme == 0)
    return std::nullopt;
  return scheme == 1;
}

} // namespace

bool prefersDark() {
  if (auto dark = fromGTKTheme())
    return *dark;
  if (auto dark = fromPortal())
    return *dark;
  return QApplication::palette().color(QPalette::Window).lightness() < 128;
}

} // namespace DesktopAppearance
