#include "AppKit/PortalAppearanceWatcher.h"

#include <QDBusConnection>

PortalAppearanceWatcher::PortalAppearanceWatcher(std::function<void(std::optional<bool>)> onChange)
    : onChange_(std::move(onChange)) {
  listening_ = QDBusConnection::sessionBus().connect(
      QStringLiteral("org.freedesktop.portal.Desktop"),
      QStringLiteral("/org/freedesktop/portal/desktop"),
      QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"), this,
      SLOT(settingChanged(QString, QString, QDBusVariant)));
}

void PortalAppearanceWatcher::settingChanged(const QString& group, const QString& key,
                                             const QDBusVariant& value) {
  if (group != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme"))
    return;
  bool ok = false;
  const uint scheme = value.variant().toUInt(&ok);
  if (!ok || scheme == 0)
    onChange_(std::nullopt);
  else
    onChange_(scheme == 1);
}
