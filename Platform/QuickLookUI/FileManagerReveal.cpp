#include "QuickLookUI/FileManagerReveal.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace FileManagerReveal {
namespace {

constexpr char kService[] = "org.freedesktop.FileManager1";
constexpr int kTimeoutMs = 3000;

bool showItems(const QString& path) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return false;
  // A file manager may be started on demand for the call, so an activatable name counts too.
  QDBusConnectionInterface* names = bus.interface();
  if (!names)
    return false;
  const QStringList activatable = names->activatableServiceNames();
  if (!names->isServiceRegistered(QLatin1String(kService)) &&
      !activatable.contains(QLatin1String(kService)))
    return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QLatin1String(kService), QStringLiteral("/org/freedesktop/FileManager1"),
      QLatin1String(kService), QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
  const QDBusMessage answer = bus.call(call, QDBus::Block, kTimeoutMs);
  return answer.type() == QDBusMessage::ReplyMessage;
}

} // namespace

bool reveal(const QString& path) {
  if (showItems(path))
    return true;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

} // namespace FileManagerReveal
