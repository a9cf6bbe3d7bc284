#include "AppKit/DesktopAppearance.h"

#include "AppKit/PortalAppearanceWatcher.h"
#include "Foundation/ASCII.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <cstdlib>
#include <string>

namespace {

std::optional<bool> fromGtkTheme() {
  const char* theme = std::getenv("GTK_THEME");
  if (!theme || !*theme)
    return std::nullopt;
  const std::string name = ASCII::lowercased(theme);
  const bool dark = name.find(":dark") != std::string::npos ||
                    (name.size() >= 5 && name.compare(name.size() - 5, 5, "-dark") == 0);
  return dark;
}

// org.freedesktop.appearance color-scheme: 0 no preference, 1 dark, 2 light.
std::optional<bool> fromPortal() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!address || !*address)
    return std::nullopt;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return std::nullopt;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.portal.Desktop"),
      QStringLiteral("/org/freedesktop/portal/desktop"),
      QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
  call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
  const QDBusMessage reply = bus.call(call, QDBus::Block, 500);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
    return std::nullopt;
  QVariant value = reply.arguments().first();
  while (value.canConvert<QDBusVariant>())
    value = value.value<QDBusVariant>().variant();
  bool ok = false;
  const uint scheme = value.toUInt(&ok);
  if (!ok || scheme == 0)
    return std::nullopt;
  return scheme == 1;
}

QPalette darkPalette() {
  QPalette p;
  const QColor window(0x2b, 0x2b, 0x2d);
  const QColor base(0x1f, 0x1f, 0x21);
  const QColor text(0xf2, 0xf2, 0xf2);
  const QColor button(0x3c, 0x3c, 0x3f);
  const QColor disabled(0x7f, 0x7f, 0x82);
  const QColor highlight(0x2f, 0x6f, 0xd6);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, button);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, disabled);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, button);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, Qt::white);
  p.setColor(QPalette::Light, button.lighter(130));
  p.setColor(QPalette::Midlight, button.lighter(115));
  p.setColor(QPalette::Mid, button.darker(120));
  p.setColor(QPalette::Dark, button.darker(150));
  p.setColor(QPalette::Shadow, Qt::black);
  p.setColor(QPalette::Highlight, highlight);
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, QColor(0x6c, 0xa8, 0xff));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, disabled);
  p.setColor(QPalette::Disabled, QPalette::Button, window);
  return p;
}

bool paletteIsDark(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() < 128;
}

} // namespace

namespace DesktopAppearance {

std::optional<bool> prefersDark() {
  if (std::optional<bool> portal = fromPortal())
    return portal;
  return fromGtkTheme();
}

void applyPreference(std::optional<bool> dark) {
  // The palette the platform theme gave, kept to return to from our dark one.
  static const QPalette desktopPalette = QApplication::palette();
  static bool ours = false;
  if (!dark || *dark == paletteIsDark(desktopPalette)) {
    if (ours)
      QApplication::setPalette(desktopPalette);
    ours = false;
    return;
  }
  if (!ours)
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
      QApplication::setStyle(fusion);
  QApplication::setPalette(*dark ? darkPalette() : QApplication::style()->standardPalette());
  ours = true;
}

void apply() {
  applyPreference(prefersDark());
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address && QDBusConnection::sessionBus().isConnected()) {
    // Lives as long as the application; the desktop may switch themes at any time.
    static PortalAppearanceWatcher* watcher = new PortalAppearanceWatcher(
        [](std::optional<bool> dark) { applyPreference(dark ? dark : fromGtkTheme()); });
    (void)watcher;
  }
}

} // namespace DesktopAppearance
